// The write side of ALPkArchive: local records, the central directory and
// the end record, and Create, which writes the marked entries of a list.
//
// Every member is written the way installer payloads are laid out:
//   local header   50 4B 03 04, version needed (20; 63 for LZMA and
//                  Zstandard), flags, method, DOS time and date, CRC-32 and
//                  sizes 0, name length, extra length 0, the name in UTF-8
//                  with '/' separators;
//   data           as the entry's compressor writes it: deflated (method 8),
//                  LZMA (method 14) or Zstandard (method 93), or stored
//                  (method 0) when the compressor does not make it smaller;
//   descriptor     50 4B 07 08, CRC-32, compressed size, uncompressed size.
// The flag word is 0x0808 (a descriptor follows the data, the name is UTF-8)
// plus the deflate option in bits 1-2 for deflated members, or bit 1 (the
// stream ends with its end marker) for LZMA members. Records lie back
// to back from the ZIP start; the central directory follows the last one
// and the end record (no comment unless the archive has one) follows the
// directory. All offsets in the archive count from the ZIP start, which is
// wherever the storage stood when Create began (zip_start).
//
// A directory entry (storage with the directory attribute) is written as
// "name/" with no data. External attributes carry the DOS bits: 0x01
// read-only, 0x02 hidden, 0x04 system, 0x10 directory, 0x20 archive.
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "archive/codecs/lzma_compressor.h"
#include "archive/codecs/zstd_compressor.h"
#include "archive/compressors.h"
#include "archive/entry.h"
#include "archive/entry_list.h"
#include "archive/file_attributes.h"
#include "archive/pk_archive.h"
#include "archive/storage.h"
#include "platform/file_truncate.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kDirectorySignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr uint16_t kVersion = 20;            // 2.0: deflate, directories
constexpr uint16_t kFlagDescriptor = 0x0008; // sizes and CRC follow the data
constexpr uint16_t kVersionLzmaZstd = 63;  // 6.3: LZMA, Zstandard
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodLzma = 14;
constexpr uint16_t kMethodZstd = 93;
// Names, extras and comments the reader accepts are shorter than this.
constexpr size_t kMaxTextLength = 32767;
constexpr int32_t kMaxEntries = 0xFFFF;

// The member's name as the archive stores it: the storage name as a
// relative path with '/' separators, "name/" for a directory, UTF-8.
std::string StoredName(const ALEntry& entry) {
    ALNameString name(entry.storage->name);
    if (entry.path_flags & ALEntry::kStripPathOnStore) name.StripPath();
    name.MakeArchivePath();
    std::wstring text = name.GetName();
    if (entry.storage->attributes.Directory() && (text.empty() || text.back() != L'/')) {
        text.push_back(L'/');
    }
    return WideToUtf8(text);
}

int32_t EngineTypeOf(const ALEntry& entry) {
    return entry.compressor ? entry.compressor->engine_type : AL_ENGINE_COPY;
}

// Whether the entry's compressor transforms the data (anything but a copy),
// so that a member it does not make smaller is stored instead.
bool IsCompressed(const ALEntry& entry) {
    const int32_t type = EngineTypeOf(entry);
    return type == AL_ENGINE_ZIP_DEFLATE || type == AL_ENGINE_ZIP_LZMA || type == AL_ENGINE_ZIP_ZSTD;
}

uint16_t MethodOf(const ALEntry& entry) {
    switch (EngineTypeOf(entry)) {
        case AL_ENGINE_ZIP_DEFLATE: return kMethodDeflated;
        case AL_ENGINE_ZIP_LZMA: return kMethodLzma;
        case AL_ENGINE_ZIP_ZSTD: return kMethodZstd;
        default: return kMethodStored;
    }
}

uint16_t VersionNeededOf(const ALEntry& entry) {
    const uint16_t method = MethodOf(entry);
    return method == kMethodLzma || method == kMethodZstd ? kVersionLzmaZstd : kVersion;
}

uint16_t FlagsOf(const ALEntry& entry) {
    uint16_t flags = ALPkArchive::kFlagUtf8 | kFlagDescriptor;
    const int32_t type = EngineTypeOf(entry);
    if (type == AL_ENGINE_ZIP_DEFLATE) {
        const auto* deflate = dynamic_cast<const ALPkCompressor*>(entry.compressor);
        if (deflate) flags |= static_cast<uint16_t>((deflate->deflate_option & 3) << 1);
    } else if (type == AL_ENGINE_ZIP_LZMA) {
        flags |= ALLzmaCompressor::kZipFlagEndMarker;
    }
    return flags;
}

