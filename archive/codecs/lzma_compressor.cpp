#include "archive/codecs/lzma_compressor.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/codecs/compress_frame.h"
#include "archive/compressors.h"
#include "archive/storage.h"

extern "C" {
#include <LzmaEnc.h>
}

namespace {

// The SDK that writes the streams (the version recorded in every entry):
// 9.22, as Debian's lzma-dev ships it.
constexpr uint8_t kSdkMajor = 9;
constexpr uint8_t kSdkMinor = 22;

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * KiB;

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc g_allocator = {Allocate, Release};

// The SDK's input stream over an input storage: hands out the bytes of
// the storage's buffer, loading the next buffer when it is used up. End of
// data ends the stream; a failed load too (the storage keeps the failure).
struct StorageInStream {
    ISeqInStream vtable;
    ALStorage* storage;
};

SRes ReadFromStorage(void* p, void* destination, size_t* size) {
    ALStorage& input = *static_cast<StorageInStream*>(p)->storage;
    if (input.read_index >= input.read_limit && input.LoadBuffer(input.file_position) < 0) {
        *size = 0;
        return input.status.GetStatusCode() < 0 ? SZ_ERROR_READ : SZ_OK;
    }
    const size_t available = static_cast<size_t>(input.read_limit - input.read_index);
    if (*size > available) *size = available;
    std::memcpy(destination, input.buffer + input.read_index, *size);
    input.read_index += static_cast<int32_t>(*size);
    return SZ_OK;
}

struct StorageOutStream {
    ISeqOutStream vtable;
    ALStorage* storage;
};

// The SDK writes in blocks of at most 64 KiB; a short count stops it.
size_t WriteToStorage(void* p, const void* source, size_t size) {
    ALStorage& output = *static_cast<StorageOutStream*>(p)->storage;
    return static_cast<size_t>(
        output.WriteBuffer(static_cast<const uint8_t*>(source), static_cast<int32_t>(size)));
}

}  // namespace

ALLzmaCompressor::ALLzmaCompressor(int32_t level)
    : ALCompressor(AL_ENGINE_ZIP_LZMA, "LZMA"), settings(SettingsForLevel(level)) {}

ALLzmaSettings ALLzmaCompressor::SettingsForLevel(int32_t level) {
    switch (level) {
        case 1: return {256 * KiB, 3, 0, 2, 32, false, false, 0};
        case 2: return {1 * MiB, 3, 0, 2, 32, false, false, 0};
        case 3: return {4 * MiB, 3, 0, 2, 32, false, false, 0};
        case 4: return {4 * MiB, 3, 0, 2, 32, true, true, 0};
        case 5: return {6 * MiB, 3, 0, 2, 32, true, true, 0};
        case 7: return {16 * MiB, 3, 0, 2, 64, true, true, 0};
        case 8: return {kMaxDictionarySize, 3, 0, 2, 64, true, true, 0};
        case 9: return {kMaxDictionarySize, 3, 0, 2, 273, true, true, 0};
        // The default: two entries' dictionaries side by side stay within
        // what the stub decodes on two threads at once.
        default: return {8 * MiB, 3, 0, 2, 32, true, true, 0};
    }
}

ALCompressor* ALLzmaCompressor::Clone(int32_t type) const {
    if (type == AL_ENGINE_COPY || type == AL_ENGINE_ZIP_STORED) {
        return new (std::nothrow) ALCopyCompressor();
    }
    if (type != AL_ENGINE_DEFAULT && type != AL_ENGINE_ZIP_LZMA) return nullptr;
    ALLzmaCompressor* clone = new (std::nothrow) ALLzmaCompressor();
    if (clone) clone->settings = settings;
    return clone;
}

int32_t ALLzmaCompressor::Compress(ALStorage& input, ALStorage& output) {
    CompressFrame frame(input, output);
    if (!frame.Healthy(status)) return frame.Finish(status);
    input.StartCrc32(0xFFFFFFFFu);

    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.dictSize = settings.dictionary_size;
    // The dictionary never exceeds what the entry needs: the reader sizes
    // its window by the properties, and a stub has little memory.
    props.reduceSize = input.GetSize() >= 0 ? static_cast<UInt32>(input.GetSize()) : 0xFFFFFFFFu;
    props.lc = settings.lc;
    props.lp = settings.lp;
    props.pb = settings.pb;
    props.algo = settings.normal_mode ? 1 : 0;
    props.fb = settings.fast_bytes;
    props.btMode = settings.binary_tree ? 1 : 0;
    props.numHashBytes = 4;
    props.mc = settings.match_cycles;
    props.writeEndMark = 1;
    props.numThreads = 1;

    CLzmaEncHandle encoder = LzmaEnc_Create(&g_allocator);
    Byte header[4 + LZMA_PROPS_SIZE] = {kSdkMajor, kSdkMinor, LZMA_PROPS_SIZE, 0};
    SizeT props_size = LZMA_PROPS_SIZE;
    SRes result = encoder ? LzmaEnc_SetProps(encoder, &props) : SZ_ERROR_MEM;
    if (result == SZ_OK) result = LzmaEnc_WriteProperties(encoder, header + 4, &props_size);
    if (result == SZ_OK) {
        output.WriteBuffer(header, sizeof header);
        StorageInStream in = {{ReadFromStorage}, &input};
        StorageOutStream out = {{WriteToStorage}, &output};
        result = LzmaEnc_Encode(encoder, &out.vtable, &in.vtable, nullptr, &g_allocator,
                                &g_allocator);
    }
    if (encoder) LzmaEnc_Destroy(encoder, &g_allocator, &g_allocator);
    // Failures of the storages are the frame's to report; the encoder's own
    // (memory, settings) are this engine's.
    if (result != SZ_OK && result != SZ_ERROR_READ && result != SZ_ERROR_WRITE &&
        frame.Healthy(status)) {
        status.SetError(AL_CANT_CREATE_COMPRESSION_ENGINE,
                        L"Error creating LZMA engine. The LZMA SDK returned %d\n",
                        static_cast<int32_t>(result));
    }
    return frame.Finish(status);
}
