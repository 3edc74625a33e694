// What every decompressor does around its codec: opening the storages it
// was handed closed, adopting their failures, handing out the compressed
// bytes of one member run by run, and keeping the output to the member's
// declared size. Each engine's Decompress is then the codec's own loop.
#pragma once

#include <cstdint>

#include "archive/status.h"

class ALStorage;

namespace decoder_io {

// The storages of one Decompress call: those handed over without a buffer
// are opened here (input: Open, output: Create) and closed again when the
// call ends, the output first.
class StoragePair {
public:
    StoragePair(ALStorage& input, ALStorage& output);
    ~StoragePair();
    StoragePair(const StoragePair&) = delete;
    StoragePair& operator=(const StoragePair&) = delete;

private:
    ALStorage& input_;
    ALStorage& output_;
    bool close_input_ = false;
    bool close_output_ = false;
};

// Copies a failed storage's status into the engine; the input's failure
// takes precedence. Returns the engine's code.
int32_t AdoptFailure(ALStatusBlock& engine, const ALStorage& input, const ALStorage& output);

// The compressed bytes of one member, a run at a time, straight from the
// input storage's buffer: what is unread there, else a freshly loaded
// buffer, never more than the compressed length (-1: no limit). A run
// stays valid until the next Take.
class CompressedInput {
public:
    CompressedInput(ALStorage& input, int32_t compressed_length);
    // Makes the next run current when the current one is used up. False
    // when nothing is left (end of data, a read failure, the length used up).
    bool Take();
    // One byte through the runs; false at the end.
    bool ReadByte(uint8_t& byte);
    void Consume(uint32_t n) {
        data += n;
        available -= n;
    }
    const uint8_t* data = nullptr;
    uint32_t available = 0;

private:
    ALStorage& input_;
    uint32_t left_;
};

// How many more bytes an engine may still write under its output limit
// (see ALDecompressor::output_limit), and the failures of a member whose
// data decode to more or fewer bytes than it declares, or are damaged.
// Each failure is recorded on the output, so that it stops taking data and
// the caller sees the member fail with this detail.
class OutputBudget {
public:
    explicit OutputBudget(int64_t limit) : limit_(limit) {}
    bool Limited() const { return limit_ >= 0; }
    int64_t Limit() const { return limit_; }
    int64_t Left() const { return limit_ - written_; }
    int64_t Written() const { return written_; }
    void Count(int32_t n) { written_ += n; }
    // Output space for one codec call: the whole buffer, or one byte more
    // than the budget allows, so that an overrun shows without being written.
    uint32_t Space(const ALStorage& output) const;
    // Hands the codec's run of `produced` bytes at the start of output's
    // buffer to the output (flushed, its CRC taken). False when the run
    // passes the limit (nothing written then) or the output failed.
    bool Deliver(ALStorage& output, uint32_t produced);
    void Fail(ALStorage& output) const;
    void FailShort(ALStorage& output) const;

private:
    int64_t limit_;
    int64_t written_ = 0;
};

// Records AL_INVALID_ARCHIVE on output with "<codec> data of <name> <what>".
void FailDamaged(ALStorage& output, const wchar_t* codec, const wchar_t* what);

}  // namespace decoder_io
