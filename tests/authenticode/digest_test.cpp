#include "tools/sea_build/image_writer/digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

std::string DigestOf(DigestAlgorithm algorithm, const std::string& message, size_t piece) {
    Digest digest(algorithm);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(message.data());
    for (size_t at = 0; at < message.size(); at += piece) {
        digest.Add(data + at, message.size() - at < piece ? message.size() - at : piece);
    }
    return Hex(digest.Finish());
}

struct Vector {
    DigestAlgorithm algorithm;
    size_t repeat;  // of "a"; 0: the message is "abc", 1: empty
    const char* expected;
};

// The known answers of FIPS 180-2's examples: "abc", the empty message
// and a million times "a".
const Vector kVectors[] = {
    {DigestAlgorithm::kSha1, 0, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {DigestAlgorithm::kSha1, 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {DigestAlgorithm::kSha1, 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {DigestAlgorithm::kSha256, 0, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {DigestAlgorithm::kSha256, 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {DigestAlgorithm::kSha256, 1000000,
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {DigestAlgorithm::kSha384, 0,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {DigestAlgorithm::kSha384, 1,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {DigestAlgorithm::kSha384, 1000000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {DigestAlgorithm::kSha512, 0,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feeb"
     "bd454d4423643ce80e2a9ac94fa54ca49f"},
    {DigestAlgorithm::kSha512, 1,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877e"
     "ec2f63b931bd47417a81a538327af927da3e"},
    {DigestAlgorithm::kSha512, 1000000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577"
     "c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

TEST(Digest, KnownAnswersWhateverThePiecesItIsFedIn) {
    for (const Vector& v : kVectors) {
        const std::string message =
            v.repeat == 0 ? "abc" : v.repeat == 1 ? std::string() : std::string(v.repeat, 'a');
        // Pieces that end inside, at and across the 64- and 128-byte blocks.
        for (size_t piece : {size_t{1}, size_t{3}, size_t{55}, size_t{64}, size_t{127},
                             size_t{4096}, message.size() + 1}) {
            if (v.repeat == 1000000 && piece < 55) continue;  // a million one-byte calls: slow
            EXPECT_EQ(DigestOf(v.algorithm, message, piece), v.expected)
                << "algorithm " << static_cast<int>(v.algorithm) << ", " << message.size()
                << " bytes in pieces of " << piece;
        }
    }
}

TEST(Digest, EveryLengthAroundTheBlockBoundaries) {
    // The digests of 0 to 299 times "x", concatenated and hashed with
    // SHA-256: lengths where the padding and the length field just fit
    // in the last block and where they need one more (values from
    // Python's hashlib).
    const struct {
        DigestAlgorithm algorithm;
        const char* expected;
    } kRuns[] = {
        {DigestAlgorithm::kSha1, "2dac3733a55d84e3fcac097417d88017d5c29ea054dc36e7a2f97f9867bc7f7e"},
        {DigestAlgorithm::kSha256, "3068c8c08e804c2be19cb16d8f13fb8cbdff841c789d00ce28ded624674b6d55"},
        {DigestAlgorithm::kSha384, "2607743e22c413355dc1b3d2aefc70bd7b190f7a501a2434cf55032bc7e32f3b"},
        {DigestAlgorithm::kSha512, "144aaccaf3c39172f86ce6e00f6bb86d9cd20a15829600cf93c2ee94d86a5308"},
    };
    for (const auto& run : kRuns) {
        Digest all(DigestAlgorithm::kSha256);
        for (size_t length = 0; length < 300; ++length) {
            Digest one(run.algorithm);
            const std::string message(length, 'x');
            one.Add(reinterpret_cast<const uint8_t*>(message.data()), message.size());
            const std::vector<uint8_t> value = one.Finish();
            all.Add(value.data(), value.size());
        }
        EXPECT_EQ(Hex(all.Finish()), run.expected) << static_cast<int>(run.algorithm);
    }
}

}  // namespace
