// ALFile: a disk file reached through the C runtime's low-level descriptor
// calls with wide paths, plus the file-system operations an extractor needs:
// temporary names, parent directories, rename and backup, delete, and the
// time stamp and attributes written back when a created file is closed.
//
// Adds two virtual slots after those of ALStorage:
//   15 MakeTempName(number)
//   16 CreateParentDirectories
#pragma once

#include "archive/storage.h"

class ALFile : public ALStorage {
public:
    // An empty name is legal: Create then makes a temporary file
    // "~al~NNN.tmp" in the current directory.
    explicit ALFile(const wchar_t* name = L"", int32_t buffer_size = kDefaultBufferSize,
                    ALNameCase mode = NameCaseIgnore);
    ~ALFile() override;

    // Opens the file for reading (sharing allowed) and takes its size, time
    // stamp and attributes from the file system.
    int32_t Open() override;
    // Creates or truncates the file for writing (read-only cleared first),
    // creating missing parent directories. With the directory attribute
    // only the directories are made and no file is opened.
    int32_t Create(int32_t size_hint = -1) override;
    // Flushes, takes the size, and for a created file with a time stamp
    // writes the last-write time and then the attributes.
    int32_t Close() override;
    int32_t LoadBuffer(int32_t position) override;
    int32_t FlushBuffer() override;
    int32_t Seek(int32_t position) override;
    int32_t Rename(const wchar_t* new_name, bool delete_existing) override;
    int32_t RevertRename(bool delete_existing) override;
    int32_t RenameToBackup(bool delete_existing) override;
    int32_t Delete() override;
    ALStorage* Clone(const wchar_t* name, int32_t object_type) const override;
    // Sets the name to "~al~NNN.tmp" (NNN: number, three digits).
    virtual void MakeTempName(int32_t number);
    // Creates every directory named in front of a separator of the name.
    // True when the name's last component is a file name; false for an
    // empty name, a name ending in a separator, or a creation failure other
    // than EACCES, EEXIST, ENFILE or ENOENT.
    virtual bool CreateParentDirectories();

    // Sets or clears the read-only attribute of path; false on failure.
    static bool SetReadOnly(const wchar_t* path, bool read_only);
    // Reads the file's attributes into the set; -1995 (not recorded in the
    // status) when they cannot be read.
    int32_t LoadAttributes();
    // Writes the set to the file by its name (all cleared when the
    // clear-all bit is set). A created file gets them at Close through its
    // descriptor instead.
    void ApplyAttributes();
    // The set in the system's bits (platform/file_attributes.h).
    uint32_t NativeAttributes() const;

    bool IsOpen() const { return descriptor_ != -1; }

    // Reads an already open file (a platform/file_io.h descriptor that the
    // caller keeps open) instead of opening the name, which stays for the
    // messages: Open starts at its first byte and takes the size from the
    // descriptor (time stamp and attributes stay unset); Close leaves it
    // open. Read access only, at positions: the descriptor's own position
    // never moves, so several storages may read one descriptor on
    // different threads.
    void ReadOpenFile(int descriptor) { borrowed_ = descriptor; }

protected:
    // The open file's descriptor (-1: none), for subclasses that check what
    // they opened before they read it.
    int descriptor() const { return descriptor_; }
    // Creates or truncates the named file for writing and returns its
    // descriptor (-1 with *error set to an errno value). A subclass may
    // create it somewhere else than relative to the current directory.
    virtual int OpenForWriting(int* error);

private:
    bool ReadsAtPositions() const { return descriptor_ != -1 && descriptor_ == borrowed_; }
    // Moves the file's position for the next read or write (a borrowed
    // descriptor is read at positions instead).
    bool MoveTo(int32_t position, int* error);
    int32_t OpenBorrowed();
    int32_t CreateNamed();
    int32_t CreateTemporary();
    void StampLastWriteTime();

    int descriptor_ = -1;
    int borrowed_ = -1;  // ReadOpenFile's descriptor, not owned
};
