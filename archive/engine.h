// Engine base classes: an engine moves the data of one archive entry between
// two storage objects. Compressors read an input storage and write
// compressed data to an output storage; decompressors do the reverse.
//
// Virtual slots, in order:
//   0 destructor
//   1 SavePrivateData(archive storage)  - a 16-bit big-endian zero length
//   2 LoadPrivateData(archive storage)  - reads that length, returns the
//                                         storage's status code
//   3 Clone(engine type)                - ALCompressor / ALDecompressor
//   4 Compress(input, output) / Decompress(input, output, compressed length)
//
// Contract of every concrete engine:
// - Clone(type) returns a new engine of its own family configured for the
//   requested type, or null when the class does not serve that type; it
//   records nothing. Types: -1 the class's default, 0 plain copy, 100 ZIP
//   stored, 108..111 ZIP deflate with the deflate option 0..3, 114 ZIP
//   LZMA, 193 ZIP Zstandard.
// - Compress/Decompress return 0 or the negative code now also held in the
//   engine's status. A storage handed over without a buffer is opened
//   (input: Open, output: Create) and closed again at the end; a storage
//   that was open on entry stays open.
// - A storage that has already failed on entry makes the engine's status a
//   copy of that storage's status (SetStatusFrom) and nothing is moved.
// - Failures during the work are copied from the storages at the end, the
//   input's taking precedence over the output's.
#pragma once

#include <cstdint>

#include "archive/status.h"

class ALStorage;

// Engine types shared by compressors and decompressors.
constexpr int32_t AL_ENGINE_DEFAULT = -1;
constexpr int32_t AL_ENGINE_COPY = 0;
constexpr int32_t AL_ENGINE_ZIP_STORED = 100;
constexpr int32_t AL_ENGINE_ZIP_DEFLATE = 108;  // 108..111: + deflate option
constexpr int32_t AL_ENGINE_ZIP_LZMA = 114;     // 100 + method 14
constexpr int32_t AL_ENGINE_ZIP_ZSTD = 193;     // 100 + method 93

class ALEngine {
public:
    // name is a static text ("Binary copy", "Inflate", ...), never freed.
    ALEngine(int32_t engine_type, const char* name) : engine_type(engine_type), name(name) {}
    virtual ~ALEngine() = default;
    ALEngine(const ALEngine&) = delete;
    ALEngine& operator=(const ALEngine&) = delete;

    // Writes the engine's private data block: a 16-bit big-endian zero
    // (no private data). Returns archive's status code.
    virtual int32_t SavePrivateData(ALStorage& archive);
    // Reads and discards a 16-bit big-endian length. Returns archive's
    // status code.
    virtual int32_t LoadPrivateData(ALStorage& archive);

    int32_t engine_type;
    const char* name;
    ALStatusBlock status;
};

class ALCompressor : public ALEngine {
public:
    using ALEngine::ALEngine;

    virtual ALCompressor* Clone(int32_t engine_type) const = 0;
    virtual int32_t Compress(ALStorage& input, ALStorage& output) = 0;
};

class ALDecompressor : public ALEngine {
public:
    using ALEngine::ALEngine;

    virtual ALDecompressor* Clone(int32_t engine_type) const = 0;
    // Reads at most compressed_length bytes from input's current position
    // (-1: no limit) and writes the decoded bytes to output, leaving
    // output's CRC register holding the CRC of everything written.
    virtual int32_t Decompress(ALStorage& input, ALStorage& output,
                               int32_t compressed_length) = 0;

    // The most bytes Decompress may write (a member's declared size), or -1
    // for no limit. Decoded data beyond it are not written: the output
    // storage records AL_INVALID_ARCHIVE instead. Extract sets it per member.
    int64_t output_limit = -1;
};

// An engine that transforms buffer bytes in place: applied by a storage to
// the bytes it is about to write (EncryptBytes) and to the bytes it has just
// read (DecryptBytes), before the CRC is taken. No engine of this kind ships
// with the library; it is the hook for encrypted archive members.
class ALCryptoEngine : public ALEngine {
public:
    using ALEngine::ALEngine;

    virtual void EncryptBytes(uint8_t* bytes, int32_t count) = 0;  // slot 3
    virtual void DecryptBytes(uint8_t* bytes, int32_t count) = 0;  // slot 4
    virtual ALCryptoEngine* Clone(int32_t engine_type) const = 0;
};
