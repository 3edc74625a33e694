#include "archive/entry_list.h"

#include <new>

#include "archive/monitor.h"

ALEntryList::ALEntryList(ALMonitor* monitor, const ALPrototypeSet& prototypes)
    : sentinel(this), monitor(monitor ? monitor : &DefaultMonitor()), prototypes(prototypes) {}

ALEntryList::ALEntryList(ALMonitor* monitor)
    : sentinel(this), monitor(monitor ? monitor : &DefaultMonitor()) {}

ALEntryList::~ALEntryList() {
    // Each entry unlinks itself when it is destroyed.
    while (sentinel.next != &sentinel) delete sentinel.next;
}

ALEntry* ALEntryList::GetFirstEntry() { return GetNextEntry(&sentinel); }

ALEntry* ALEntryList::GetNextEntry(ALEntry* entry) {
    if (!entry || entry->next == &sentinel) return nullptr;
    return entry->next;
}

const ALEntry* ALEntryList::GetFirstEntry() const { return GetNextEntry(&sentinel); }

const ALEntry* ALEntryList::GetNextEntry(const ALEntry* entry) const {
    if (!entry || entry->next == &sentinel) return nullptr;
    return entry->next;
}

int32_t ALEntryList::EntryCount() const {
    int32_t count = 0;
    for (const ALEntry* entry = GetFirstEntry(); entry; entry = GetNextEntry(entry)) ++count;
    return count;
}

ALEntry* ALEntryList::AddEntry(ALStorage* storage, ALCompressor* compressor,
                               ALDecompressor* decompressor, ALCryptoEngine* crypto_engine) {
    return new (std::nothrow)
        ALEntry(this, sentinel, storage, compressor, decompressor, crypto_engine);
}

int32_t JobTotalSize(const ALEntryList& list) {
    int64_t total = 0;
    for (const ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        if (!entry->IsMarked()) continue;
        if (entry->compressed_size == -1) return -1;
        // Sizes from 2 GB up arrive negative; they count as unsigned.
        total += static_cast<uint32_t>(entry->compressed_size);
        if (total > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(total);
}
