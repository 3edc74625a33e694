#include "archive/codecs/zstd_compressor.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_c_useRowMatchFinder
#include <zstd.h>
#include <zstd_errors.h>

#include <new>

#include "archive/codecs/compress_frame.h"
#include "archive/compressors.h"
#include "archive/storage.h"

namespace {

struct ZstdSetting {
    int32_t level;
    int32_t window_log;
};

// Index: the library level 1..9.
constexpr ZstdSetting kSettings[10] = {
    {17, 23},  // unused: level 0 is the copy compressor's
    {1, 19},  {3, 21},  {5, 21},  {9, 22},  {12, 22},
    {17, 23}, {19, 23}, {20, 25}, {22, 25},
};

ZstdSetting SettingFor(int32_t level) {
    return level >= 1 && level <= 9 ? kSettings[level] : kSettings[6];
}

// Frees a compression context on every return path.
struct ContextOwner {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ~ContextOwner() { ZSTD_freeCCtx(context); }
};

}  // namespace

ALZstdCompressor::ALZstdCompressor(int32_t level)
    : ALCompressor(AL_ENGINE_ZIP_ZSTD, "Zstandard"),
      zstd_level(LevelFor(level)),
      window_log(WindowLogFor(level)) {}

int32_t ALZstdCompressor::LevelFor(int32_t level) { return SettingFor(level).level; }

int32_t ALZstdCompressor::WindowLogFor(int32_t level) { return SettingFor(level).window_log; }

ALCompressor* ALZstdCompressor::Clone(int32_t type) const {
    if (type == AL_ENGINE_COPY || type == AL_ENGINE_ZIP_STORED) {
        return new (std::nothrow) ALCopyCompressor();
    }
    if (type != AL_ENGINE_DEFAULT && type != AL_ENGINE_ZIP_ZSTD) return nullptr;
    ALZstdCompressor* clone = new (std::nothrow) ALZstdCompressor();
    if (clone) {
        clone->zstd_level = zstd_level;
        clone->window_log = window_log;
    }
    return clone;
}

int32_t ALZstdCompressor::Compress(ALStorage& input, ALStorage& output) {
    CompressFrame frame(input, output);
    if (!frame.Healthy(status)) return frame.Finish(status);
    input.StartCrc32(0xFFFFFFFFu);
    Encode(input, output);
    return frame.Finish(status);
}

int32_t ALZstdCompressor::Encode(ALStorage& input, ALStorage& output) {
    ContextOwner owner;
    ZSTD_CCtx* const context = owner.context;
    // Everything that shapes the frame is set here, nothing left to the
    // library's choice by machine: single-threaded, the row match finder
    // on wherever the strategy can use it, the content size (when the
    // input knows its size) and the checksum in the frame.
    size_t result = context ? 0 : static_cast<size_t>(-ZSTD_error_memory_allocation);
    const auto set = [&](ZSTD_cParameter parameter, int value) {
        if (!ZSTD_isError(result)) result = ZSTD_CCtx_setParameter(context, parameter, value);
    };
    set(ZSTD_c_compressionLevel, zstd_level);
    set(ZSTD_c_windowLog, window_log);
    set(ZSTD_c_nbWorkers, 0);
    set(ZSTD_c_useRowMatchFinder, ZSTD_ps_enable);
    set(ZSTD_c_checksumFlag, 1);
    set(ZSTD_c_contentSizeFlag, 1);
    if (!ZSTD_isError(result) && input.GetSize() >= 0) {
        result = ZSTD_CCtx_setPledgedSrcSize(context, static_cast<unsigned long long>(input.GetSize()));
    }
    if (ZSTD_isError(result)) {
        return status.SetError(AL_CANT_CREATE_COMPRESSION_ENGINE,
                               L"Error creating Zstandard engine. libzstd returned %d\n",
                               static_cast<int32_t>(ZSTD_getErrorCode(result)));
    }
    // Bytes already waiting in the output leave first; then libzstd
    // writes straight into the output's buffer.
    output.FlushBuffer();
    ZSTD_outBuffer out = {output.buffer, static_cast<size_t>(output.buffer_size), 0};
    ZSTD_inBuffer in = {nullptr, 0, 0};
    // Hands what libzstd produced to the output. False when it has failed.
    const auto drain = [&]() {
        if (out.pos != 0) {
            output.write_index = static_cast<int32_t>(out.pos);
            output.FlushBuffer();
            out.pos = 0;
        }
        return output.status.GetStatusCode() >= 0;
    };

    bool healthy = output.status.GetStatusCode() >= 0;
    while (healthy) {  // one input buffer at a time
        if (in.pos == in.size) {
            if (input.read_index >= input.read_limit && input.LoadBuffer(input.file_position) < 0) break;
            in = {input.buffer + input.read_index,
                  static_cast<size_t>(input.read_limit - input.read_index), 0};
            input.read_index = input.read_limit;
        }
        result = ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
        healthy = drain() && !ZSTD_isError(result);
    }
    if (input.status.GetStatusCode() < 0) return status.GetStatusCode();  // the frame reports it
    while (healthy) {  // the frame's last block and checksum
        result = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
        healthy = drain() && !ZSTD_isError(result) && result != 0;
    }
    if (output.status.GetStatusCode() < 0) return status.SetStatusFrom(output.status).GetStatusCode();
    // libzstd failing with healthy storages (an input of another size than
    // it announced, say) would otherwise pass for a truncated frame.
    if (ZSTD_isError(result)) {
        return status.SetError(AL_INTERNAL_ERROR, L"Zstandard of %s failed. libzstd returned %d\n",
                               input.GetName(), static_cast<int32_t>(ZSTD_getErrorCode(result)));
    }
    return status.GetStatusCode();
}
