// The shared body of the decoder fuzz targets: the input is one member's
// compressed data after a 4-byte little-endian declared size, decoded from
// memory into a storage that only counts and checksums, the way Extract
// drives a decompressor. Declared sizes are kept below 16 MiB (so that no
// input runs for long), except that FF FF FF FF means "no size".
//
// Checked besides the sanitizers: nothing is written past the declared
// size, a success produces exactly the declared size, and the decoder
// never held more than the cap.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/codecs/decoder_memory.h"
#include "archive/storage.h"

namespace decoder_fuzz {

// Reads from the fuzzer's bytes; writes nowhere but counts.
class MemoryStorage : public ALStorage {
public:
    MemoryStorage(const uint8_t* data, size_t size)
        : ALStorage(L"fuzz.bin", kDefaultBufferSize, 99, NameCaseIgnore), data_(data), size_(size) {}
    int32_t LoadBuffer(int32_t position) override {
        if (status.GetStatusCode() < 0) return status.GetStatusCode();
        read_index = read_limit = 0;
        file_position = position;
        if (static_cast<size_t>(position) >= size_) return AL_END_OF_FILE;
        size_t count = size_ - static_cast<size_t>(position);
        if (count > static_cast<size_t>(buffer_size)) count = static_cast<size_t>(buffer_size);
        memcpy(buffer, data_ + position, count);
        read_limit = static_cast<int32_t>(count);
        file_position += read_limit;
        return read_limit;
    }
    int32_t FlushBuffer() override {
        if (status.GetStatusCode() < 0) return status.GetStatusCode();
        if (crc_enabled) UpdateCrc32(write_index, false);
        written += write_index;
        write_index = 0;
        return AL_NO_ERRORS;
    }
    int32_t Seek(int32_t) override { return AL_NO_ERRORS; }
    int32_t Rename(const wchar_t*, bool) override { return AL_NO_ERRORS; }
    int32_t RevertRename(bool) override { return AL_NO_ERRORS; }
    int32_t RenameToBackup(bool) override { return AL_NO_ERRORS; }
    int32_t Delete() override { return AL_NO_ERRORS; }
    ALStorage* Clone(const wchar_t*, int32_t) const override { return nullptr; }
    int64_t written = 0;

private:
    const uint8_t* data_;
    size_t size_;
};

template <class Engine>
int Run(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t raw = data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) |
                         (uint32_t{data[3]} << 24);
    const int64_t declared = raw == 0xFFFFFFFFu ? -1 : int64_t{raw & 0xFFFFFF};
    MemoryStorage input(data + 4, size - 4);
    MemoryStorage output(nullptr, 0);
    Engine engine;
    engine.output_limit = declared;
    const int32_t code = engine.Decompress(input, output, static_cast<int32_t>(size - 4));
    if (declared >= 0 && output.written > declared) abort();
    if (declared >= 0 && code == AL_NO_ERRORS && output.written != declared) abort();
    if (engine.memory_peak > kDecoderMemoryCap) abort();
    return 0;
}

}  // namespace decoder_fuzz
