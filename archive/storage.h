// ALStorage: the abstract buffered storage object through which every byte
// of the archive library passes. It owns an I/O buffer, a name, a time
// stamp, attributes, a running CRC-32 and a status block, and builds byte,
// block, integer and string I/O on a few primitives that a concrete class
// supplies (load a buffer, flush a buffer, seek, open/create/close).
//
// Virtual slots, in order:
//    0 destructor
//    1 SavePrivateData(archive)   writes a 16-bit big-endian zero
//    2 LoadPrivateData(archive)   reads and discards a 16-bit length
//    3 Open                       read access; the buffer is allocated
//    4 Create(size hint)          write access; the created flag is set
//    5 Close                      flush, release the buffer
//    6 LoadBuffer(position)       abstract: fill the buffer from position
//    7 FlushBuffer                abstract: write the pending bytes
//    8 Seek(position)             abstract
//    9 ReportProgress             monitor update, then the message pump
//   10 Rename(new name, delete existing)      abstract
//   11 RevertRename(delete existing)          abstract
//   12 RenameToBackup(delete existing)        abstract
//   13 Delete                                 abstract
//   14 Clone(name, object type)               abstract
//
// Buffer fields: while reading, bytes [read_index, read_limit) of the buffer
// are loaded and unread and file_position is the object position just past
// them; while writing, bytes [0, write_index) wait to be flushed and
// file_position is the object position of buffer[0]. Engines move data
// through these fields directly, calling LoadBuffer/FlushBuffer at the ends.
//
// The status is sticky. Open, Create, LoadBuffer, FlushBuffer, Seek and
// WriteBuffer return the current code at once (WriteBuffer: 0 bytes) when it
// is negative. ReadChar, ReadBuffer, ReadString, Close, Rename,
// RevertRename, RenameToBackup and Delete run regardless and may replace an
// earlier failure with a new one. End of data is not a failure: LoadBuffer
// and ReadChar return AL_END_OF_FILE (-1) with the status untouched.
#pragma once

#include <cstdint>

#include "archive/file_attributes.h"
#include "archive/name_string.h"
#include "archive/status.h"
#include "archive/time_date.h"

class ALCryptoEngine;
class ALMonitor;

// Object types of storages (Clone's second argument).
constexpr int32_t AL_STORAGE_DEFAULT = -1;
constexpr int32_t AL_STORAGE_FILE = 1;

class ALStorage {
public:
    // The buffer size of every storage object in the system.
    static constexpr int32_t kDefaultBufferSize = 4096;

    ALStorage(const wchar_t* name, int32_t buffer_size, int32_t object_type, ALNameCase mode);
    virtual ~ALStorage();
    ALStorage(const ALStorage&) = delete;
    ALStorage& operator=(const ALStorage&) = delete;

    virtual int32_t SavePrivateData(ALStorage& archive);
    virtual int32_t LoadPrivateData(ALStorage& archive);
    // Base: allocates the buffer, resets indices and CRC. 0 or -1200.
    virtual int32_t Open();
    // Base: as Open, plus size 0 and the created flag. 0 or -1200.
    virtual int32_t Create(int32_t size_hint = -1);
    // Base: releases the buffer. Returns the status code.
    virtual int32_t Close();
    // Loads up to buffer_size bytes from position: the count, -1 at the end
    // of data, or a failure code.
    virtual int32_t LoadBuffer(int32_t position) = 0;
    // Writes the pending bytes and empties the buffer in both directions.
    virtual int32_t FlushBuffer() = 0;
    virtual int32_t Seek(int32_t position) = 0;
    virtual void ReportProgress();
    // With new_name: renames the object from its name to new_name; with
    // null: from the previous name to the current one.
    virtual int32_t Rename(const wchar_t* new_name, bool delete_existing) = 0;
    virtual int32_t RevertRename(bool delete_existing) = 0;
    virtual int32_t RenameToBackup(bool delete_existing) = 0;
    virtual int32_t Delete() = 0;
    virtual ALStorage* Clone(const wchar_t* name, int32_t object_type) const = 0;

