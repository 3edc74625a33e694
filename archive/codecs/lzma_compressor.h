// ALLzmaCompressor: ZIP method 14 (LZMA) through the LZMA SDK's encoder,
// following the engine contract of archive/engine.h and the Compress steps
// written down in archive/compressors.h.
//
// The member data of a method-14 entry:
//   2 bytes   LZMA SDK version that wrote it (major, minor)
//   2 bytes   size of the properties block, little-endian (5)
//   5 bytes   properties: lc + lp * 9 + pb * 45, then the dictionary size
//             as a 32-bit little-endian number
//   n bytes   the raw LZMA stream, ended by the end-of-stream marker
// The marker is written (and flag bit 1 of the entry says so, see
// kZipFlagEndMarker) because readers that hand the stream to liblzma
// without the entry's size (Python's zipfile, bsdtar) rely on it.
//
// The bytes depend only on the input and the settings: one encoder thread,
// no multithreaded match finder, the dictionary shrunk for small inputs by
// the input's size alone (to the next 2^n or 3 * 2^n bytes, 64 KiB at
// least), so builders on every system and word size write the same bytes.
#pragma once

#include <cstdint>

#include "archive/engine.h"

// One set of encoder settings.
struct ALLzmaSettings {
    uint32_t dictionary_size;  // bytes; an entry shorter than this gets less
    int32_t lc, lp, pb;        // literal context / position bits, position bits
    int32_t fast_bytes;        // 5..273
    bool binary_tree;          // match finder: binary tree (bt4) or hash chain (hc4)
    bool normal_mode;          // optimal parsing; false: the fast mode
    uint32_t match_cycles;     // 0: the encoder's default for the mode
};

class ALLzmaCompressor : public ALCompressor {
public:
    // Flag bit 1 of an LZMA entry: the stream ends with the end marker.
    static constexpr uint16_t kZipFlagEndMarker = 0x0002;
    static constexpr uint16_t kZipVersionNeeded = 63;
    // The largest dictionary a level asks for: what a reader must be able
    // to hold for an entry of at least that size.
    static constexpr uint32_t kMaxDictionarySize = uint32_t{32} << 20;

    // Levels 1..9 (anything else: level 6). See SettingsForLevel.
    explicit ALLzmaCompressor(int32_t level = 6);

    // The settings of levels 1..9 (anything else: those of level 6):
    //   level  dictionary  mode    match finder  fast bytes  lc/lp/pb
    //   1      256 KiB     fast    hc4           32          3/0/2
    //   2      1 MiB       fast    hc4           32          3/0/2
    //   3      4 MiB       fast    hc4           32          3/0/2
    //   4      4 MiB       normal  bt4           32          3/0/2
    //   5      8 MiB       normal  bt4           32          3/0/2
    //   6      16 MiB      normal  bt4           32          3/0/2
    //   7      16 MiB      normal  bt4           64          3/0/2
    //   8      32 MiB      normal  bt4           64          3/0/2
    //   9      32 MiB      normal  bt4           273         3/0/2
    // Level 6 is 7-Zip's -mx=5 for LZMA. A reader needs the dictionary, at
    // most the entry's size, plus about 30 KiB of model state.
    static ALLzmaSettings SettingsForLevel(int32_t level);

    // -1, 114: a new ALLzmaCompressor with these settings; 0 or 100: a new
    // ALCopyCompressor; anything else: null.
    ALCompressor* Clone(int32_t engine_type) const override;
    // Encodes input into output as described above. -1998 when the encoder
    // refuses the settings or runs out of memory
    // ("Error creating LZMA engine. The LZMA SDK returned %d\n").
    int32_t Compress(ALStorage& input, ALStorage& output) override;

    ALLzmaSettings settings;
};
