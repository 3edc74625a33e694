// The message digests Authenticode signatures record (FIPS 180-4): SHA-1,
// SHA-256, SHA-384 and SHA-512, fed in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class DigestAlgorithm { kSha1, kSha256, kSha384, kSha512 };

class Digest {
public:
    explicit Digest(DigestAlgorithm algorithm);
    void Add(const uint8_t* data, size_t size);
    // The digest of everything added (20, 32, 48 or 64 bytes); the object
    // is spent afterwards.
    std::vector<uint8_t> Finish();

private:
    void Block(const uint8_t* block);
    void Block32(const uint8_t* block);  // SHA-256
    void Block64(const uint8_t* block);  // SHA-384, SHA-512
    void BlockSha1(const uint8_t* block);

    DigestAlgorithm algorithm_;
    size_t block_size_;
    uint64_t state_[8];
    uint8_t buffer_[128];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};
