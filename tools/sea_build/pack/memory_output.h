// MemoryOutput: a storage whose written bytes collect in memory, where a
// worker thread compresses a file before the archive writer takes it.
// Written bytes pass through its CRC register and its monitor like a
// file's; reading it yields the end of the data at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/storage.h"

class MemoryOutput : public ALStorage {
public:
    // An object type of its own, so that no file prototype clones it.
    static constexpr int32_t kObjectType = 78;

    MemoryOutput(const wchar_t* name, int32_t buffer_size);

    // The bytes written (pending ones included); the storage is empty after.
    std::vector<uint8_t> TakeBytes();

    int32_t Close() override;
    int32_t LoadBuffer(int32_t position) override;
    // Appends the pending bytes. AL_WRITE_ERROR when memory runs out or the
    // data would reach 2 GiB.
    int32_t FlushBuffer() override;
    // Only the end of what was written is a place to go on writing.
    int32_t Seek(int32_t position) override;
    int32_t Rename(const wchar_t* new_name, bool delete_existing) override;
    int32_t RevertRename(bool delete_existing) override;
    int32_t RenameToBackup(bool delete_existing) override;
    int32_t Delete() override;
    // Type -1 or kObjectType: a new, empty MemoryOutput with name.
    ALStorage* Clone(const wchar_t* name, int32_t object_type) const override;

private:
    std::vector<uint8_t> bytes_;
};
