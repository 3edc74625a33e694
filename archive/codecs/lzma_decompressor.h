// ALLzmaDecompressor: ZIP members of method 14 (LZMA, engine type 114),
// named "LZMA", decoded by the LZMA SDK's LzmaDec.
//
// A member's data: LZMA SDK version (2 bytes), properties size (2 bytes,
// little-endian, 5), the 5 properties bytes (lc/lp/pb, dictionary size),
// then the range-coded stream, with or without an end marker (flag bit 1).
// Both forms are read whatever the flag says: the data end at the marker or
// at the member's declared size.
//
// Clone(type): -1 and 114 give an ALLzmaDecompressor, every other type none.
//
// Memory: the dictionary is the header's, cut to the member's declared size
// (output_limit; never below the SDK's 4096 bytes), plus the probability
// tables that lc and lp ask for; all of it counted against
// kDecoderMemoryCap, and a member that needs more is refused before
// anything is allocated.
//
// Failures of the data are recorded on the output storage as
// AL_INVALID_ARCHIVE (see archive/codecs/decoder_io.h): a damaged or cut
// header or stream, a need beyond the cap, data that end before the
// declared size or run past it. Nothing past the declared size is written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/engine.h"

class ALLzmaDecompressor : public ALDecompressor {
public:
    ALLzmaDecompressor();

    ALDecompressor* Clone(int32_t engine_type) const override;
    int32_t Decompress(ALStorage& input, ALStorage& output, int32_t compressed_length) override;

    // The most memory the last Decompress held at once (bytes).
    uint32_t memory_peak = 0;
    // What decoding a member will hold, from the first bytes of its data
    // and its declared size: kDecoderMemoryCap when they do not tell.
    static uint64_t MemoryFor(const uint8_t* head, size_t count, uint64_t member_size);
};
