#include "tools/sea_build/pack/memory_output.h"

#include <limits>
#include <new>
#include <utility>

MemoryOutput::MemoryOutput(const wchar_t* name, int32_t buffer_size)
    : ALStorage(name, buffer_size, kObjectType, NameCaseIgnore) {}

std::vector<uint8_t> MemoryOutput::TakeBytes() {
    if (buffer) FlushBuffer();
    file_position = 0;
    return std::move(bytes_);
}

int32_t MemoryOutput::Close() {
    if (buffer) FlushBuffer();
    if (created) size = static_cast<int32_t>(bytes_.size());
    created = 0;
    return ALStorage::Close();
}

int32_t MemoryOutput::LoadBuffer(int32_t) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    read_index = read_limit = 0;
    return AL_END_OF_FILE;
}

int32_t MemoryOutput::FlushBuffer() {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (write_index != 0) {
        if (bytes_.size() + static_cast<size_t>(write_index) >
            static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            return status.SetError(AL_WRITE_ERROR, L"Write failure on %s: 2 GiB in memory", GetName());
        }
        if (crc_enabled || crypto_engine) UpdateCrc32(write_index, false);
        try {
            bytes_.insert(bytes_.end(), buffer, buffer + write_index);
        } catch (const std::bad_alloc&) {
            return status.SetError(AL_WRITE_ERROR, L"Write failure on %s: out of memory", GetName());
        }
        file_position += write_index;
        write_index = 0;
    }
    read_index = read_limit = 0;
    ReportProgress();
    return AL_NO_ERRORS;
}

int32_t MemoryOutput::Seek(int32_t position) {
    if (FlushBuffer() < 0) return status.GetStatusCode();
    if (position != static_cast<int32_t>(bytes_.size())) {
        return status.SetError(AL_SEEK_ERROR, L"Seek failure on %s: only its end", GetName());
    }
    file_position = position;
    return AL_NO_ERRORS;
}

// Nothing exists outside the process to rename or delete.
int32_t MemoryOutput::Rename(const wchar_t*, bool) { return status.GetStatusCode(); }

int32_t MemoryOutput::RevertRename(bool) { return status.GetStatusCode(); }

int32_t MemoryOutput::RenameToBackup(bool) { return status.GetStatusCode(); }

int32_t MemoryOutput::Delete() { return status.GetStatusCode(); }

ALStorage* MemoryOutput::Clone(const wchar_t* name, int32_t object_type) const {
    if (object_type != AL_STORAGE_DEFAULT && object_type != kObjectType) return nullptr;
    return new (std::nothrow) MemoryOutput(name, buffer_size);
}
