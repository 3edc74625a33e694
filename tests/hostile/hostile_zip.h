// Writes ZIP archives for the hostile-input tests, byte by byte, with every
// field that a hostile archive lies about under the test's control: names as
// raw bytes, version made by and external attributes (symbolic links),
// sizes, CRCs and offsets that differ from the data, members that share or
// quote each other's data, end records with any counts, sizes, offsets and
// comments, and ZIP64 records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zip/zlib_bytes.h"

namespace hostile {

inline uint32_t Crc32(const std::string& bytes) { return Crc32Of(bytes); }

// A raw deflate stream (no zlib header), ended with a final block.
inline std::string Deflate(const std::string& data, int level = 9) { return RawDeflate(data, level); }

// A non-final stored deflate block that passes `quoted` through unchanged:
// header byte 0 (BFINAL 0, BTYPE 00), LEN and its complement NLEN.
inline std::string StoredBlockHeader(size_t quoted_length) {
    const uint16_t length = static_cast<uint16_t>(quoted_length);
    const uint16_t inverse = static_cast<uint16_t>(~length);
    std::string header(1, '\0');
    header.push_back(static_cast<char>(length & 0xFF));
    header.push_back(static_cast<char>(length >> 8));
    header.push_back(static_cast<char>(inverse & 0xFF));
    header.push_back(static_cast<char>(inverse >> 8));
    return header;
}

class Bytes {
public:
    Bytes& U16(uint32_t v) {
        text.push_back(static_cast<char>(v & 0xFF));
        text.push_back(static_cast<char>((v >> 8) & 0xFF));
        return *this;
    }
    Bytes& U32(uint32_t v) {
        U16(v & 0xFFFF);
        return U16(v >> 16);
    }
    Bytes& U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        return U32(static_cast<uint32_t>(v >> 32));
    }
    Bytes& Raw(const std::string& s) {
        text += s;
        return *this;
    }
    size_t Size() const { return text.size(); }
    std::string text;
};

// The local header of a member (30 bytes + name + extra).
struct LocalHeader {
    std::string name;
    uint16_t method = 8;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    std::string extra;

    std::string Encode() const {
        Bytes b;
        b.Raw(std::string("PK\3\4", 4)).U16(20).U16(flags).U16(method).U16(0x6000).U16(0x5A21);
        b.U32(crc).U32(compressed).U32(uncompressed);
        b.U16(static_cast<uint32_t>(name.size())).U16(static_cast<uint32_t>(extra.size()));
        return b.Raw(name).Raw(extra).text;
    }
};

// One central directory record; `offset` is the local header's position
// counted from the start of the ZIP data.
struct CentralRecord {
    std::string name;
    uint16_t version_made_by = 20;  // high byte: host system (3 = Unix)
    uint16_t method = 8;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    std::string extra;
    std::string comment;
    uint16_t disk = 0;
    uint32_t external = 0x20;
    uint32_t offset = 0;
    // Length fields written instead of the true ones.
    std::optional<uint16_t> name_length, extra_length, comment_length;

    std::string Encode() const {
        Bytes b;
        b.Raw(std::string("PK\1\2", 4)).U16(version_made_by).U16(20).U16(flags).U16(method);
        b.U16(0x6000).U16(0x5A21).U32(crc).U32(compressed).U32(uncompressed);
        b.U16(name_length.value_or(static_cast<uint16_t>(name.size())));
        b.U16(extra_length.value_or(static_cast<uint16_t>(extra.size())));
        b.U16(comment_length.value_or(static_cast<uint16_t>(comment.size())));
        b.U16(disk).U16(0).U32(external).U32(offset);
        return b.Raw(name).Raw(extra).Raw(comment).text;
    }
};

struct EndRecord {
    uint16_t this_disk = 0, directory_disk = 0;
    uint16_t entries_here = 0, entries_total = 0;
    uint32_t directory_size = 0;
    uint32_t directory_offset = 0;
    std::string comment;
    std::optional<uint16_t> comment_length;

    std::string Encode() const {
        Bytes b;
        b.Raw(std::string("PK\5\6", 4)).U16(this_disk).U16(directory_disk);
        b.U16(entries_here).U16(entries_total).U32(directory_size).U32(directory_offset);
        b.U16(comment_length.value_or(static_cast<uint16_t>(comment.size())));
        return b.Raw(comment).text;
    }
};

// A member as the tests describe it; Build derives the records from it.
struct Member {
    std::string name;
    std::string data;                 // uncompressed content
    uint16_t method = 8;              // 0 stored, 8 deflated, others: stored bytes as given
    uint16_t flags = 0;
    uint16_t version_made_by = 20;
    uint32_t external = 0x20;
    std::optional<std::string> stored;  // the member's bytes in the archive, instead of encoding data
    std::optional<uint32_t> crc, compressed, uncompressed;  // values claimed instead of the true ones
    std::string central_extra;
};

inline Member File(const std::string& name, const std::string& data, uint16_t method = 8) {
    Member m;
    m.name = name;
    m.data = data;
    m.method = method;
    return m;
}

// The pieces of an archive, editable between Layout and Join.
struct Archive {
    std::string prefix;                  // in front of the ZIP data (an executable image, say)
    std::vector<std::string> locals;     // local header + data of each member
    std::vector<CentralRecord> central;  // one per member, in order
    std::string zip64;                   // between directory and end record (ZIP64 records)
    EndRecord end;
    std::string suffix;                  // after the end record and its comment

    // The archive's bytes; the end record's size and offset are filled in
    // unless `keep_end` is set.
    std::string Join(bool keep_end = false) {
        std::string data;
        for (const std::string& local : locals) data += local;
        std::string directory;
        for (const CentralRecord& record : central) directory += record.Encode();
        if (!keep_end) {
            end.entries_here = end.entries_total = static_cast<uint16_t>(central.size());
            end.directory_size = static_cast<uint32_t>(directory.size());
            end.directory_offset = static_cast<uint32_t>(data.size());
        }
        return prefix + data + directory + zip64 + end.Encode() + suffix;
    }
};

inline std::string Encoded(const Member& m) {
    if (m.stored) return *m.stored;
    return m.method == 8 ? Deflate(m.data) : m.data;
}

// Local records and central records of the members, laid out one after the
// other; offsets count from the start of the ZIP data.
inline Archive Layout(const std::vector<Member>& members) {
    Archive archive;
    uint32_t offset = 0;
    for (const Member& m : members) {
        const std::string data = Encoded(m);
        LocalHeader local;
        local.name = m.name;
        local.method = m.method;
        local.flags = m.flags;
        local.crc = m.crc.value_or(Crc32(m.data));
        local.compressed = m.compressed.value_or(static_cast<uint32_t>(data.size()));
        local.uncompressed = m.uncompressed.value_or(static_cast<uint32_t>(m.data.size()));
        archive.locals.push_back(local.Encode() + data);

        CentralRecord record;
        record.name = m.name;
        record.version_made_by = m.version_made_by;
        record.method = m.method;
        record.flags = m.flags;
        record.crc = local.crc;
        record.compressed = local.compressed;
        record.uncompressed = local.uncompressed;
        record.external = m.external;
        record.extra = m.central_extra;
        record.offset = offset;
        archive.central.push_back(record);
        offset += static_cast<uint32_t>(archive.locals.back().size());
    }
    return archive;
}

inline std::string Build(const std::vector<Member>& members) { return Layout(members).Join(); }

}  // namespace hostile