// The storage's time stamp in DOS form, held inside what DOS can express
// (1980-01-01 to 2107-12-31); no time stamp at all counts as 1980-01-01.
void DosTimeOf(const ALStorage& storage, uint16_t& dos_date, uint16_t& dos_time) {
    ALTimeDate time = storage.time_date;
    if (time.year < 1980) time = ALTimeDate(1980, 1, 1, 0, 0, 0);
    if (time.year > 2107) time = ALTimeDate(2107, 12, 31, 23, 59, 58);
    dos_date = time.PackDosDate();
    dos_time = time.PackDosTime();
}

uint32_t DosAttributesOf(const ALStorage& storage) {
    const ALFileAttributes& a = storage.attributes;
    return (a.ReadOnly() ? 0x01u : 0u) | (a.Hidden() ? 0x02u : 0u) | (a.System() ? 0x04u : 0u) |
           (a.Directory() ? 0x10u : 0u) | (a.Archive() ? 0x20u : 0u);
}

void WriteBytes(ALStorage& storage, const std::string& bytes) {
    storage.WriteBuffer(reinterpret_cast<const uint8_t*>(bytes.data()),
                        static_cast<int32_t>(bytes.size()));
}

}  // namespace

int32_t ALPkArchive::ReserveLocalHeader(ALEntry& entry) {
    ALStorage& out = *storage;
    entry.local_header_offset = out.Tell();
    const size_t length = kLocalHeaderSize + StoredName(entry).size();
    for (size_t i = 0; i < length; ++i) out.WriteChar(0);
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    return AL_NO_ERRORS;
}

int32_t ALPkArchive::WriteLocalHeader(ALEntry& entry) {
    ALStorage& out = *storage;
    const int32_t resume = out.Tell();
    const bool in_place = resume == entry.local_header_offset;
    if (!in_place) out.Seek(entry.local_header_offset);
    const std::string name = StoredName(entry);
    uint16_t dos_date, dos_time;
    DosTimeOf(*entry.storage, dos_date, dos_time);
    out.WriteUInt32LE(kLocalHeaderSignature);
    out.WriteUInt16LE(VersionNeededOf(entry));
    out.WriteUInt16LE(FlagsOf(entry));
    out.WriteUInt16LE(MethodOf(entry));
    out.WriteUInt16LE(dos_time);
    out.WriteUInt16LE(dos_date);
    // CRC-32 and both sizes follow the data in the descriptor.
    out.WriteUInt32LE(0);
    out.WriteUInt32LE(0);
    out.WriteUInt32LE(0);
    out.WriteUInt16LE(static_cast<uint16_t>(name.size()));
    out.WriteUInt16LE(0);
    WriteBytes(out, name);
    if (!in_place) out.Seek(resume);
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    return AL_NO_ERRORS;
}

int32_t ALPkArchive::MarkDirectoryStart() {
    ALStorage& out = *storage;
    directory_start = out.Tell();
    directory_entries_this_disk = 0;
    directory_entries_total = 0;
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    return AL_NO_ERRORS;
}

int32_t ALPkArchive::WriteDirectoryRecord(ALEntry& entry) {
    ALStorage& out = *storage;
    const std::string name = StoredName(entry);
    const std::string comment = WideToUtf8(entry.GetComment()).substr(0, kMaxTextLength);
    uint16_t dos_date, dos_time;
    DosTimeOf(*entry.storage, dos_date, dos_time);
    out.WriteUInt32LE(kDirectorySignature);
    out.WriteUInt16LE(VersionNeededOf(entry));  // made by: MS-DOS (0), that version
    out.WriteUInt16LE(VersionNeededOf(entry));  // needed to extract
    out.WriteUInt16LE(FlagsOf(entry));
    out.WriteUInt16LE(MethodOf(entry));
    out.WriteUInt16LE(dos_time);
    out.WriteUInt16LE(dos_date);
    out.WriteUInt32LE(~entry.crc32);
    out.WriteUInt32LE(static_cast<uint32_t>(entry.compressed_size));
    out.WriteUInt32LE(static_cast<uint32_t>(entry.storage->size));
    out.WriteUInt16LE(static_cast<uint16_t>(name.size()));
    out.WriteUInt16LE(0);  // extra field length
    out.WriteUInt16LE(static_cast<uint16_t>(comment.size()));
    out.WriteUInt16LE(0);  // disk number start
    out.WriteUInt16LE(0);  // internal attributes
    out.WriteUInt32LE(DosAttributesOf(*entry.storage));
    out.WriteUInt32LE(static_cast<uint32_t>(entry.local_header_offset - zip_start));
    WriteBytes(out, name);
    WriteBytes(out, comment);
    ++directory_entries_this_disk;
    ++directory_entries_total;
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    return AL_NO_ERRORS;
}

