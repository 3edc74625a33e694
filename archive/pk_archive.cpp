#include "archive/pk_archive.h"

#include <cstring>
#include <new>
#include <string>

#include "archive/engine.h"
#include "archive/entry.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/storage.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

constexpr uint8_t kSignature[4] = {'P', 'K', 5, 6};
constexpr uint8_t kDirectorySignature[4] = {'P', 'K', 1, 2};
constexpr uint8_t kZip64LocatorSignature[4] = {'P', 'K', 6, 7};
// The ZIP64 end-record locator (20 bytes) stands right before the end record.
constexpr int32_t kZip64LocatorSize = 20;
// Values of the 32-bit and 16-bit fields that point to ZIP64 records.
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFFu;
constexpr uint16_t kZip64Marker16 = 0xFFFFu;

// Moves the storage's read position n bytes on, through the buffer; stops
// early at the end of the data or on a failure.
void SkipBytes(ALStorage& storage, uint32_t n) {
    while (n > 0) {
        int32_t available = storage.read_limit - storage.read_index;
        if (available <= 0) {
            if (storage.LoadBuffer(storage.file_position) < 0) return;
            continue;
        }
        const uint32_t take = n < static_cast<uint32_t>(available) ? n : available;
        storage.read_index += static_cast<int32_t>(take);
        n -= take;
    }
}

