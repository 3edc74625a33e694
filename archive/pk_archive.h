// ALPkArchive: the ZIP flavour of ALArchive, and the one place where the ZIP
// structures read by the library are laid out byte by byte.
//
// The ZIP data need not start at position 0 of the storage: a self-extractor
// carries it behind its executable image. ReadDirectory finds the end record
// by a backward search from the end of the storage and corrects every
// member's local-header offset by where the central directory really is
// minus where the end record says it is (the length of whatever precedes the
// ZIP data), so the same code reads plain ZIP files and appended ones. When
// something follows the ZIP data that must not be taken for it (a signed
// executable's certificate table), the caller bounds the storage's reads
// first (ALStorage::LimitReads): the search and every later read then end
// at the bound.
//
// ZIP end record (22 bytes + comment), little-endian:
//   0 signature 50 4B 05 06     4 number of this disk
//   6 disk of the directory     8 directory records on this disk
//  10 total directory records  12 size of the central directory
//  16 offset of the central directory (from the ZIP start)
//  20 comment length           22 comment
// Central directory record (46 bytes + name + extra + comment):
//   0 signature 50 4B 01 02     4 version made by      6 version needed
//   8 flag word (bit 0 encrypted, bits 1-2 deflate option, bit 11 UTF-8)
//  10 method                   12 DOS time            14 DOS date
//  16 CRC-32                   20 compressed size     24 uncompressed size
//  28 name length              30 extra length        32 comment length
//  34 disk number start        36 internal attributes 38 external attributes
//  42 offset of the local header (from the ZIP start)
// Local header (30 bytes + name + extra), followed by the member's data:
//   0 signature 50 4B 03 04 ... 26 name length  28 extra length
#pragma once

#include <cstdint>

#include "archive/archive.h"

class ALPkArchive : public ALArchive {
public:
    // Signatures and sizes of the ZIP records.
    static constexpr int32_t kEndRecordSize = 22;
    static constexpr int32_t kDirectoryRecordSize = 46;
    static constexpr int32_t kLocalHeaderSize = 30;
    // Only the last 66,000 bytes of a storage are searched for the end record.
    static constexpr int32_t kEndRecordWindow = 66000;
    static constexpr int32_t kSearchChunk = 256;
    // Flag word bits.
    static constexpr uint16_t kFlagEncrypted = 0x0001;
    static constexpr uint16_t kFlagUtf8 = 0x0800;

    // Opens nothing yet: creates an ALFile for file_name (4096-byte buffer,
    // NameCaseIgnore) and owns it.
    explicit ALPkArchive(const wchar_t* file_name);
    // Binds the archive to a caller's storage, which it does not own.
    explicit ALPkArchive(ALStorage& storage);
    ~ALPkArchive() override;

    // Write side (pk_archive_write.cpp).
    // Writes every marked entry of list as a ZIP archive starting at the
    // storage's current position (created first when it has no buffer):
    // the local records, the central directory and the end record. See
    // pk_archive_write.cpp for the record layout. Returns the number of
    // members written or the negative archive status code. A member that
    // deflate made larger is stored instead, rewritten in place, which can
    // leave stale bytes behind the end record: Create cuts a file that it
    // created itself; a caller that handed over an open storage cuts it
    // after its own last byte (sea-build does).
    int32_t Create(ALEntryList& list);
    int32_t ReserveLocalHeader(ALEntry& entry) override;
    int32_t WriteLocalHeader(ALEntry& entry) override;
    int32_t MarkDirectoryStart() override;
    int32_t WriteDirectoryRecord(ALEntry& entry) override;
    int32_t WriteEndRecord() override;

    // Reads past the local header at the storage's position: afterwards the
    // storage stands at the member's data. The signature is not compared.
    int32_t SkipLocalHeader(ALEntry& entry) override;
    // Skips 26 bytes, reads the name length n and skips n + 2 bytes.
    int32_t SkipToLocalExtra(ALEntry& entry) override;
    // A ZIP archive keeps no private data: 0, nothing written or read.
    int32_t SavePrivateData() override;
    int32_t LoadPrivateData() override;

