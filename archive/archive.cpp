#include "archive/archive.h"

#include "archive/engine.h"
#include "archive/entry.h"
#include "archive/entry_list.h"
#include "archive/entry_name.h"
#include "archive/monitor.h"
#include "archive/storage.h"

ALArchive::ALArchive(ALStorage* storage, bool owns_storage)
    : storage(storage), flags(owns_storage ? kOwnsStorage : 0) {
    if (!storage) {
        status.SetError(AL_CANT_CREATE_STORAGE_OBJECT, L"No storage object for the archive");
    }
}

ALArchive::~ALArchive() {
    if (flags & kOwnsStorage) delete storage;
}

void ALArchive::HookA() {}
void ALArchive::HookB() {}
int32_t ALArchive::ReserveLocalHeader(ALEntry&) { return AL_NO_ERRORS; }
int32_t ALArchive::WriteLocalHeader(ALEntry&) { return AL_NO_ERRORS; }
int32_t ALArchive::SkipLocalHeader(ALEntry&) { return AL_NO_ERRORS; }
void ALArchive::EntryExtracted(ALEntry&) {}
int32_t ALArchive::MarkDirectoryStart() { return AL_NO_ERRORS; }
int32_t ALArchive::WriteEndRecord() { return AL_NO_ERRORS; }
int32_t ALArchive::SkipToLocalExtra(ALEntry&) { return AL_NO_ERRORS; }
void ALArchive::HookC(int32_t) {}

int32_t ALArchive::SavePrivateData() { return storage->WriteUInt16BE(0); }

int32_t ALArchive::LoadPrivateData() {
    uint16_t length = 0;
    storage->ReadUInt16BE(length);
    return storage->status.GetStatusCode();
}

int32_t ALArchive::Extract(ALEntryList& list) {
    if (!storage) return status.GetStatusCode();
    const bool opened_here = storage->buffer == nullptr;
    if (opened_here) storage->Open();
    ALMonitor& monitor = list.GetMonitor();
    monitor.NotifyOperation(ExtractBegin, this, nullptr);
    monitor.job_done = 0;
    if (monitor.IsJobLevel()) monitor.job_total = static_cast<uint32_t>(JobTotalSize(list));

    int32_t count = 0;
    bool finished = true;
    for (ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        if (!entry->storage) continue;  // only a list's sentinel has none
        if (entry->path_flags & ALEntry::kStripPathOnExtract) entry->storage->name.StripPath();
        if (entry->IsMarked()) {
            ++count;
            if (!ExtractEntry(*entry, monitor)) {
                finished = false;
                break;
            }
        }
        if (status.GetStatusCode() < 0) break;
    }
    if (finished) {
        monitor.NotifyOperation(ExtractEnd, this, nullptr);
        CollectEntryErrors(list);
    }
    if (opened_here) storage->Close();
    return status.GetStatusCode() < 0 ? status.GetStatusCode() : count;
}

bool ALArchive::ExtractEntry(ALEntry& entry, ALMonitor& monitor) {
    monitor.NotifyOperation(EntryExtractBegin, this, &entry);
    storage->Seek(entry.local_header_offset);
    SkipLocalHeader(entry);
    if (!entry.decompressor) {
        status.SetError(AL_CANT_CREATE_COMPRESSION_ENGINE,
                        L"Attempt to decompress without a decompressor");
        return false;
    }
    if (entry.IsEncrypted() && !entry.crypto_engine) {
        status.SetError(AL_MISSING_CRYPTO_ENGINE,
                        L"Attempt to extract an object without decryption engine");
        return false;
    }
    ALStorage& member = *entry.storage;
    // The declared size; Create starts the storage at size 0.
    const int32_t declared_size = member.size;
    if (IsUnsafeEntryName(member.GetName())) {
        member.status.SetError(AL_CANT_OPEN_FILE,
                               L"Refusing to create %s: the name leaves the target directory",
                               member.GetName());
    } else {
        member.Create(declared_size);
    }
    if (member.status.GetStatusCode() == AL_NO_ERRORS) {
        DecodeEntry(entry, monitor, declared_size);
    } else {
        member.Close();  // a member that could not be created keeps no buffer
    }
    storage->ReportProgress();
    monitor.job_done += static_cast<uint32_t>(entry.compressed_size);
    storage->SetMonitor(nullptr);
    monitor.NotifyOperation(EntryExtractEnd, this, &entry);
    member.SetMonitor(nullptr);
    return true;
}

void ALArchive::DecodeEntry(ALEntry& entry, ALMonitor& monitor, int32_t declared_size) {
    ALStorage& member = *entry.storage;
    const int32_t compressed_length = entry.compressed_size;
    monitor.object_start = storage->Tell();
    monitor.object_size = compressed_length;
    storage->SetMonitor(&monitor);
    // A member never gets more than it declares: a stream that inflates
    // beyond that fails the member instead of filling the disk.
    entry.decompressor->output_limit = static_cast<uint32_t>(declared_size);
    if (entry.crypto_engine) AttachCryptoEngine(*entry.crypto_engine);
    entry.decompressor->Decompress(*storage, member, compressed_length);
    storage->crypto_engine = nullptr;
    member.Close();
    EntryExtracted(entry);
    const uint32_t produced = member.GetCrc32();
    if (produced == entry.crc32) return;
    if (entry.crypto_engine) {
        member.status.SetError(AL_INVALID_KEY, L"Invalid key specified.");
        member.Delete();
        return;
    }
    // A failed write or an overrun already says why the bytes differ; the
    // mismatch must not hide it (a full disk is not a damaged archive).
    if (member.status.GetStatusCode() < 0) return;
    // Both values in their standard form (the registers are complemented).
    member.status.SetError(AL_CRC_ERROR, L"CRC32 was supposed to be %08lx, was %08lx",
                           ~entry.crc32, ~produced);
}

void ALArchive::AttachCryptoEngine(ALCryptoEngine& engine) {
    // Bytes of the member already loaded with its header are decoded here;
    // every later load is decoded by the storage itself.
    if (storage->buffer && storage->read_limit > storage->read_index) {
        engine.DecryptBytes(storage->buffer + storage->read_index,
                            storage->read_limit - storage->read_index);
    }
    storage->crypto_engine = &engine;
}

int32_t ALArchive::CollectEntryErrors(ALEntryList& list) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    for (ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        const ALStorage* member = entry->storage;
        if (!member || member->status.GetStatusCode() >= 0) continue;
        return status.SetError(member->status.GetStatusCode(), L"%s: %s", member->GetName(),
                               member->status.GetStatusDetail());
    }
    return status.GetStatusCode();
}
