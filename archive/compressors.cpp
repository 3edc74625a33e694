#include "archive/compressors.h"

#include <zlib.h>

#include <new>

#include "archive/codecs/compress_frame.h"
#include "archive/storage.h"

namespace {

struct LevelSetting {
    int32_t option;
    const char* name;
    int32_t level;
};

LevelSetting SettingForLevel(int32_t level) {
    if (level == 0) return {0, "Stored", 0};
    if (level == 1) return {2, "Deflate Fast", 1};
    if (level >= 2 && level <= 8) return {0, "Deflate Normal", level};
    if (level == 9) return {1, "Deflate Maximum", 9};
    return {0, "???", Z_DEFAULT_COMPRESSION};
}

}  // namespace

// --- ALCopyCompressor -------------------------------------------------------

ALCopyCompressor::ALCopyCompressor() : ALCompressor(AL_ENGINE_COPY, "Binary copy") {}

ALCopyCompressor* ALCopyCompressor::Clone(int32_t type) const {
    if (type != AL_ENGINE_DEFAULT && type != AL_ENGINE_COPY) return nullptr;
    return new (std::nothrow) ALCopyCompressor();
}

int32_t ALCopyCompressor::Compress(ALStorage& input, ALStorage& output) {
    CompressFrame frame(input, output);
    if (!frame.Healthy(status)) return frame.Finish(status);
    input.StartCrc32(0xFFFFFFFFu);
    // Whole buffers at a time: every byte that reaches the input's buffer
    // goes to the output in order, until the input reports the end of its
    // data or a failure. A failed output ends the copy as well.
    for (;;) {
        if (input.read_index >= input.read_limit && input.LoadBuffer(input.file_position) < 0) break;
        const int32_t available = input.read_limit - input.read_index;
        const int32_t accepted = output.WriteBuffer(input.buffer + input.read_index, available);
        input.read_index = input.read_limit;
        if (accepted != available) break;
    }
    return frame.Finish(status);
}

// --- ALPkCompressor ---------------------------------------------------------

ALPkCompressor::ALPkCompressor(int32_t level, int32_t window_bits, int32_t memory_level)
    : ALCompressor(AL_ENGINE_ZIP_DEFLATE, "???"),
      window_bits(window_bits),
      memory_level(memory_level) {
    const LevelSetting setting = SettingForLevel(level);
    deflate_option = setting.option;
    name = setting.name;
    this->level = setting.level;
}

ALCompressor* ALPkCompressor::Clone(int32_t type) const {
    if (type == AL_ENGINE_COPY || type == AL_ENGINE_ZIP_STORED) {
        return new (std::nothrow) ALCopyCompressor();
    }
    int32_t option;
    if (type == AL_ENGINE_DEFAULT) {
        option = 0;
    } else if (type >= AL_ENGINE_ZIP_DEFLATE && type <= AL_ENGINE_ZIP_DEFLATE + 3) {
        option = type - AL_ENGINE_ZIP_DEFLATE;
    } else {
        return nullptr;
    }
    ALPkCompressor* clone = new (std::nothrow) ALPkCompressor(level, window_bits, memory_level);
    if (clone) clone->deflate_option = option;
    return clone;
}

int32_t ALPkCompressor::Compress(ALStorage& input, ALStorage& output) {
    CompressFrame frame(input, output);
    if (!frame.Healthy(status)) return frame.Finish(status);
    input.StartCrc32(0xFFFFFFFFu);
    Deflate(input, output);
    return frame.Finish(status);
}

int32_t ALPkCompressor::Deflate(ALStorage& input, ALStorage& output) {
    z_stream stream{};
    // A negative window size asks for a raw stream: no zlib header or
    // trailer, as ZIP members are stored.
    const int started = deflateInit2(&stream, level, Z_DEFLATED, -window_bits, memory_level,
                                     Z_DEFAULT_STRATEGY);
    if (started != Z_OK) {
        deflateEnd(&stream);
        return status.SetError(AL_CANT_CREATE_COMPRESSION_ENGINE,
                               L"Error creating deflate engine. ZLIB returned %d\n",
                               static_cast<int32_t>(started));
    }
    // Bytes already waiting in the output (an entry header, say) leave
    // first; then zlib writes straight into the output's buffer.
    output.FlushBuffer();
    const uInt room = static_cast<uInt>(output.buffer_size);
    stream.next_out = output.buffer;
    stream.avail_out = room;

    // Hands what zlib produced to the output and gives zlib the whole
    // buffer again. False when the output has failed.
    auto drain = [&]() {
        if (stream.avail_out != room) {
            output.write_index = static_cast<int32_t>(room - stream.avail_out);
            output.FlushBuffer();
            stream.next_out = output.buffer;
            stream.avail_out = room;
        }
        return output.status.GetStatusCode() >= 0;
    };

    int result = Z_OK;
    bool healthy = output.status.GetStatusCode() >= 0;
    // Feed: one input buffer at a time, straight from the input's buffer.
    while (healthy) {
        if (stream.avail_in == 0) {
            if (input.read_index >= input.read_limit &&
                input.LoadBuffer(input.file_position) < 0) {
                break;  // end of data, or a read failure the frame reports
            }
            stream.next_in = input.buffer + input.read_index;
            stream.avail_in = static_cast<uInt>(input.read_limit - input.read_index);
            input.read_index = input.read_limit;
        }
        result = deflate(&stream, Z_NO_FLUSH);
        healthy = drain() && result == Z_OK;
    }
    // Finish: the rest of the stream and its final block.
    while (healthy) {
        result = deflate(&stream, Z_FINISH);
        healthy = drain();
        if (result != Z_OK) break;
    }
    deflateEnd(&stream);
    if (output.status.GetStatusCode() < 0) return status.SetStatusFrom(output.status).GetStatusCode();
    // zlib itself failing mid-stream with healthy storages would otherwise
    // pass for success with a truncated stream.
    if (result != Z_STREAM_END && input.status.GetStatusCode() >= 0) {
        return status.SetError(AL_INTERNAL_ERROR, L"Deflate of %s failed. ZLIB returned %d\n",
                               input.GetName(), static_cast<int32_t>(result));
    }
    return status.GetStatusCode();
}