    // Finds the end record, walks the central directory from where the end
    // record says it ends, creates one entry per record (storage, engines
    // and crypto engine cloned from the list's prototypes for the record's
    // engine type) and corrects the new entries' local-header offsets.
    // Monitor events DirectoryReadBegin, DirectoryEntryText per record,
    // DirectoryReadEnd. Returns the number of entries added or the negative
    // status code; entries read before a bad record stay in the list.
    int32_t ReadDirectory(ALEntryList& list) override;

    // Searches the last 66,000 bytes of the storage's data (which end at its
    // read bound when it has one, see ALStorage::LimitReads) backwards in
    // 256-byte chunks for the
    // end record signature; the match nearest to the end that passes
    // IsEndRecordCandidate wins, so that a signature inside a comment or in
    // bytes after the archive is passed over. When none passes, the match
    // nearest to the end stands (its directory then reads as a bad record).
    // 0 and end_record_position set, or AL_INVALID_ARCHIVE (position -1).
    int32_t FindEndRecord();
    // A signature at position can be the end record: the 22 bytes fit in
    // the storage, and the central directory it describes starts inside the
    // storage with a directory record signature, or is empty. A ZIP64 end
    // record (locator in front, or a size or offset of 0xFFFFFFFF) passes
    // too and sets zip64_end_record, so that ReadDirectory can refuse it.
    bool IsEndRecordCandidate(int32_t position);
    // Reads the end record at end_record_position into the fields below and
    // the archive comment. Returns 0; read errors stay in the storage status.
    int32_t ReadEndRecord();

    // The engine type of a directory record: 108 + deflate option for
    // method 8, 100 + method for any other method, except methods 9 to 11
    // (Deflate64, implode, reserved), whose 109..111 are taken by the
    // deflate options: they get 1000 + method, for which nothing clones.
    static constexpr int32_t kForeignMethodTypeBase = 1000;
    static int32_t EngineTypeFor(uint16_t method, uint16_t flags);

    int32_t end_record_position = -1;
    uint16_t this_disk = 0;
    uint16_t directory_start_disk = 0;
    uint16_t directory_entries_this_disk = 0;
    uint16_t directory_entries_total = 0;
    uint32_t directory_size = 0;
    // Where the write side started the central directory (-1: not yet).
    int32_t directory_start = -1;
    // Where the write side started the ZIP data in the storage: every offset
    // it writes into the archive counts from here. (Entries keep storage
    // positions, as ReadDirectory leaves them after its correction.)
    int32_t zip_start = 0;
    // The end record found belongs to a ZIP64 archive (not supported).
    bool zip64_end_record = false;

private:
    // Write side: cuts a file this archive created at end when data were
    // written beyond it (furthest). Returns the archive status code.
    int32_t CutStaleTail(ALStorage& out, int32_t furthest, int32_t end);
    // Walks the records from the directory start to the end record and
    // corrects the offsets of the entries added. Count or status code.
    int32_t WalkDirectory(ALEntryList& list);
    // Reads the next record signature: true for a directory record; false
    // at the end record, or with AL_INVALID_ARCHIVE (or the storage's
    // failure) recorded for anything else, including the end of the data.
    bool NextRecordIsEntry();
    int32_t RecordBadDirectory();
    // Makes the entry of one record with its objects cloned from the
    // list's prototypes; null with the failure recorded.
    ALEntry* CreateEntry(ALEntryList& list, int32_t engine_type, bool encrypted);
    // Reads one central directory record after its signature into a new
    // entry of list. True when an entry was added; stop is set when the walk
    // must end (the failure recorded).
    bool ReadDirectoryRecord(ALEntryList& list, bool& stop);
    // Name, extra field and comment of a record. False on a failure (recorded).
    bool ReadMemberTexts(ALEntryList& list, ALEntry& entry, uint16_t name_length,
                         uint16_t extra_length, uint16_t comment_length, bool utf8);
    // Adds correction to the local-header offsets of the entries after
    // last_old (the last entry that was in the list before this call).
    void CorrectOffsets(ALEntryList& list, ALEntry* last_old, int64_t correction);
};
