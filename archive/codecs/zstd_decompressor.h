// ALZstdDecompressor: ZIP members of method 93 (Zstandard, engine type 193),
// named "Zstandard", decoded by libzstd's streaming decoder.
//
// A member's data are Zstandard frames (skippable frames allowed); each
// frame's content checksum, when it has one, is checked.
//
// Clone(type): -1 and 193 give an ALZstdDecompressor, every other type none.
//
// Memory: a frame's window is cut to the bytes the member may still
// produce (output_limit; the frame header's window descriptor is lowered
// before the decoder sees it), and the decoder's context, window and
// buffers are counted against kDecoderMemoryCap; a frame that needs more,
// or whose declared content is larger than the member, is refused before
// anything is allocated for it.
//
// Failures of the data are recorded on the output storage as
// AL_INVALID_ARCHIVE (see archive/codecs/decoder_io.h): a damaged or cut
// frame, a wrong content checksum, a need beyond the cap, data that end
// before the declared size or run past it. Nothing past the declared size
// is written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/engine.h"

class ALZstdDecompressor : public ALDecompressor {
public:
    ALZstdDecompressor();

    ALDecompressor* Clone(int32_t engine_type) const override;
    int32_t Decompress(ALStorage& input, ALStorage& output, int32_t compressed_length) override;

    // The most memory the last Decompress held at once (bytes).
    uint32_t memory_peak = 0;
    // What decoding a member will hold, from the first bytes of its data
    // and its declared size: its first frame's window, cut to that size,
    // and the decoder's context and buffers; for data that do not begin
    // with a frame header, the declared size. At most kDecoderMemoryCap.
    static uint64_t MemoryFor(const uint8_t* head, size_t count, uint64_t member_size);
};
