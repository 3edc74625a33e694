// Builds ZIP archives byte by byte for the tests, with every field under the
// test's control: names as raw bytes, methods, flag words, extra fields that
// differ between the local header and the central record, data
// descriptors, wrong CRCs and sizes, prefixes in front of the ZIP data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zip/zlib_bytes.h"

struct ZipMember {
    std::string name;             // raw bytes as stored
    std::string data;             // the uncompressed content
    uint16_t method = 8;          // 0 stored, 8 deflate; others store data as given
    uint16_t flags = 0;           // flag word of both headers (bit 3 adds a descriptor)
    int level = 6;                // deflate level
    std::string local_extra;      // extra field of the local header
    std::string central_extra;    // extra field of the central record
    std::string comment;          // member comment (central record)
    uint16_t dos_time = 0x6000;   // 12:00:00
    uint16_t dos_date = 0x5A21;   // 2025-01-01
    uint32_t external = 0x20;     // DOS attributes in the low byte
    // Values written instead of the true ones (central record and local header).
    std::optional<uint32_t> crc;
    std::optional<uint32_t> compressed_size;
    std::optional<uint32_t> uncompressed_size;
    std::optional<std::string> payload;  // member data as stored, instead of encoding data
};

struct ZipSpec {
    std::string prefix;            // bytes in front of the ZIP data
    std::vector<ZipMember> members;
    std::string archive_comment;
    std::string between;           // bytes between the directory and the end record
};

class ByteWriter {
public:
    void U16(uint32_t v) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Raw(const std::string& s) { bytes += s; }
    std::string bytes;
};

// The data of a member as stored in the archive.
inline std::string EncodedData(const ZipMember& m) {
    if (m.payload) return *m.payload;
    if (m.method == 8) return RawDeflate(m.data, m.level);
    return m.data;
}

// The ZIP data followed by nothing; offsets count from the start of the
// ZIP data, so spec.prefix shifts every record without changing a byte.
inline std::string BuildZip(const ZipSpec& spec) {
    ByteWriter zip;
    std::vector<uint32_t> offsets;
    std::vector<std::string> encoded;
    for (const ZipMember& m : spec.members) {
        const std::string data = EncodedData(m);
        encoded.push_back(data);
        const uint32_t crc = m.crc.value_or(Crc32Of(m.data));
        const uint32_t csize = m.compressed_size.value_or(static_cast<uint32_t>(data.size()));
        const uint32_t usize = m.uncompressed_size.value_or(static_cast<uint32_t>(m.data.size()));
        const bool descriptor = (m.flags & 0x0008) != 0;
        offsets.push_back(static_cast<uint32_t>(zip.bytes.size()));
        zip.Raw(std::string("PK\3\4", 4));
        zip.U16(20);
        zip.U16(m.flags);
        zip.U16(m.method);
        zip.U16(m.dos_time);
        zip.U16(m.dos_date);
        zip.U32(descriptor ? 0 : crc);
        zip.U32(descriptor ? 0 : csize);
        zip.U32(descriptor ? 0 : usize);
        zip.U16(static_cast<uint32_t>(m.name.size()));
        zip.U16(static_cast<uint32_t>(m.local_extra.size()));
        zip.Raw(m.name);
        zip.Raw(m.local_extra);
        zip.Raw(data);
        if (descriptor) {
            zip.Raw(std::string("PK\7\10", 4));
            zip.U32(crc);
            zip.U32(csize);
            zip.U32(usize);
        }
    }
    const uint32_t directory_offset = static_cast<uint32_t>(zip.bytes.size());
    for (size_t i = 0; i < spec.members.size(); ++i) {
        const ZipMember& m = spec.members[i];
        zip.Raw(std::string("PK\1\2", 4));
        zip.U16(20);
        zip.U16(20);
        zip.U16(m.flags);
        zip.U16(m.method);
        zip.U16(m.dos_time);
        zip.U16(m.dos_date);
        zip.U32(m.crc.value_or(Crc32Of(m.data)));
        zip.U32(m.compressed_size.value_or(static_cast<uint32_t>(encoded[i].size())));
        zip.U32(m.uncompressed_size.value_or(static_cast<uint32_t>(m.data.size())));
        zip.U16(static_cast<uint32_t>(m.name.size()));
        zip.U16(static_cast<uint32_t>(m.central_extra.size()));
        zip.U16(static_cast<uint32_t>(m.comment.size()));
        zip.U16(0);
        zip.U16(0);
        zip.U32(m.external);
        zip.U32(offsets[i]);
        zip.Raw(m.name);
        zip.Raw(m.central_extra);
        zip.Raw(m.comment);
    }
    const uint32_t directory_size = static_cast<uint32_t>(zip.bytes.size()) - directory_offset;
    zip.Raw(spec.between);
    zip.Raw(std::string("PK\5\6", 4));
    zip.U16(0);
    zip.U16(0);
    zip.U16(static_cast<uint32_t>(spec.members.size()));
    zip.U16(static_cast<uint32_t>(spec.members.size()));
    zip.U32(directory_size);
    zip.U32(directory_offset);
    zip.U16(static_cast<uint32_t>(spec.archive_comment.size()));
    zip.Raw(spec.archive_comment);
    return spec.prefix + zip.bytes;
}

inline ZipMember Member(const std::string& name, const std::string& data, uint16_t method = 8) {
    ZipMember m;
    m.name = name;
    m.data = data;
    m.method = method;
    return m;
}

// The payload header of a self-extractor: 5B 3E 4E 00 and a 1024-byte name
// field, as it stands in front of the ZIP data.
inline std::string PayloadHeader(const std::string& name = "installer.zip") {
    std::string header("\x5B\x3E\x4E\x00", 4);
    std::string field(1024, '\0');
    field.replace(0, name.size(), name);
    return header + field;
}
