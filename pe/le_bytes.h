// Little-endian reads and writes on byte vectors, byte by byte. Reads
// refuse to leave the buffer; writes grow it as needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const std::vector<uint8_t>& bytes) : ByteReader(bytes.data(), bytes.size()) {}

    size_t size() const { return size_; }
    bool Has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }
    bool U8(uint64_t at, uint8_t& value) const {
        if (!Has(at, 1)) return false;
        value = data_[at];
        return true;
    }
    bool U16(uint64_t at, uint16_t& value) const {
        if (!Has(at, 2)) return false;
        value = static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8));
        return true;
    }
    bool U32(uint64_t at, uint32_t& value) const {
        if (!Has(at, 4)) return false;
        value = static_cast<uint32_t>(data_[at]) | (static_cast<uint32_t>(data_[at + 1]) << 8) |
                (static_cast<uint32_t>(data_[at + 2]) << 16) |
                (static_cast<uint32_t>(data_[at + 3]) << 24);
        return true;
    }
    // count bytes from at; false (out untouched) when they are not all there.
    bool Copy(uint64_t at, uint64_t count, std::vector<uint8_t>& out) const {
        if (!Has(at, count)) return false;
        out.assign(data_ + at, data_ + at + count);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

inline void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    if (bytes.size() < at + 2) bytes.resize(at + 2, 0);
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    if (bytes.size() < at + 4) bytes.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void Append16(std::vector<uint8_t>& bytes, uint16_t value) { Put16(bytes, bytes.size(), value); }
inline void Append32(std::vector<uint8_t>& bytes, uint32_t value) { Put32(bytes, bytes.size(), value); }

// Zero bytes up to the next multiple of alignment (a power of two).
inline void PadTo(std::vector<uint8_t>& bytes, size_t alignment) {
    bytes.resize((bytes.size() + alignment - 1) & ~(alignment - 1), 0);
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}
