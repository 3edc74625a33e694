#include "tools/sea_build/image_writer/authenticode_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// One DER element with a definite length (short or long form).
Bytes Der(uint8_t tag, const Bytes& contents) {
    Bytes out{tag};
    const size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const Bytes kPeImageDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kMd5Oid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};

// The SpcIndirectDataContent's contents: the PE image data, then the
// digest algorithm and value.
Bytes IndirectContents(const Bytes& algorithm, const Bytes& value) {
    return Cat({Der(0x30, Cat({Der(0x06, kPeImageDataOid), Der(0x30, {})})),
                Der(0x30, Cat({Der(0x30, Cat({Der(0x06, algorithm), Der(0x05, {})})),
                               Der(0x04, value)}))});
}

// An Authenticode signature's skeleton as signers lay it out, without
// certificates and signer infos (which the digest reading skips).
Bytes Signature(const Bytes& algorithm, const Bytes& value, const Bytes& content_type = kIndirectDataOid) {
    const Bytes content_info =
        Der(0x30, Cat({Der(0x06, content_type),
                       Der(0xA0, Der(0x30, IndirectContents(algorithm, value)))}));
    const Bytes signed_data =
        Der(0x30, Cat({Der(0x02, {1}), Der(0x31, Der(0x30, Cat({Der(0x06, kSha256Oid)}))),
                       content_info, Der(0x31, Bytes(300, 0x55))}));
    return Der(0x30, Cat({Der(0x06, kSignedDataOid), Der(0xA0, signed_data)}));
}

Bytes DigestValue() {
    Bytes value;
    for (int i = 0; i < 32; ++i) value.push_back(static_cast<uint8_t>(0xA0 + i));
    return value;
}

TEST(SignedDigest, ReadsAlgorithmValueAndSignedContent) {
    SignedDigest digest;
    std::wstring error;
    ASSERT_TRUE(ReadSignedDigest(Signature(kSha256Oid, DigestValue()), digest, error)) << error;
    EXPECT_EQ(digest.algorithm, "SHA-256");
    EXPECT_TRUE(digest.known);
    EXPECT_EQ(digest.kind, DigestAlgorithm::kSha256);
    EXPECT_EQ(digest.value, DigestValue());
    EXPECT_EQ(digest.signed_content, IndirectContents(kSha256Oid, DigestValue()));

    ASSERT_TRUE(ReadSignedDigest(Signature(kMd5Oid, Bytes(16, 1)), digest, error));
    EXPECT_EQ(digest.algorithm, "MD5");
    EXPECT_FALSE(digest.known);
}

TEST(SignedDigest, RefusesWhatIsNoAuthenticodeSignature) {
    SignedDigest digest;
    std::wstring error;
    // Signed data of another content type (an e-mail, say).
    const Bytes data_oid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
    EXPECT_FALSE(ReadSignedDigest(Signature(kSha256Oid, DigestValue(), data_oid), digest, error));
    EXPECT_NE(error.find(L"SpcIndirectDataContent"), std::wstring::npos) << error;
    Bytes trailing = Signature(kSha256Oid, DigestValue());
    trailing.push_back(0);
    EXPECT_FALSE(ReadSignedDigest(trailing, digest, error)) << "bytes after the structure";
    EXPECT_FALSE(ReadSignedDigest({}, digest, error));
}

TEST(SignedDigest, EveryCutAndEveryInflatedLengthIsRefused) {
    const Bytes good = Signature(kSha256Oid, DigestValue());
    SignedDigest digest;
    std::wstring error;
    for (size_t size = 0; size < good.size(); ++size) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(ReadSignedDigest(cut, digest, error)) << "cut to " << size;
    }
    // Each length byte in turn claiming more than there is, an indefinite
    // length and a five-byte length: refused, nothing read out of bounds.
    for (size_t at = 1; at < good.size(); ++at) {
        for (uint8_t claim : {uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0x84}, uint8_t{0x85},
                              uint8_t{0xFF}}) {
            Bytes bad = good;
            if (bad[at] == claim) continue;
            bad[at] = claim;
            if (ReadSignedDigest(bad, digest, error)) {
                // A changed byte that is no length leaves a readable
                // structure: then the value must still lie inside it.
                EXPECT_LE(digest.value.size(), bad.size());
            }
        }
    }
}

TEST(CertificateTable, RoundTripAndWhatSignersNeverWrite) {
    const Bytes pkcs7 = Signature(kSha256Oid, DigestValue());
    const Bytes table = CertificateTableOf(pkcs7);
    EXPECT_EQ(table.size() % 8, 0u);
    EXPECT_EQ(table[0] | (table[1] << 8), static_cast<int>(table.size()));
    Bytes back;
    std::wstring error;
    ASSERT_TRUE(SignatureOfTable(table, back, error)) << error;
    EXPECT_EQ(back, pkcs7);

    Bytes padded = table;
    padded.back() = 1;  // a non-zero padding byte
    ASSERT_NE(table.size(), pkcs7.size() + 8) << "the test needs a signature that is padded";
    EXPECT_FALSE(SignatureOfTable(padded, back, error));

    Bytes longer = table;
    longer.insert(longer.end(), 8, 0);  // a whole 8 bytes more, the length grown
    longer[0] = static_cast<uint8_t>(longer.size());
    longer[1] = static_cast<uint8_t>(longer.size() >> 8);
    EXPECT_FALSE(SignatureOfTable(longer, back, error));
    EXPECT_NE(error.find(L"follow the signature"), std::wstring::npos) << error;

    Bytes revision = table;
    revision[5] = 0x01;
    EXPECT_FALSE(SignatureOfTable(revision, back, error));
    Bytes type = table;
    type[6] = 0x01;  // X.509 instead of PKCS#7
    EXPECT_FALSE(SignatureOfTable(type, back, error));
    Bytes short_length = table;
    short_length[0] = static_cast<uint8_t>(short_length[0] - 8);
    EXPECT_FALSE(SignatureOfTable(short_length, back, error));
    EXPECT_FALSE(SignatureOfTable(Bytes(table.begin(), table.begin() + 6), back, error));
}

}  // namespace
