#include "archive/decompressors.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "archive/codecs/decoder_io.h"
#include "archive/storage.h"

namespace {

using decoder_io::AdoptFailure;
using decoder_io::CompressedInput;
using decoder_io::OutputBudget;
using decoder_io::StoragePair;

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

// Inflates until the stream ends, fails, runs out of input or the output
// fails. Every output run goes straight from zlib into the output buffer
// and is flushed from there (its CRC taken on the way).
void InflateLoop(z_stream& stream, CompressedInput& compressed, ALStorage& output,
                 OutputBudget& budget) {
    bool input_done = false;
    for (;;) {
        if (stream.avail_in == 0 && !input_done) {
            input_done = !compressed.Take();
            // zlib takes the whole run.
            stream.next_in = const_cast<Bytef*>(compressed.data);
            stream.avail_in = compressed.available;
            compressed.Consume(compressed.available);
        }
        const uInt space = budget.Space(output);
        stream.next_out = output.buffer;
        stream.avail_out = space;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (!budget.Deliver(output, space - stream.avail_out)) return;
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
        CompressedInput compressed(input, compressed_length);
        InflateLoop(stream, compressed, output, budget);
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