// Reads a name or comment of length bytes: UTF-8 when the record says so
// (flag bit 11), the ANSI code page otherwise. Only the bytes actually
// delivered are converted. False when memory runs out.
bool ReadZipText(ALStorage& storage, uint32_t length, bool utf8, std::wstring& text) {
    try {
        std::string bytes(length, '\0');
        const int32_t got =
            length ? storage.ReadBuffer(reinterpret_cast<uint8_t*>(&bytes[0]),
                                        static_cast<int32_t>(length))
                   : 0;
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        text = utf8 ? Utf8ToWide(bytes) : AnsiToWide(bytes.data(), bytes.size());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool EndsWithSeparator(const wchar_t* name) {
    const size_t length = wcslen(name);
    return length > 0 && IsPathSeparator(name[length - 1]);
}

}  // namespace

ALPkArchive::ALPkArchive(const wchar_t* file_name)
    : ALArchive(new (std::nothrow) ALFile(file_name, ALStorage::kDefaultBufferSize, NameCaseIgnore),
                true) {}

ALPkArchive::ALPkArchive(ALStorage& storage) : ALArchive(&storage, false) {}

ALPkArchive::~ALPkArchive() = default;

int32_t ALPkArchive::EngineTypeFor(uint16_t method, uint16_t flags) {
    if (method == 8) return AL_ENGINE_ZIP_DEFLATE + ((flags >> 1) & 3);
    // 100 + 9..11 would be the types of the deflate options: Deflate64 or
    // implode data must find no engine, not the inflater.
    if (method >= 9 && method <= 11) return kForeignMethodTypeBase + method;
    return AL_ENGINE_ZIP_STORED + method;
}

int32_t ALPkArchive::SavePrivateData() { return AL_NO_ERRORS; }

int32_t ALPkArchive::LoadPrivateData() { return AL_NO_ERRORS; }

int32_t ALPkArchive::SkipLocalHeader(ALEntry&) {
    // Signature, versions, flags, method, time, date, CRC-32 and sizes.
    SkipBytes(*storage, 26);
    uint16_t name_length = 0;
    uint16_t extra_length = 0;
    storage->ReadUInt16LE(name_length);
    storage->ReadUInt16LE(extra_length);
    SkipBytes(*storage, static_cast<uint32_t>(name_length) + extra_length);
    return storage->status.GetStatusCode();
}

int32_t ALPkArchive::SkipToLocalExtra(ALEntry&) {
    SkipBytes(*storage, 26);
    uint16_t name_length = 0;
    storage->ReadUInt16LE(name_length);
    SkipBytes(*storage, static_cast<uint32_t>(name_length) + 2);
    return storage->status.GetStatusCode();
}

int32_t ALPkArchive::FindEndRecord() {
    ALStorage& s = *storage;
    end_record_position = -1;
    const int32_t window = s.size <= 0 ? 0 : (s.size < kEndRecordWindow ? s.size : kEndRecordWindow);
    // The chunk, followed by the first bytes of the chunk read before it
    // (the one behind it in the storage), so that a signature crossing the
    // boundary is seen.
    uint8_t bytes[kSearchChunk + 3];
    int32_t follow = 0;
    int32_t chunk_end = s.size;
    // The signature nearest to the end, used when no signature passes as a
    // candidate: reading its directory then fails as a bad record.
    int32_t nearest = -1;
    for (int32_t searched = 0; searched < window;) {
        const int32_t n = (window - searched < kSearchChunk) ? window - searched : kSearchChunk;
        const int32_t start = chunk_end - n;
        memmove(bytes + n, bytes, static_cast<size_t>(follow));
        if (s.Seek(start) < 0 || s.ReadBuffer(bytes, n) != n) break;
        for (int32_t i = n - 1; i >= 0 && s.status.GetStatusCode() >= 0; --i) {
            if (i + 4 > n + follow || memcmp(bytes + i, kSignature, 4) != 0) continue;
            if (nearest < 0) nearest = start + i;
            if (IsEndRecordCandidate(start + i)) {
                end_record_position = start + i;
                return AL_NO_ERRORS;
            }
        }
        if (s.status.GetStatusCode() < 0) break;
        follow = n < 3 ? n : 3;
        chunk_end = start;
        searched += n;
    }
    if (s.status.GetStatusCode() < 0) return status.SetStatusFrom(s.status).GetStatusCode();
    if (nearest >= 0) {
        end_record_position = nearest;
        zip64_end_record = false;
        return AL_NO_ERRORS;
    }
    return status.SetError(AL_INVALID_ARCHIVE, L"Can't locate end of central directory in ZIP file %s",
                           s.GetName());
}

bool ALPkArchive::IsEndRecordCandidate(int32_t position) {
    ALStorage& s = *storage;
    // The signature may just as well be part of an archive comment, of a
    // member's data or of bytes that follow the archive.
    if (static_cast<int64_t>(position) + kEndRecordSize > s.size) return false;
    uint8_t locator[4] = {0, 0, 0, 0};
    if (position >= kZip64LocatorSize) {
        s.Seek(position - kZip64LocatorSize);
        s.ReadBuffer(locator, 4);
    }
    uint32_t size = 0;
    uint32_t offset = 0;
    s.Seek(position + 12);
    s.ReadUInt32LE(size);
    s.ReadUInt32LE(offset);
    if (s.status.GetStatusCode() < 0) return false;
    // A ZIP64 archive is taken as found, so that ReadDirectory refuses it
    // by name instead of searching on into its data.
    zip64_end_record = memcmp(locator, kZip64LocatorSignature, 4) == 0 ||
                       size == kZip64Marker32 || offset == kZip64Marker32;
    if (zip64_end_record) return true;
    if (size == 0) return true;  // an empty directory
    const int64_t start = static_cast<int64_t>(position) - size;
    if (start < 0) return false;
    uint8_t signature[4] = {0, 0, 0, 0};
    s.Seek(static_cast<int32_t>(start));
    return s.ReadBuffer(signature, 4) == 4 && memcmp(signature, kDirectorySignature, 4) == 0;
}

int32_t ALPkArchive::ReadEndRecord() {
    ALStorage& s = *storage;
    s.Seek(end_record_position + 4);
    s.ReadUInt16LE(this_disk);
    s.ReadUInt16LE(directory_start_disk);
    s.ReadUInt16LE(directory_entries_this_disk);
    s.ReadUInt16LE(directory_entries_total);
    s.ReadUInt32LE(directory_size);
    uint32_t offset = 0;
    s.ReadUInt32LE(offset);
    directory_offset = static_cast<int32_t>(offset);
    uint16_t comment_length = 0;
    s.ReadUInt16LE(comment_length);
    std::wstring text;
    if (ReadZipText(s, comment_length, false, text)) comment.Assign(text.c_str());
    return AL_NO_ERRORS;
}

int32_t ALPkArchive::ReadDirectory(ALEntryList& list) {
    if (!storage) return status.GetStatusCode();  // the constructor's failure
    ALMonitor& monitor = list.GetMonitor();
    monitor.NotifyOperation(DirectoryReadBegin, this, nullptr);
    ALStorage& s = *storage;
    const bool opened_here = s.buffer == nullptr;
    if (opened_here) s.Open();
    int32_t result;
    if (s.status.GetStatusCode() < 0) {
        result = status.SetStatusFrom(s.status).GetStatusCode();
    } else if (FindEndRecord() < 0) {
        result = status.GetStatusCode();
    } else {
        ReadEndRecord();
        // Sizes and offsets of a ZIP64 archive live in records this reader
        // does not read; the 32-bit fields would be misread.
        result = zip64_end_record
                     ? status.SetError(AL_INVALID_ARCHIVE,
                                       L"ZIP64 archives are not supported: ZIP file %s", s.GetName())
                     : WalkDirectory(list);
        monitor.NotifyOperation(DirectoryReadEnd, this, nullptr);
    }
    if (opened_here) s.Close();
    return result;
}

int32_t ALPkArchive::WalkDirectory(ALEntryList& list) {
    ALStorage& s = *storage;
    // Where the directory really starts. The end record also says where it
    // starts counted from the beginning of the ZIP data; the difference is
    // the length of whatever precedes the ZIP data in the storage.
    const int64_t start = static_cast<int64_t>(end_record_position) - directory_size;
    ALEntry* const last_old = list.sentinel.previous;
    int32_t count = 0;
    if (start < 0 || s.Seek(static_cast<int32_t>(start)) < 0) {
        RecordBadDirectory();
    } else {
        while (NextRecordIsEntry()) {
            bool stop = false;
            if (ReadDirectoryRecord(list, stop)) ++count;
            if (stop) break;
        }
    }
    CorrectOffsets(list, last_old, start - static_cast<uint32_t>(directory_offset));
    return status.GetStatusCode() < 0 ? status.GetStatusCode() : count;
}

int32_t ALPkArchive::RecordBadDirectory() {
    return status.SetError(AL_INVALID_ARCHIVE, L"Bad record in central directory of ZIP file %s",
                           storage->GetName());
}

bool ALPkArchive::NextRecordIsEntry() {
    ALStorage& s = *storage;
    uint8_t signature[4];
    if (s.ReadBuffer(signature, 4) < 4) {
        // The records ran into the end of the storage before the end record:
        // the directory is damaged, whatever the storage says.
        if (s.status.GetStatusCode() < 0) {
            status.SetStatusFrom(s.status);
        } else {
            RecordBadDirectory();
        }
        return false;
    }
    if (signature[0] != 'P' || signature[1] != 'K') {
        RecordBadDirectory();
        return false;
    }
    if (signature[2] == 5 && signature[3] == 6) return false;  // the end record
    if (signature[2] != 1 || signature[3] != 2) {
        RecordBadDirectory();
        return false;
    }
    return true;
}

ALEntry* ALPkArchive::CreateEntry(ALEntryList& list, int32_t engine_type, bool encrypted) {
    const ALPrototypeSet& prototypes = list.prototypes;
    ALDecompressor* decompressor = prototypes.CreateDecompressor(engine_type);
    ALCompressor* compressor = prototypes.CreateCompressor(engine_type);
    ALStorage* entry_storage = prototypes.CreateStorage(L"", AL_STORAGE_DEFAULT);
    if (!entry_storage) {
        delete compressor;
        delete decompressor;
        status.SetError(AL_CANT_CREATE_STORAGE_OBJECT,
                        L"Failure creating storage object in ZIP file %s", storage->GetName());
        return nullptr;
    }
    ALCryptoEngine* crypto = encrypted ? prototypes.CreateCryptoEngine(AL_ENGINE_DEFAULT) : nullptr;
    ALEntry* entry = list.AddEntry(entry_storage, compressor, decompressor, crypto);
    if (!entry) {
        delete compressor;
        delete decompressor;
        delete entry_storage;
        delete crypto;
        status.SetError(AL_MEMORY_ALLOCATION_FAILURE,
                        L"Failure creating ALEntry object when reading directory in ZIP file %s",
                        storage->GetName());
        return nullptr;
    }
    entry->SetEncrypted(encrypted);
    return entry;
}

bool ALPkArchive::ReadDirectoryRecord(ALEntryList& list, bool& stop) {
    ALStorage& s = *storage;
    stop = true;
    SkipBytes(s, 4);  // version made by, version needed to extract
    uint16_t flags = 0;
    uint16_t method = 0;
    s.ReadUInt16LE(flags);
    s.ReadUInt16LE(method);
    const bool encrypted = (flags & kFlagEncrypted) != 0;
    flags &= static_cast<uint16_t>(~kFlagEncrypted);
    ALEntry* entry = CreateEntry(list, EngineTypeFor(method, flags), encrypted);
    if (!entry) return false;
    ALStorage& member = *entry->storage;

    uint16_t dos_time = 0, dos_date = 0;
    s.ReadUInt16LE(dos_time);
    s.ReadUInt16LE(dos_date);
    member.time_date.FromDosDateTime(dos_date, dos_time);
    uint32_t crc = 0, compressed = 0, uncompressed = 0;
    s.ReadUInt32LE(crc);
    entry->crc32 = ~crc;
    s.ReadUInt32LE(compressed);
    entry->compressed_size = static_cast<int32_t>(compressed);
    s.ReadUInt32LE(uncompressed);
    member.size = static_cast<int32_t>(uncompressed);
    uint16_t name_length = 0, extra_length = 0, comment_length = 0, disk = 0, internal = 0;
    s.ReadUInt16LE(name_length);
    s.ReadUInt16LE(extra_length);
    s.ReadUInt16LE(comment_length);
    s.ReadUInt16LE(disk);
    s.ReadUInt16LE(internal);
    uint32_t external = 0, local_offset = 0;
    s.ReadUInt32LE(external);
    member.attributes.SetFromDosAttributes(external & 0xFF);
    s.ReadUInt32LE(local_offset);
    entry->local_header_offset = static_cast<int32_t>(local_offset);

    // The record's texts must end before the end record: lengths that reach
    // past it describe no record that is there.
    if (static_cast<int64_t>(s.Tell()) + name_length + extra_length + comment_length >
        end_record_position) {
        RecordBadDirectory();
        return true;
    }
    const bool utf8 = (flags & kFlagUtf8) != 0;
    if (!ReadMemberTexts(list, *entry, name_length, extra_length, comment_length, utf8)) {
        return true;
    }
    if (s.status.GetStatusCode() < 0) {
        status.SetStatusFrom(s.status);
        return true;
    }
    // The true sizes and offset of such a member are in its ZIP64 extra
    // field; the member fails instead of being read with the markers.
    if (compressed == kZip64Marker32 || uncompressed == kZip64Marker32 ||
        local_offset == kZip64Marker32 || disk == kZip64Marker16) {
        member.status.SetError(AL_INVALID_ARCHIVE,
                               L"Refusing to extract %s: ZIP64 members are not supported",
                               member.GetName());
    }
    list.GetMonitor().ShowMessage(DirectoryEntryText, L"%s", member.GetName());
    stop = false;
    return true;
}

bool ALPkArchive::ReadMemberTexts(ALEntryList& list, ALEntry& entry, uint16_t name_length,
                                  uint16_t extra_length, uint16_t comment_length, bool utf8) {
    ALStorage& s = *storage;
    ALStorage& member = *entry.storage;
    std::wstring text;
    if (!ReadZipText(s, name_length, utf8, text)) {
        status.SetError(AL_MEMORY_ALLOCATION_FAILURE,
                        L"Failure creating ALEntry object when reading directory in ZIP file %s",
                        s.GetName());
        return false;
    }
    member.name.Assign(text.c_str());
    // A NUL byte would cut the name short into another, harmless-looking one.
    if (text.find(L'\0') != std::wstring::npos) {
        member.status.SetError(AL_CANT_OPEN_FILE, L"Refusing to create %s: the name holds a NUL byte",
                               member.GetName());
    }
    // Tools that write no DOS attributes still end a directory's name with
    // a separator; such a member is a directory, never a file.
    if (EndsWithSeparator(member.GetName())) member.attributes.SetDirectory(true);
    SkipBytes(s, extra_length);
    if (!ReadZipText(s, comment_length, utf8, text)) {
        status.SetError(AL_MEMORY_ALLOCATION_FAILURE,
                        L"Failure creating ALEntry object when reading directory in ZIP file %s",
                        s.GetName());
        return false;
    }
    if (entry.SetComment(comment_length ? text.c_str() : nullptr, list.status) < 0) {
        status.SetStatusFrom(list.status);
        return false;
    }
    return true;
}

void ALPkArchive::CorrectOffsets(ALEntryList& list, ALEntry* last_old, int64_t correction) {
    for (ALEntry* entry = list.GetNextEntry(last_old); entry; entry = list.GetNextEntry(entry)) {
        const int64_t corrected =
            static_cast<int64_t>(static_cast<uint32_t>(entry->local_header_offset)) + correction;
        // Offsets that point outside any storage wrap around and simply
        // read nothing useful; the CRC check then fails the member.
        entry->local_header_offset = static_cast<int32_t>(static_cast<uint32_t>(corrected));
    }
}
