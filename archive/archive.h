// ALArchive: an archive bound to one storage object (the archive file),
// whose table of contents is read into an ALEntryList (ReadDirectory) and
// whose members are written out into the entries' own storages (Extract).
// ALPkArchive (pk_archive.h) is the ZIP flavour.
//
// Virtual slots, in order:
//    0 destructor                 deletes the storage when the archive owns it
//    1 HookA()                    no behaviour
//    2 HookB()                    no behaviour
//    3 ReserveLocalHeader(entry)  write side: leaves room for a member header
//    4 WriteLocalHeader(entry)    write side: writes a member header
//    5 SkipLocalHeader(entry)     positions the archive storage at the data
//    6 EntryExtracted(entry)      called by Extract after each member
//    7 MarkDirectoryStart()       write side: remembers the directory start
//    8 WriteDirectoryRecord(entry) abstract; write side
//    9 WriteEndRecord()           write side
//   10 SkipToLocalExtra(entry)    positions the storage at a header's extra field
//   11 HookC(value)               no behaviour
//   12 SavePrivateData()          base: a 16-bit zero length
//   13 LoadPrivateData()          base: reads that length
//   14 ReadDirectory(list)        abstract
//
// Every failure of an archive operation is recorded in the archive's status
// and the operation returns its code (negative); success is 0 or a count.
#pragma once

#include <cstdint>

#include "archive/name_string.h"
#include "archive/status.h"

class ALCryptoEngine;
class ALEntry;
class ALEntryList;
class ALMonitor;
class ALStorage;

class ALArchive {
public:
    // Bit 0 of the flag word: the archive deletes its storage when destroyed.
    static constexpr int32_t kOwnsStorage = 0x0001;

    // Binds the archive to storage; with owns_storage it deletes it.
    ALArchive(ALStorage* storage, bool owns_storage);
    virtual ~ALArchive();
    ALArchive(const ALArchive&) = delete;
    ALArchive& operator=(const ALArchive&) = delete;

    virtual void HookA();
    virtual void HookB();
    virtual int32_t ReserveLocalHeader(ALEntry& entry);
    virtual int32_t WriteLocalHeader(ALEntry& entry);
    virtual int32_t SkipLocalHeader(ALEntry& entry);
    virtual void EntryExtracted(ALEntry& entry);
    virtual int32_t MarkDirectoryStart();
    virtual int32_t WriteDirectoryRecord(ALEntry& entry) = 0;
    virtual int32_t WriteEndRecord();
    virtual int32_t SkipToLocalExtra(ALEntry& entry);
    virtual void HookC(int32_t value);
    virtual int32_t SavePrivateData();
    virtual int32_t LoadPrivateData();
    // Fills list with one entry per archive member. Returns the number of
    // entries added by this call or the negative archive status code.
    virtual int32_t ReadDirectory(ALEntryList& list) = 0;

    // Writes every marked entry of list (read from this archive by
    // ReadDirectory) into its storage, relative to the current directory,
    // and checks each against its CRC-32. A failing entry does not stop the
    // others: the first failure in list order becomes the result, its text
    // "<name>: <detail>". Only a missing decompressor or crypto engine ends
    // the run at once. Returns the number of marked entries processed, or
    // the negative archive status code.
    //
    // Entries whose names would leave the current directory (absolute,
    // drive-qualified, UNC, a ".." component, and on Windows any ':') are
    // never created: their storage records AL_CANT_OPEN_FILE. No entry
    // writes more than its declared uncompressed size.
    int32_t Extract(ALEntryList& list);
    // When the archive status is not negative, copies the first failure of
    // an entry storage into it as "%s: %s" (storage name, detail). Returns
    // the archive status code.
    int32_t CollectEntryErrors(ALEntryList& list);

    // One marked entry of Extract, from the seek to the CRC check, with the
    // entry's events and progress going to monitor (its job_done grows by
    // the entry's compressed size). False when the run must stop at once
    // (the archive status says why). Extract calls it for every marked
    // entry in turn; a caller that extracts entries on several threads
    // gives each thread an archive and a monitor of its own.
    bool ExtractEntry(ALEntry& entry, ALMonitor& monitor);

    ALStorage& GetStorage() const { return *storage; }
    int32_t GetStatusCode() const { return status.GetStatusCode(); }
    const wchar_t* GetComment() const { return comment.GetName(); }

    ALStorage* storage;                        // the archive storage
    ALNameString comment{L"", NameCaseExact};  // the archive comment
    int32_t flags;
    int32_t directory_offset = -1;  // central directory offset as stored, -1 until read
    ALStatusBlock status;

private:
    // Decodes a created member, closes it and checks its CRC-32.
    void DecodeEntry(ALEntry& entry, ALMonitor& monitor, int32_t declared_size);
    // Makes engine decode the archive storage's bytes from its read position on.
    void AttachCryptoEngine(ALCryptoEngine& engine);
};
