#include "archive/storage.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "archive/engine.h"
#include "archive/monitor.h"
#include "platform/message_pump.h"
#include "platform/text.h"

ALStorage::ALStorage(const wchar_t* name, int32_t buffer_size, int32_t object_type,
                     ALNameCase mode)
    : object_type(object_type), buffer_size(buffer_size), name(name, mode) {
    if (!this->name.HasText()) {
        status.SetError(AL_CANT_ALLOCATE_BUFFER,
                        L"Allocation of buffer failed in ALStorage constructor");
    }
}

ALStorage::~ALStorage() { delete[] buffer; }

int32_t ALStorage::SavePrivateData(ALStorage& archive) { return archive.WriteUInt16BE(0); }

int32_t ALStorage::LoadPrivateData(ALStorage& archive) {
    uint16_t length = 0;
    archive.ReadUInt16BE(length);
    return archive.status.GetStatusCode();
}

bool ALStorage::PrepareBuffer() {
    // An object opened again keeps its buffer instead of leaking it.
    if (!buffer && buffer_size > 0) buffer = new (std::nothrow) uint8_t[buffer_size];
    read_limit = 0;
    write_index = 0;
    read_index = 0;
    file_position = 0;
    crc_register = 0xFFFFFFFFu;
    crc_enabled = 0;
    return buffer != nullptr;
}

void ALStorage::LimitReads(int32_t end) {
    read_end_ = end < 0 ? -1 : end;
    if (read_end_ < 0) return;
    if (size > read_end_) size = read_end_;
    // Loaded bytes past the bound: buffer[i] holds the byte at
    // file_position - read_limit + i.
    if (write_index == 0 && file_position > read_end_) {
        const int32_t excess = file_position - read_end_;
        read_limit = read_limit > excess ? read_limit - excess : 0;
        if (read_index > read_limit) read_index = read_limit;
        file_position = read_end_;
    }
}

int32_t ALStorage::LoadableAt(int32_t position) const {
    if (read_end_ < 0) return buffer_size;
    // A negative position is an offset of 2 GiB or more: past any bound.
    if (position < 0 || position >= read_end_) return 0;
    return read_end_ - position < buffer_size ? read_end_ - position : buffer_size;
}

int32_t ALStorage::BoundedSize(int32_t object_size) const {
    return read_end_ >= 0 && (object_size < 0 || object_size > read_end_) ? read_end_ : object_size;
}

int32_t ALStorage::Open() {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (!PrepareBuffer()) {
        return status.SetError(AL_CANT_ALLOCATE_BUFFER, L"Allocation of buffer failed in Open()");
    }
    return AL_NO_ERRORS;
}

int32_t ALStorage::Create(int32_t) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    const bool ready = PrepareBuffer();
    size = 0;
    created = 1;
    if (!ready) {
        return status.SetError(AL_CANT_ALLOCATE_BUFFER, L"Allocation of buffer failed in Open()");
    }
    return AL_NO_ERRORS;
}

int32_t ALStorage::Close() {
    delete[] buffer;
    buffer = nullptr;
    return status.GetStatusCode();
}

void ALStorage::ReportProgress() {
    if (monitor) monitor->UpdateProgress(Tell(), *this);
    PumpPendingMessages();
}

int32_t ALStorage::FailNoBuffer() {
    return status.SetError(AL_WRITE_ERROR, L"Write failure on %s.  result = %d, errno = %d",
                           GetName(), -1, static_cast<int32_t>(EBADF));
}

int ALStorage::WriteCharSlow(int c) {
    if (!buffer) return FailNoBuffer();
    const int32_t flushed = FlushBuffer();
    if (flushed < 0) return flushed;
    if (write_index >= buffer_size) return status.GetStatusCode();
    buffer[write_index++] = static_cast<uint8_t>(c);
    return c & 0xFF;
}

int32_t ALStorage::ReadBuffer(uint8_t* destination, int32_t n) {
    int32_t done = 0;
    while (done < n) {
        const int32_t available = read_limit - read_index;
        if (available <= 0) {
            if (LoadBuffer(file_position) <= 0) break;
            continue;
        }
        const int32_t take = (n - done < available) ? n - done : available;
        memcpy(destination + done, buffer + read_index, static_cast<size_t>(take));
        read_index += take;
        done += take;
    }
    return done;
}

int32_t ALStorage::WriteBuffer(const uint8_t* source, int32_t n) {
    if (status.GetStatusCode() < 0 || n <= 0) return 0;
    if (!buffer) {
        FailNoBuffer();
        return 0;
    }
    int32_t done = 0;
    while (done < n) {
        const int32_t space = buffer_size - write_index;
        if (space <= 0) {
            if (FlushBuffer() < 0 || write_index >= buffer_size) break;
            continue;
        }
        const int32_t take = (n - done < space) ? n - done : space;
        memcpy(buffer + write_index, source + done, static_cast<size_t>(take));
        write_index += take;
        done += take;
    }
    return done;
}

