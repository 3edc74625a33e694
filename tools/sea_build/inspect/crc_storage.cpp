#include "tools/sea_build/inspect/crc_storage.h"

#include <new>

ALCrcOnlyStorage::ALCrcOnlyStorage(const wchar_t* name)
    : ALStorage(name, kDefaultBufferSize, kObjectType, NameCaseIgnore) {}

int32_t ALCrcOnlyStorage::Close() {
    if (buffer) FlushBuffer();
    // The size is what was written, as a file's would be.
    if (created) size = file_position;
    created = 0;
    return ALStorage::Close();
}

int32_t ALCrcOnlyStorage::LoadBuffer(int32_t) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    read_index = read_limit = 0;
    return AL_END_OF_FILE;
}

int32_t ALCrcOnlyStorage::FlushBuffer() {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (write_index != 0) {
        if (crc_enabled || crypto_engine) UpdateCrc32(write_index, false);
        file_position += write_index;
        write_index = 0;
    }
    read_index = read_limit = 0;
    ReportProgress();
    return AL_NO_ERRORS;
}

int32_t ALCrcOnlyStorage::Seek(int32_t position) {
    if (FlushBuffer() < 0) return status.GetStatusCode();
    file_position = position;
    return AL_NO_ERRORS;
}

// Nothing exists to rename or delete.
int32_t ALCrcOnlyStorage::Rename(const wchar_t*, bool) { return status.GetStatusCode(); }

int32_t ALCrcOnlyStorage::RevertRename(bool) { return status.GetStatusCode(); }

int32_t ALCrcOnlyStorage::RenameToBackup(bool) { return status.GetStatusCode(); }

int32_t ALCrcOnlyStorage::Delete() { return status.GetStatusCode(); }

ALStorage* ALCrcOnlyStorage::Clone(const wchar_t* name, int32_t object_type) const {
    if (object_type != AL_STORAGE_DEFAULT && object_type != kObjectType) return nullptr;
    return new (std::nothrow) ALCrcOnlyStorage(name);
}
