// ALZstdCompressor: ZIP method 93 (Zstandard) through libzstd, following
// the engine contract of archive/engine.h and the Compress steps written
// down in archive/compressors.h.
//
// The member data of a method-93 entry is one standard Zstandard frame
// that records the content size (a reader sizes its window by it: a frame
// no longer than its window is one segment) and ends with the content
// checksum (XXH64), which the zstd program and 7-Zip check as well.
//
// The bytes depend only on the input and the settings: no worker threads,
// every parameter that libzstd would otherwise choose by the machine (the
// row-based match finder, which it picks by the processor's vector
// instructions) set explicitly, the window shrunk for small inputs by the
// input's size alone.
#pragma once

#include <cstdint>

#include "archive/engine.h"

class ALZstdCompressor : public ALCompressor {
public:
    static constexpr uint16_t kZipVersionNeeded = 63;
    // The largest window a level asks for: what a reader must be able to
    // hold for an entry of at least that size (32 MiB).
    static constexpr int32_t kMaxWindowLog = 25;

    // Levels 1..9 (anything else: level 6). See the table at LevelFor.
    explicit ALZstdCompressor(int32_t level = 6);

    // The Zstandard level and window log (log2 of the window size) of
    // levels 1..9 (anything else: those of level 6):
    //   level          1   2   3   4   5   6   7   8   9
    //   zstd level     1   3   5   9  12  17  19  20  22
    //   window log    19  21  21  22  22  23  23  25  25
    // The window is that of the zstd level, at most 2^kMaxWindowLog; a
    // reader needs the window (at most the entry's size) plus about
    // 200 KiB of buffers and tables.
    static int32_t LevelFor(int32_t level);
    static int32_t WindowLogFor(int32_t level);

    // -1, 193: a new ALZstdCompressor with these settings; 0 or 100: a new
    // ALCopyCompressor; anything else: null.
    ALCompressor* Clone(int32_t engine_type) const override;
    // Compresses input into output as one frame. -1998 when libzstd refuses
    // the settings or runs out of memory
    // ("Error creating Zstandard engine. libzstd returned %d\n", its error code).
    int32_t Compress(ALStorage& input, ALStorage& output) override;

    int32_t zstd_level;
    int32_t window_log;

private:
    // Runs the frame over the two prepared storages.
    int32_t Encode(ALStorage& input, ALStorage& output);
};