    // --- byte and block I/O -------------------------------------------------
    // A byte 0..255, or a negative value (end of data or a failure code).
    int ReadChar() {
        if (read_index >= read_limit) {
            const int32_t loaded = LoadBuffer(file_position);
            if (loaded < 0) return loaded;
        }
        return buffer[read_index++];
    }
    // The byte written (0..255) or the failure code.
    int WriteChar(int c) {
        if (write_index >= buffer_size || !buffer) return WriteCharSlow(c);
        buffer[write_index++] = static_cast<uint8_t>(c);
        return c & 0xFF;
    }
    // Number of bytes delivered: n unless the data ran out or a failure.
    int32_t ReadBuffer(uint8_t* destination, int32_t n);
    // Number of bytes accepted; 0 at once when the status is negative.
    int32_t WriteBuffer(const uint8_t* source, int32_t n);
    // The logical position of the next byte read or written.
    int32_t Tell() const {
        if (write_index != 0) return file_position + write_index;
        return file_position - (read_limit - read_index);
    }

    // --- integers; each returns the status code ------------------------------
    // A read that meets the end of data ORs the -1 into the value, so callers
    // check the status and their own bounds.
    int32_t WriteUInt16LE(uint16_t value);
    int32_t WriteUInt32LE(uint32_t value);
    int32_t WriteUInt16BE(uint16_t value);
    int32_t WriteUInt32BE(uint32_t value);
    int32_t ReadUInt16LE(uint16_t& value);
    int32_t ReadUInt32LE(uint32_t& value);
    int32_t ReadUInt16BE(uint16_t& value);
    int32_t ReadUInt32BE(uint32_t& value);

    // --- strings: 16-bit big-endian length, then ANSI bytes, no terminator ---
    // Reads length bytes (length -1: read the length first) from the ANSI
    // code page into target. 0, or -1993 / -1999.
    int32_t ReadString(ALNameString& target, int16_t length);
    int32_t WriteString(const wchar_t* text);

    // --- CRC-32 -------------------------------------------------------------
    // Switches the running CRC on with the register at initial (0xFFFFFFFF).
    void StartCrc32(uint32_t initial);
    // Folds the buffer's first count bytes into the register (after the
    // crypto engine's transform). Called by LoadBuffer and FlushBuffer.
    void UpdateCrc32(int32_t count, bool reading);
    // Flushes pending writes, switches the CRC off and returns the register:
    // the complement of the standard CRC-32 of the data.
    uint32_t GetCrc32();

    // --- read bound ---------------------------------------------------------
    // Bounds what is read to the first end bytes (end >= 0): no byte at or
    // after end is ever loaded, the data end there as far as every reader
    // can tell (LoadBuffer returns AL_END_OF_FILE at end) and the size
    // reads as at most end, now and after every later Open or Close. Bytes
    // already loaded beyond end are dropped. A storage that carries more
    // than one object (a signed executable with its payload) is read as if
    // it ended where its object does. -1 (the default) lifts the bound.
    void LimitReads(int32_t end);
    int32_t GetReadEnd() const { return read_end_; }

    // --- attached objects ---------------------------------------------------
    int32_t GetSize() const { return size; }
    const wchar_t* GetName() const { return name.GetName(); }
    void SetMonitor(ALMonitor* new_monitor) { monitor = new_monitor; }

    uint8_t* buffer = nullptr;
    int32_t read_limit = 0;
    int32_t write_index = 0;
    int32_t read_index = 0;
    int32_t file_position = 0;
    int32_t size = -1;
    uint32_t crc_register = 0xFFFFFFFFu;
    int16_t crc_enabled = 0;
    int16_t created = 0;
    ALCryptoEngine* crypto_engine = nullptr;  // not owned
    int32_t object_type;
    int32_t buffer_size;
    ALMonitor* monitor = nullptr;  // not owned
    ALTimeDate time_date;
    ALFileAttributes attributes;
    ALNameString name;
    ALStatusBlock status;

protected:
    // For LoadBuffer implementations: how many bytes may be loaded at
    // position (at most buffer_size; 0 at or past the read bound).
    int32_t LoadableAt(int32_t position) const;
    // For Open and Close: a size taken from the object, cut to the bound.
    int32_t BoundedSize(int32_t object_size) const;
    // Allocates the buffer unless it exists and resets the I/O state;
    // false (status -1200) when there is no buffer afterwards.
    bool PrepareBuffer();
    // Records a write into an object that has no buffer (never opened).
    int32_t FailNoBuffer();

private:
    int WriteCharSlow(int c);

    int32_t read_end_ = -1;
};
