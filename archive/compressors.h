// The compressors of the archive library: ALCopyCompressor (the ZIP stored
// method, a plain byte copy) and ALPkCompressor (raw deflate through zlib).
// Both follow the engine contract written down in archive/engine.h.
//
// Compress(input, output) in both classes:
//   1. an input without a buffer is opened (Open), an output without a
//      buffer is created (Create); only these are closed again at the end,
//      the output before the input;
//   2. a storage that has already failed makes the engine's status a copy of
//      its status (the input's first) and nothing is moved;
//   3. the input's CRC-32 register is started at 0xFFFFFFFF, so that after
//      the call GetCrc32 on the input yields the complemented CRC of every
//      byte read; the engine counts no sizes (Tell on the storages does);
//   4. afterwards a failure of the input, else one of the output, is copied
//      into the engine's status, which is the result.
#pragma once

#include <cstdint>

#include "archive/engine.h"

class ALStorage;

class ALCopyCompressor : public ALCompressor {
public:
    ALCopyCompressor();

    // Type -1 or 0: a new ALCopyCompressor; anything else: null.
    ALCopyCompressor* Clone(int32_t engine_type) const override;
    // Copies every byte of input to output.
    int32_t Compress(ALStorage& input, ALStorage& output) override;
};

class ALPkCompressor : public ALCompressor {
public:
    // The writers' defaults, which the default arguments stand for.
    static constexpr int32_t kDefaultLevel = 6;
    static constexpr int32_t kDefaultWindowBits = 15;
    static constexpr int32_t kDefaultMemoryLevel = 8;

    // The deflate option (bits 1-2 of the ZIP flag word), the name and the
    // level kept follow from level:
    //   0 -> option 0, "Stored", 0        1 -> option 2, "Deflate Fast", 1
    //   2..8 -> option 0, "Deflate Normal", level
    //   9 -> option 1, "Deflate Maximum", 9
    //   anything else -> option 0, "???", -1 (zlib's default level)
    // Window bits and memory level are kept unchanged.
    explicit ALPkCompressor(int32_t level = kDefaultLevel,
                            int32_t window_bits = kDefaultWindowBits,
                            int32_t memory_level = kDefaultMemoryLevel);

    // 0 or 100: a new ALCopyCompressor. -1 or 108..111: a new ALPkCompressor
    // with this engine's level, window bits and memory level and the deflate
    // option 0 (for -1 and 108) or type - 108. Anything else: null.
    ALCompressor* Clone(int32_t engine_type) const override;
    // Deflates input into output as one raw deflate stream (no zlib header
    // or trailer). zlib reads straight from the input's buffer and writes
    // straight into the output's buffer. -1998 when zlib refuses the
    // parameters ("Error creating deflate engine. ZLIB returned %d\n").
    int32_t Compress(ALStorage& input, ALStorage& output) override;

    int32_t deflate_option = 0;
    int32_t level = kDefaultLevel;
    int32_t window_bits = kDefaultWindowBits;
    int32_t memory_level = kDefaultMemoryLevel;

private:
    // Runs the deflate stream over the two prepared storages.
    int32_t Deflate(ALStorage& input, ALStorage& output);
};
