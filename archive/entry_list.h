// ALEntryList: the table of contents of an archive, read by
// ALArchive::ReadDirectory and worked through by ALArchive::Extract.
//
// The list owns its entries (a circular doubly linked ring headed by a
// sentinel entry), its own copy of the prototype set the entries' objects
// are cloned from, and a status block. It does not own the monitor.
//
//     ALEntryList list(&monitor, prototypes);
//     for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) ...
#pragma once

#include <cstdint>

#include "archive/entry.h"
#include "archive/prototype_set.h"
#include "archive/status.h"

class ALCompressor;
class ALCryptoEngine;
class ALDecompressor;
class ALMonitor;
class ALStorage;

class ALEntryList {
public:
    // Copies prototypes; a null monitor means the process-wide default
    // monitor (object level, no text messages).
    explicit ALEntryList(ALMonitor* monitor, const ALPrototypeSet& prototypes);
    // An empty prototype set: entries can only be added with AddEntry.
    explicit ALEntryList(ALMonitor* monitor = nullptr);
    // Deletes every entry, then the sentinel, the status and the set.
    ~ALEntryList();
    ALEntryList(const ALEntryList&) = delete;
    ALEntryList& operator=(const ALEntryList&) = delete;

    // Iteration in list (directory) order; null at the end.
    ALEntry* GetFirstEntry();
    ALEntry* GetNextEntry(ALEntry* entry);
    const ALEntry* GetFirstEntry() const;
    const ALEntry* GetNextEntry(const ALEntry* entry) const;
    int32_t EntryCount() const;

    // Creates an entry at the tail of the list that owns the four objects
    // (each may be null). Null when the entry cannot be allocated: the
    // caller still owns the objects then.
    ALEntry* AddEntry(ALStorage* storage, ALCompressor* compressor, ALDecompressor* decompressor,
                      ALCryptoEngine* crypto_engine);

    ALMonitor& GetMonitor() const { return *monitor; }

    ALEntry sentinel;
    ALMonitor* monitor;  // not owned, never null
    ALPrototypeSet prototypes;
    ALStatusBlock status;
};

// The sum of the compressed sizes of all marked entries (what a job-level
// monitor counts as the whole job), or -1 as soon as a marked entry's
// compressed size is unknown (-1). Sums beyond 2 GB are cut at 0x7FFFFFFF.
int32_t JobTotalSize(const ALEntryList& list);