int32_t ALPkArchive::WriteEndRecord() {
    ALStorage& out = *storage;
    const int32_t end = out.Tell();
    end_record_position = end;
    directory_size = static_cast<uint32_t>(end - directory_start);
    directory_offset = directory_start - zip_start;
    const std::string text = WideToAnsi(comment.GetName());  // no UTF-8 flag here
    const std::string bytes = text.substr(0, kMaxTextLength);
    out.WriteUInt32LE(kEndSignature);
    out.WriteUInt16LE(this_disk);
    out.WriteUInt16LE(directory_start_disk);
    out.WriteUInt16LE(directory_entries_this_disk);
    out.WriteUInt16LE(directory_entries_total);
    out.WriteUInt32LE(directory_size);
    out.WriteUInt32LE(static_cast<uint32_t>(directory_offset));
    out.WriteUInt16LE(static_cast<uint16_t>(bytes.size()));
    WriteBytes(out, bytes);
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    return AL_NO_ERRORS;
}

// --- Create -----------------------------------------------------------------

namespace {

// Writes one member at the storage's position: local header, data,
// descriptor. False when the archive must stop (archive status set).
class MemberWriter {
public:
    MemberWriter(ALPkArchive& archive, ALEntry& entry)
        : archive_(archive), out_(*archive.storage), entry_(entry), input_(*entry.storage) {}

    bool Write() {
        const bool directory = input_.attributes.Directory();
        if (StoredName(entry_).size() > kMaxTextLength) {
            return Fail(AL_ILLEGAL_PARAMETER, L"Name too long for a ZIP entry: %s");
        }
        if (!directory && input_.Open() < 0) return FailFrom(input_.status);
        if (!directory && !RoomFor(input_.size)) {
            input_.Close();
            return Fail(AL_ILLEGAL_PARAMETER, L"Archive would reach 2 GB with %s");
        }
        if (!entry_.compressor && !directory && !UseCopyCompressor()) return false;
        entry_.local_header_offset = out_.Tell();
        if (archive_.WriteLocalHeader(entry_) < 0) return false;
        const bool written = directory ? WriteNoData() : WriteData();
        if (!directory) {
            input_.Close();
            // Close takes the size from the file system; the archive
            // describes the bytes actually read.
            input_.size = uncompressed_;
        }
        if (!written) return false;
        entry_.crc32 = crc_;
        entry_.compressed_size = compressed_;
        out_.WriteUInt32LE(kDescriptorSignature);
        out_.WriteUInt32LE(~crc_);
        out_.WriteUInt32LE(static_cast<uint32_t>(compressed_));
        out_.WriteUInt32LE(static_cast<uint32_t>(uncompressed_));
        return Healthy();
    }

    // The furthest position written, also by data later written over.
    int32_t furthest() const { return furthest_; }

private:
    bool WriteNoData() {
        crc_ = 0xFFFFFFFFu;
        compressed_ = uncompressed_ = 0;
        input_.size = 0;
        return Healthy();
    }

    // Compresses once; when the compressor did not make the data smaller,
    // goes back and stores the data instead, header included.
    bool WriteData() {
        const int32_t data_start = out_.Tell();
        if (!Compress(data_start)) return false;
        furthest_ = out_.Tell();
        if (!IsCompressed(entry_) || compressed_ < uncompressed_) return true;
        if (!UseCopyCompressor()) return false;
        if (out_.Seek(data_start) < 0 || input_.Seek(0) < 0) return Healthy() && FailFrom(input_.status);
        if (!Compress(data_start)) return false;
        return archive_.WriteLocalHeader(entry_) >= 0;
    }

    bool Compress(int32_t data_start) {
        ALCompressor& engine = *entry_.compressor;
        if (engine.Compress(input_, out_) < 0) {
            if (!Healthy()) return false;
            return FailFrom(engine.status);
        }
        crc_ = input_.GetCrc32();
        uncompressed_ = input_.Tell();
        compressed_ = out_.Tell() - data_start;
        return Healthy();
    }

    bool UseCopyCompressor() {
        ALCompressor* copy = new (std::nothrow) ALCopyCompressor();
        if (!copy) return Fail(AL_MEMORY_ALLOCATION_FAILURE, L"Out of memory when storing %s");
        delete entry_.compressor;
        entry_.compressor = copy;
        return true;
    }

