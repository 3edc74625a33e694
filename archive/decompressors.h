// The decompressors of ZIP members:
//   ALPkDecompressor    raw inflate through zlib ("Inflate", engine type 108)
//   ALCopyDecompressor  stored data, a plain copy ("Binary copy", type 0)
//
// Clone(engine type):
//   requested    ALPkDecompressor yields       ALCopyDecompressor yields
//   -1           ALPkDecompressor, option 0    ALCopyDecompressor
//   0, 100       ALCopyDecompressor            0: ALCopyDecompressor, 100: none
//   108..111     ALPkDecompressor, option 0..3 none
//   other        none                          none
// So a prototype set holding an ALPkDecompressor serves stored and deflated
// ZIP members alike.
//
// Both move data between the storages' own buffers: inflate reads straight
// from the input buffer and writes straight into the output buffer, the copy
// moves whole buffer runs; the output's CRC-32 is taken as each buffer is
// flushed. Neither writes more than output_limit bytes (see ALDecompressor).
#pragma once

#include <cstdint>

#include "archive/engine.h"

class ALPkDecompressor : public ALDecompressor {
public:
    // option: the two-bit deflate option (flag bits 1-2) the member was
    // written with; inflating does not depend on it.
    explicit ALPkDecompressor(int32_t option = 0);

    ALDecompressor* Clone(int32_t engine_type) const override;
    // Inflates a raw deflate stream of at most compressed_length bytes
    // (-1: no limit). A damaged or truncated stream ends the work early;
    // it shows as a CRC mismatch to the caller, not as a status here.
    int32_t Decompress(ALStorage& input, ALStorage& output, int32_t compressed_length) override;

    int32_t deflate_option;
};

class ALCopyDecompressor : public ALDecompressor {
public:
    ALCopyDecompressor();

    ALDecompressor* Clone(int32_t engine_type) const override;
    // Copies compressed_length bytes (taken as unsigned: -1 copies to the
    // end of the input), fewer when the input ends or fails first.
    int32_t Decompress(ALStorage& input, ALStorage& output, int32_t compressed_length) override;
};
