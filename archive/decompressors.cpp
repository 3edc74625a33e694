#include "archive/decompressors.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "archive/storage.h"

namespace {

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

// The storages a Decompress call works on: those handed over without a
// buffer are opened here (input: Open, output: Create) and closed again when
// the call ends, the output first.
class StoragePair {
public:
    StoragePair(ALStorage& input, ALStorage& output) : input_(input), output_(output) {
        if (!input_.buffer) {
            input_.Open();
            close_input_ = true;
        }
        if (!output_.buffer) {
            output_.Create(-1);
            close_output_ = true;
        }
    }
    ~StoragePair() {
        if (close_output_) output_.Close();
        if (close_input_) input_.Close();
    }
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
int32_t AdoptFailure(ALStatusBlock& engine, const ALStorage& input, const ALStorage& output) {
    if (input.status.GetStatusCode() < 0) {
        engine.SetStatusFrom(input.status);
    } else if (output.status.GetStatusCode() < 0) {
        engine.SetStatusFrom(output.status);
    }
    return engine.GetStatusCode();
}

// How many more bytes an engine may still write under its output limit.
class OutputBudget {
public:
    explicit OutputBudget(int64_t limit) : limit_(limit) {}
    bool Limited() const { return limit_ >= 0; }
    int64_t Left() const { return limit_ - written_; }
    void Count(int32_t n) { written_ += n; }
    // Records the overrun on output (so that it stops taking data).
    void Fail(ALStorage& output) const {
        output.status.SetError(AL_INVALID_ARCHIVE,
                               L"Decoded data of %s exceed the declared size of %lu bytes",
                               output.GetName(), static_cast<uint32_t>(limit_));
    }

private:
    int64_t limit_;
    int64_t written_ = 0;
};

// Output space for one inflate call: the whole buffer, or one byte more
// than the budget allows, so that an overrun shows without being written.
uInt OutputSpace(const ALStorage& output, const OutputBudget& budget) {
    int64_t space = output.buffer_size;
    if (budget.Limited() && budget.Left() + 1 < space) space = budget.Left() + 1;
    return static_cast<uInt>(space);
}

// Hands the next run of input bytes to the stream: what is still unread in
// the input buffer, else a freshly loaded buffer, cut to the compressed
// bytes left. False when there is nothing more (end of data, a failure, or
// the compressed length used up).
bool FeedInput(z_stream& stream, ALStorage& input, uint32_t& compressed_left) {
    if (compressed_left == 0) return false;
    int32_t available = input.read_limit - input.read_index;
    if (available <= 0) {
        if (input.LoadBuffer(input.file_position) < 0) return false;
        available = input.read_limit - input.read_index;
        if (available <= 0) return false;
    }
    uint32_t chunk = static_cast<uint32_t>(available);
    if (chunk > compressed_left) chunk = compressed_left;
    compressed_left -= chunk;
    stream.next_in = input.buffer + input.read_index;
    stream.avail_in = static_cast<uInt>(chunk);
    input.read_index += static_cast<int32_t>(chunk);
    return true;
}

// Inflates until the stream ends, fails, runs out of input or the output
// fails. Every output run goes straight from zlib into the output buffer
// and is flushed from there (its CRC taken on the way).
void InflateLoop(z_stream& stream, ALStorage& input, ALStorage& output,
                 uint32_t compressed_left, OutputBudget& budget) {
    bool input_done = false;
    for (;;) {
        if (stream.avail_in == 0 && !input_done) {
            input_done = !FeedInput(stream, input, compressed_left);
        }
        const uInt space = OutputSpace(output, budget);
        stream.next_out = output.buffer;
        stream.avail_out = space;
        const int result = inflate(&stream, Z_NO_FLUSH);
        const int32_t produced = static_cast<int32_t>(space - stream.avail_out);
        if (produced > 0) {
            if (budget.Limited() && produced > budget.Left()) {
                budget.Fail(output);
                return;
            }
            output.write_index = produced;
            if (output.FlushBuffer() < 0) return;
            budget.Count(produced);
        }
        if (result != Z_OK && result != Z_BUF_ERROR) return;  // stream end or damage
        // A call that consumed the last input and filled no whole buffer
        // has nothing more to give: the stream is truncated.
        if (input_done && stream.avail_in == 0 && stream.avail_out != 0) return;
    }
}

}  // namespace

// --- ALPkDecompressor ---------------------------------------------------------

ALPkDecompressor::ALPkDecompressor(int32_t option)
    : ALDecompressor(AL_ENGINE_ZIP_DEFLATE, "Inflate"), deflate_option(option) {}

ALDecompressor* ALPkDecompressor::Clone(int32_t engine_type) const {
    switch (engine_type) {
        case AL_ENGINE_DEFAULT:
            return new (std::nothrow) ALPkDecompressor(0);
        case AL_ENGINE_COPY:
        case AL_ENGINE_ZIP_STORED:
            return new (std::nothrow) ALCopyDecompressor();
        case AL_ENGINE_ZIP_DEFLATE:
        case AL_ENGINE_ZIP_DEFLATE + 1:
        case AL_ENGINE_ZIP_DEFLATE + 2:
        case AL_ENGINE_ZIP_DEFLATE + 3:
            return new (std::nothrow) ALPkDecompressor(engine_type - AL_ENGINE_ZIP_DEFLATE);
        default:
            return nullptr;
    }
}

int32_t ALPkDecompressor::Decompress(ALStorage& input, ALStorage& output,
                                     int32_t compressed_length) {
    StoragePair storages(input, output);
    if (AdoptFailure(status, input, output) < 0) return status.GetStatusCode();
    output.StartCrc32(kCrcStart);
    output.FlushBuffer();  // zlib writes from the start of an empty buffer
    z_stream stream;
    memset(&stream, 0, sizeof(stream));
    // Raw deflate data (no zlib header or trailer), 32 KB window. A stream
    // that cannot start decodes nothing, which the caller's CRC check sees.
    if (inflateInit2(&stream, -MAX_WBITS) == Z_OK) {
        OutputBudget budget(output_limit);
        InflateLoop(stream, input, output, static_cast<uint32_t>(compressed_length), budget);
        inflateEnd(&stream);
    }
    return AdoptFailure(status, input, output);
}

// --- ALCopyDecompressor -------------------------------------------------------

ALCopyDecompressor::ALCopyDecompressor() : ALDecompressor(AL_ENGINE_COPY, "Binary copy") {}

ALDecompressor* ALCopyDecompressor::Clone(int32_t engine_type) const {
    if (engine_type != AL_ENGINE_DEFAULT && engine_type != AL_ENGINE_COPY) return nullptr;
    return new (std::nothrow) ALCopyDecompressor();
}

// The byte-for-byte copy of ReadChar/WriteChar, done a buffer run at a time:
// each step moves what both buffers allow with one memcpy and calls
// LoadBuffer/FlushBuffer only at the buffers' ends.
int32_t ALCopyDecompressor::Decompress(ALStorage& input, ALStorage& output,
                                       int32_t compressed_length) {
    StoragePair storages(input, output);
    if (AdoptFailure(status, input, output) < 0) return status.GetStatusCode();
    output.StartCrc32(kCrcStart);
    OutputBudget budget(output_limit);
    uint32_t left = static_cast<uint32_t>(compressed_length);
    while (left > 0) {
        const int32_t available = input.read_limit - input.read_index;
        if (available <= 0) {
            if (input.LoadBuffer(input.file_position) < 0) break;
            continue;
        }
        if (output.write_index >= output.buffer_size) {
            if (output.FlushBuffer() < 0 || output.write_index >= output.buffer_size) break;
            continue;
        }
        int64_t n = output.buffer_size - output.write_index;
        if (available < n) n = available;
        if (left < n) n = left;
        if (budget.Limited() && n > budget.Left()) {
            if (budget.Left() == 0) {
                budget.Fail(output);
                break;
            }
            n = budget.Left();
        }
        memcpy(output.buffer + output.write_index, input.buffer + input.read_index,
               static_cast<size_t>(n));
        output.write_index += static_cast<int32_t>(n);
        input.read_index += static_cast<int32_t>(n);
        left -= static_cast<uint32_t>(n);
        budget.Count(static_cast<int32_t>(n));
    }
    return AdoptFailure(status, input, output);
}
