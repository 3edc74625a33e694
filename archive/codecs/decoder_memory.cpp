#include "archive/codecs/decoder_memory.h"

#include <cstdlib>

namespace {

// Each block carries its size in front, aligned for any type.
constexpr size_t kHeader = 16;

}  // namespace

void* DecoderMemory::Allocate(size_t size) {
    if (size > cap_ || in_use_ > cap_ - size) return nullptr;
    auto* block = static_cast<unsigned char*>(malloc(size + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    in_use_ += static_cast<uint32_t>(size);
    if (in_use_ > peak_) peak_ = in_use_;
    return block + kHeader;
}

void DecoderMemory::Free(void* address) {
    if (!address) return;
    unsigned char* block = static_cast<unsigned char*>(address) - kHeader;
    in_use_ -= static_cast<uint32_t>(*reinterpret_cast<size_t*>(block));
    free(block);
}