int32_t ALStorage::WriteUInt16LE(uint16_t value) {
    WriteChar(value & 0xFF);
    WriteChar(value >> 8);
    return status.GetStatusCode();
}

int32_t ALStorage::WriteUInt32LE(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) WriteChar(static_cast<int>((value >> shift) & 0xFF));
    return status.GetStatusCode();
}

int32_t ALStorage::WriteUInt16BE(uint16_t value) {
    WriteChar(value >> 8);
    WriteChar(value & 0xFF);
    return status.GetStatusCode();
}

int32_t ALStorage::WriteUInt32BE(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) WriteChar(static_cast<int>((value >> shift) & 0xFF));
    return status.GetStatusCode();
}

// The readers fold a negative ReadChar result (end of data) into the value
// unchanged, as the library always has; callers check status and bounds.
int32_t ALStorage::ReadUInt16LE(uint16_t& value) {
    const uint32_t low = static_cast<uint32_t>(ReadChar());
    const uint32_t high = static_cast<uint32_t>(ReadChar());
    value = static_cast<uint16_t>(low | (high << 8));
    return status.GetStatusCode();
}

int32_t ALStorage::ReadUInt32LE(uint32_t& value) {
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) result |= static_cast<uint32_t>(ReadChar()) << shift;
    value = result;
    return status.GetStatusCode();
}

int32_t ALStorage::ReadUInt16BE(uint16_t& value) {
    const uint32_t high = static_cast<uint32_t>(ReadChar());
    const uint32_t low = static_cast<uint32_t>(ReadChar());
    value = static_cast<uint16_t>((high << 8) | low);
    return status.GetStatusCode();
}

int32_t ALStorage::ReadUInt32BE(uint32_t& value) {
    uint32_t result = 0;
    for (int shift = 24; shift >= 0; shift -= 8) result |= static_cast<uint32_t>(ReadChar()) << shift;
    value = result;
    return status.GetStatusCode();
}

int32_t ALStorage::ReadString(ALNameString& target, int16_t length) {
    if (length == -1) {
        uint16_t stored = 0;
        ReadUInt16BE(stored);
        if (status.GetStatusCode() < 0) {
            return status.SetError(AL_READ_ERROR,
                                   L"Error reading string lengthin ReadString() for object %s",
                                   GetName());
        }
        length = static_cast<int16_t>(stored);
    }
    // A negative length (0x8000..0xFFFF, or the end of data folded into
    // the stored length) cannot be allocated.
    uint8_t* bytes = length < 0 ? nullptr : new (std::nothrow) uint8_t[length + 1];
    if (!bytes) {
        return status.SetError(AL_MEMORY_ALLOCATION_FAILURE,
                               L"Error allocating buffer space in call to ReadString() for object %s",
                               GetName());
    }
    // Only the bytes actually delivered are converted: a short read must
    // not turn stale buffer contents into name characters.
    const int32_t got = ReadBuffer(bytes, length);
    bool converted = true;
    try {
        const std::wstring text = AnsiToWide(reinterpret_cast<const char*>(bytes),
                                             static_cast<size_t>(got));
        target.Assign(text.c_str());
    } catch (const std::bad_alloc&) {
        converted = false;
    }
    delete[] bytes;
    if (!converted) {
        return status.SetError(AL_MEMORY_ALLOCATION_FAILURE,
                               L"Error allocating buffer space in call to ReadString() for object %s",
                               GetName());
    }
    return AL_NO_ERRORS;
}

int32_t ALStorage::WriteString(const wchar_t* text) {
    std::string bytes;
    try {
        if (text) bytes = WideToAnsi(text);
    } catch (const std::bad_alloc&) {
        bytes.clear();
    }
    const uint16_t count = bytes.size() > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(bytes.size());
    WriteUInt16BE(count);
    if (count > 0) WriteBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), count);
    return status.GetStatusCode();
}

void ALStorage::StartCrc32(uint32_t initial) {
    crc_enabled = 1;
    crc_register = initial;
}

void ALStorage::UpdateCrc32(int32_t count, bool reading) {
    if (crypto_engine) {
        if (reading) crypto_engine->DecryptBytes(buffer, count);
        else crypto_engine->EncryptBytes(buffer, count);
    }
    if (crc_enabled && count > 0) {
        // zlib keeps the register in its final (inverted) form.
        crc_register = ~static_cast<uint32_t>(
            crc32(~crc_register, buffer, static_cast<uInt>(count)));
    }
}

uint32_t ALStorage::GetCrc32() {
    // Only pending writes are flushed: flushing a read buffer would drop the
    // bytes loaded but not yet read.
    if (buffer && crc_enabled && write_index != 0) FlushBuffer();
    crc_enabled = 0;
    return crc_register;
}
