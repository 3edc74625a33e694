// SHA-256 (FIPS 180-4), fed in pieces of any size: the digest Authenticode
// signatures record for the signed bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // The 32-byte digest of everything added; the object is spent afterwards.
    std::vector<uint8_t> Finish();

private:
    void Block(const uint8_t* block);

    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};
