// The memory of one decoding: every block a codec allocates comes from here,
// counted against a cap, so that no member can make the program take more
// than kDecoderMemoryCap, whatever its header claims. Decoders also check
// what a member will need against the cap before they allocate anything.
#pragma once

#include <cstddef>
#include <cstdint>

// The most one member's decoder may hold at once: its LZMA dictionary and
// probability tables, or its Zstandard window, buffers and context. 64 MiB,
// far below what a 32-bit process can address; a member needing more is
// refused as damaged.
constexpr uint32_t kDecoderMemoryCap = 64u << 20;

class DecoderMemory {
public:
    explicit DecoderMemory(uint32_t cap = kDecoderMemoryCap) : cap_(cap) {}
    // Null when the block would take the total past the cap, or the heap
    // has none.
    void* Allocate(size_t size);
    void Free(void* block);  // null is fine

    uint32_t Cap() const { return cap_; }
    // The most held at once so far, and what is held now.
    uint32_t Peak() const { return peak_; }
    uint32_t InUse() const { return in_use_; }

private:
    uint32_t cap_;
    uint32_t in_use_ = 0;
    uint32_t peak_ = 0;
};
