// Shared helpers of the archive core tests: a scratch directory that is the
// current directory while a test runs, file helpers, and an in-memory
// storage that can be told to fail.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "archive/status.h"
#include "archive/storage.h"
#include "common/time_zone.h"
#include "platform/directory.h"

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, made the current
// directory for the test and removed (with everything in it) afterwards.
class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(GetCurrentDir(saved_cwd_));
        std::random_device seed;
        std::mt19937 random(seed());
        for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
            fs::path candidate = fs::temp_directory_path() /
                                 ("al_core_" + std::to_string(random() % 1000000000u));
            std::error_code error;
            if (fs::create_directory(candidate, error)) dir_ = candidate;
        }
        ASSERT_FALSE(dir_.empty());
        ASSERT_TRUE(SetCurrentDir(dir_.wstring()));
    }

    void TearDown() override {
        SetCurrentDir(saved_cwd_);
        if (dir_.empty()) return;
        std::error_code error;
        // Read-only files would block the removal on Windows.
        for (const auto& item : fs::recursive_directory_iterator(dir_, error)) {
            fs::permissions(item.path(), fs::perms::owner_write, fs::perm_options::add, error);
        }
        fs::remove_all(dir_, error);
    }

    const fs::path& dir() const { return dir_; }

private:
    std::wstring saved_cwd_;
    fs::path dir_;
};

inline void WriteFileBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Deterministic, non-repeating-looking test data.
inline std::string PatternBytes(size_t n) {
    std::string bytes(n, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x & 0xFF);
    }
    return bytes;
}

// The standard CRC-32 (ISO 3309), bit by bit: an independent reference.
inline uint32_t ReferenceCrc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A storage over a byte string, with a small buffer so that tests cross
// buffer boundaries cheaply. It fails its Nth flush or load when told to,
// recording the failure the way a file does, and counts the calls that
// actually move data.
class MemoryStorage : public ALStorage {
public:
    explicit MemoryStorage(std::string initial = std::string(), int32_t buffer_size = 16,
                           const wchar_t* name = L"memory")
        : ALStorage(name, buffer_size, 99, NameCaseIgnore), data(std::move(initial)) {}

    int32_t Open() override {
        if (ALStorage::Open() < 0) return status.GetStatusCode();
        size = BoundedSize(static_cast<int32_t>(data.size()));
        return AL_NO_ERRORS;
    }
    int32_t Create(int32_t size_hint = -1) override {
        if (ALStorage::Create(size_hint) < 0) return status.GetStatusCode();
        data.clear();
        return AL_NO_ERRORS;
    }
    int32_t Close() override {
        FlushBuffer();
        return ALStorage::Close();
    }
    int32_t LoadBuffer(int32_t position) override {
        if (status.GetStatusCode() < 0) return status.GetStatusCode();
        ++loads;
        if (loads == fail_load_at) {
            return status.SetError(AL_READ_ERROR, L"Read failure on %s.  errno = %d", GetName(), 5);
        }
        file_position = position;
        read_index = 0;
        read_limit = 0;
        const size_t start = std::min(data.size(), static_cast<size_t>(position));
        const size_t count = std::min(data.size() - start, static_cast<size_t>(LoadableAt(position)));
        if (count == 0) return AL_END_OF_FILE;
        memcpy(buffer, data.data() + start, count);
        if (crc_enabled || crypto_engine) UpdateCrc32(static_cast<int32_t>(count), true);
        file_position += static_cast<int32_t>(count);
        read_limit = static_cast<int32_t>(count);
        ReportProgress();
        return static_cast<int32_t>(count);
    }
    int32_t FlushBuffer() override {
        if (status.GetStatusCode() < 0) return status.GetStatusCode();
        if (write_index != 0) {
            ++flushes;
            if (flushes == fail_flush_at) {
                return status.SetError(AL_WRITE_ERROR,
                                       L"Write failure on %s.  result = %d, errno = %d", GetName(),
                                       -1, 28);
            }
            if (crc_enabled || crypto_engine) UpdateCrc32(write_index, false);
            const size_t at = static_cast<size_t>(file_position);
            if (data.size() < at + write_index) data.resize(at + write_index);
            memcpy(&data[at], buffer, static_cast<size_t>(write_index));
            file_position += write_index;
            write_index = 0;
        }
        read_index = 0;
        read_limit = 0;
        ReportProgress();
        return AL_NO_ERRORS;
    }
    int32_t Seek(int32_t position) override {
        if (status.GetStatusCode() < 0) return status.GetStatusCode();
        if (FlushBuffer() < 0) return status.GetStatusCode();
        ++seeks;
        file_position = position;
        return AL_NO_ERRORS;
    }
    int32_t Rename(const wchar_t*, bool) override { return AL_NO_ERRORS; }
    int32_t RevertRename(bool) override { return AL_NO_ERRORS; }
    int32_t RenameToBackup(bool) override { return AL_NO_ERRORS; }
    int32_t Delete() override { return AL_NO_ERRORS; }
    ALStorage* Clone(const wchar_t*, int32_t) const override { return nullptr; }

    std::string data;
    int loads = 0;
    int flushes = 0;
    int seeks = 0;
    int fail_flush_at = 0;  // 1-based; 0: never
    int fail_load_at = 0;
};
