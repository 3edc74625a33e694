// ALCrcOnlyStorage: a storage that keeps nothing. Written bytes only pass
// through its CRC-32 register (and its monitor), so an archive can be
// checked member by member without writing a file. Reading it yields the
// end of the data at once.
#pragma once

#include "archive/storage.h"

class ALCrcOnlyStorage : public ALStorage {
public:
    // An object type of its own, so that no file prototype clones it.
    static constexpr int32_t kObjectType = 77;

    explicit ALCrcOnlyStorage(const wchar_t* name = L"");

    int32_t Close() override;
    int32_t LoadBuffer(int32_t position) override;
    // Folds the pending bytes into the CRC register and drops them.
    int32_t FlushBuffer() override;
    int32_t Seek(int32_t position) override;
    int32_t Rename(const wchar_t* new_name, bool delete_existing) override;
    int32_t RevertRename(bool delete_existing) override;
    int32_t RenameToBackup(bool delete_existing) override;
    int32_t Delete() override;
    // Type -1 or kObjectType: a new ALCrcOnlyStorage with name.
    ALStorage* Clone(const wchar_t* name, int32_t object_type) const override;
};
