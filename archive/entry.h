// ALEntry: one member of an archive, kept in the circular doubly linked
// list of an ALEntryList. The ring is headed by a sentinel entry (no
// storage) that links to itself while the list is empty; iteration starts at
// the sentinel's next entry and stops on reaching the sentinel again.
//
// An entry owns its storage (the member's name, size, time stamp and
// attributes; the object extraction writes), its engines and its comment.
#pragma once

#include <cstdint>

#include "archive/status.h"

class ALCompressor;
class ALCryptoEngine;
class ALDecompressor;
class ALEntryList;
class ALStorage;

class ALEntry {
public:
    // Flag word A.
    static constexpr int32_t kMarked = 0x0001;
    static constexpr int32_t kEncrypted = 0x0002;
    // Flag word B.
    static constexpr int32_t kStripPathOnStore = 0x0001;
    static constexpr int32_t kStripPathOnExtract = 0x0002;

    // The sentinel of list: no storage, linked to itself.
    explicit ALEntry(ALEntryList* list);
    // A member of list, linked at the tail of the ring that sentinel heads.
    // Takes ownership of the four objects (each may be null); marked, and
    // encrypted when a crypto engine is given.
    ALEntry(ALEntryList* list, ALEntry& sentinel, ALStorage* storage, ALCompressor* compressor,
            ALDecompressor* decompressor, ALCryptoEngine* crypto_engine);
    // Deletes the comment, the storage and the engines, and unlinks.
    ~ALEntry();
    ALEntry(const ALEntry&) = delete;
    ALEntry& operator=(const ALEntry&) = delete;

    // Replaces the comment with a copy of text (null: no comment). When the
    // copy cannot be allocated, records AL_MEMORY_ALLOCATION_FAILURE in
    // list_status (the owning list's status) and returns it.
    int32_t SetComment(const wchar_t* text, ALStatusBlock& list_status);
    // The comment, or empty text.
    const wchar_t* GetComment() const { return comment ? comment : L""; }

    bool IsMarked() const { return (flags & kMarked) != 0; }
    void SetMarked(bool on) { flags = on ? (flags | kMarked) : (flags & ~kMarked); }
    bool IsEncrypted() const { return (flags & kEncrypted) != 0; }
    void SetEncrypted(bool on) { flags = on ? (flags | kEncrypted) : (flags & ~kEncrypted); }

    wchar_t* comment = nullptr;
    ALEntry* next;
    ALEntry* previous;
    ALEntryList* list;
    int32_t compressed_size = -1;
    // CRC-32 in complemented form: what a CRC register started at
    // 0xFFFFFFFF holds at the end of the data.
    uint32_t crc32 = 0;
    int32_t flags = 0;
    int32_t local_header_offset = -1;
    int32_t path_flags = 0;
    ALStorage* storage = nullptr;
    ALCompressor* compressor = nullptr;
    ALDecompressor* decompressor = nullptr;
    ALCryptoEngine* crypto_engine = nullptr;
};