    // Whether a member of size bytes (worst case: the compressor's
    // expansion; deflate's and Zstandard's stay below 1/256, LZMA's below
    // 1/32) still fits below 2 GB, where the library's 32-bit positions end.
    bool RoomFor(int32_t size) const {
        const int32_t growth = EngineTypeOf(entry_) == AL_ENGINE_ZIP_LZMA ? size / 32 : size / 256;
        const int64_t worst = int64_t{size} + growth + 1024 + 2 * kMaxTextLength;
        return size >= 0 && out_.Tell() + worst < std::numeric_limits<int32_t>::max();
    }

    bool Healthy() {
        if (out_.status.GetStatusCode() >= 0) return true;
        archive_.status.SetStatusFrom(out_.status);
        return false;
    }

    bool Fail(int32_t code, const wchar_t* format) {
        archive_.status.SetError(code, format, input_.GetName());
        return false;
    }

    // "<member>: <detail>" with the failed object's code.
    bool FailFrom(const ALStatusBlock& failed) {
        archive_.status.SetError(failed.GetStatusCode(), L"%s: %s", input_.GetName(),
                                 failed.GetStatusDetail());
        return false;
    }

    ALPkArchive& archive_;
    ALStorage& out_;
    ALEntry& entry_;
    ALStorage& input_;
    uint32_t crc_ = 0xFFFFFFFFu;
    int32_t furthest_ = 0;
    int32_t compressed_ = 0;
    int32_t uncompressed_ = 0;
};

// Whether the central directory and the end record of list, written from
// position on, stay below 2 GB with room for what a caller appends.
bool RoomForDirectory(ALEntryList& list, int32_t position) {
    int64_t size = int64_t{position} + 22 + kMaxTextLength + 65536;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (!e->IsMarked() || !e->storage) continue;
        size += 46 + int64_t(StoredName(*e).size()) + int64_t(WideToUtf8(e->GetComment()).size());
    }
    return size < std::numeric_limits<int32_t>::max();
}

}  // namespace

int32_t ALPkArchive::Create(ALEntryList& list) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (!storage) return status.SetError(AL_CANT_CREATE_STORAGE_OBJECT, L"No archive storage");
    int32_t marked = 0;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (e->IsMarked() && e->storage) ++marked;
    }
    if (marked > kMaxEntries) {
        return status.SetError(AL_ILLEGAL_PARAMETER,
                               L"Too many entries for ZIP file %s: %d (at most 65535)",
                               storage->GetName(), marked);
    }
    ALStorage& out = *storage;
    const bool opened = !out.buffer;
    if (opened) out.Create();
    if (out.status.GetStatusCode() < 0) return status.SetStatusFrom(out.status).GetStatusCode();
    zip_start = out.Tell();

    int32_t written = 0;
    int32_t furthest = 0;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (!e->IsMarked() || !e->storage) continue;
        MemberWriter writer(*this, *e);
        const bool ok = writer.Write();
        if (writer.furthest() > furthest) furthest = writer.furthest();
        if (!ok) break;
        ++written;
    }
    if (status.GetStatusCode() >= 0 && !RoomForDirectory(list, out.Tell())) {
        status.SetError(AL_ILLEGAL_PARAMETER, L"Central directory of %s would reach 2 GB",
                        out.GetName());
    }
    if (status.GetStatusCode() >= 0 && MarkDirectoryStart() >= 0) {
        for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
            if (!e->IsMarked() || !e->storage) continue;
            if (WriteDirectoryRecord(*e) < 0) break;
        }
        if (status.GetStatusCode() >= 0) WriteEndRecord();
    }
    const int32_t end = out.Tell();
    if (opened) {
        out.Close();
        CutStaleTail(out, furthest, end);
    }
    if (status.GetStatusCode() >= 0 && out.status.GetStatusCode() < 0) status.SetStatusFrom(out.status);
    return status.GetStatusCode() < 0 ? status.GetStatusCode() : written;
}

int32_t ALPkArchive::CutStaleTail(ALStorage& out, int32_t furthest, int32_t end) {
    // Only a file this archive created and closed itself can be cut here;
    // a caller that keeps the storage open writes on and cuts it later.
    if (status.GetStatusCode() < 0 || furthest <= end || out.object_type != AL_STORAGE_FILE) {
        return status.GetStatusCode();
    }
    int error = 0;
    if (!TruncateFile(out.GetName(), static_cast<uint32_t>(end), &error)) {
        return status.SetError(AL_WRITE_ERROR, L"Cannot cut %s to %d bytes.  errno = %d",
                               out.GetName(), end, static_cast<int32_t>(error));
    }
    return AL_NO_ERRORS;
}
