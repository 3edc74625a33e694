// Member data that lie: overlapping members and zip bombs (the full and the
// quoted overlap), deflate streams that are invalid, end early or never
// end, stored members whose sizes disagree, CRC mismatches, encrypted
// members and unknown methods; LZMA and Zstandard members whose
// dictionaries, windows, sizes, streams and checksums lie.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "hostile/hostile_support.h"
#include "hostile/hostile_zip.h"
#include "zip/codec_bytes.h"

namespace hostile {
namespace {

// A bomb: its archive and what its members claim in all.
struct Bomb {
    std::string bytes;
    int64_t declared_total = 0;
    int members = 0;
};

// Every central record points at the same local header: the kernel is
// inflated once per member. With understated sizes each member claims
// only `claimed` bytes.
Bomb FullOverlap(int members, size_t kernel_size, std::optional<uint32_t> claimed) {
    const std::string content(kernel_size, 'A');
    const std::string kernel = Deflate(content);
    LocalHeader local;
    local.name = "bomb/0";
    local.crc = Crc32(content);
    local.compressed = static_cast<uint32_t>(kernel.size());
    local.uncompressed = claimed.value_or(static_cast<uint32_t>(kernel_size));
    Archive archive;
    archive.locals = {local.Encode() + kernel};
    Bomb bomb;
    for (int i = 0; i < members; ++i) {
        CentralRecord record;
        record.name = "bomb/" + std::to_string(i);
        record.crc = local.crc;
        record.compressed = local.compressed;
        record.uncompressed = local.uncompressed;
        record.offset = 0;
        archive.central.push_back(record);
        bomb.declared_total += record.uncompressed;
    }
    bomb.bytes = archive.Join();
    bomb.members = members;
    return bomb;
}

// The quoted overlap: each member's data begin with a stored block that
// quotes the next member's local header and then run on into the next
// member's data, down to one shared kernel. Member i thus decodes to the
// local headers of all members after it followed by the kernel's output.
Bomb QuotedOverlap(int members, size_t kernel_size, std::optional<uint32_t> claimed) {
    std::vector<std::string> headers(members);
    std::string data = Deflate(std::string(kernel_size, 'B'));
    std::string content(kernel_size, 'B');
    Bomb bomb;
    std::vector<CentralRecord> records(members);
    for (int i = members - 1; i >= 0; --i) {
        LocalHeader local;
        local.name = "quoted/" + std::to_string(i);
        local.crc = Crc32(content);
        local.compressed = static_cast<uint32_t>(data.size());
        local.uncompressed = claimed.value_or(static_cast<uint32_t>(content.size()));
        headers[i] = local.Encode();
        records[i].name = local.name;
        records[i].crc = local.crc;
        records[i].compressed = local.compressed;
        records[i].uncompressed = local.uncompressed;
        bomb.declared_total += local.uncompressed;
        if (i > 0) {
            data = StoredBlockHeader(headers[i].size()) + headers[i] + data;
            content = headers[i] + content;
        }
    }
    uint32_t offset = 0;
    for (int i = 0; i < members; ++i) {
        records[i].offset = offset;
        offset += static_cast<uint32_t>(headers[i].size()) + 5;
    }
    Archive archive;
    archive.locals = {headers[0] + data};
    archive.central = records;
    bomb.bytes = archive.Join();
    bomb.members = members;
    return bomb;
}

using HostileData = HostileTest;

TEST_F(HostileData, OverlapBombsNeverWriteMoreThanTheyDeclare) {
    const struct {
        std::string label;
        Bomb bomb;
        bool honest;
    } cases[] = {
        {"full overlap, true sizes", FullOverlap(24, 256 * 1024, std::nullopt), true},
        {"full overlap, understated sizes", FullOverlap(24, 256 * 1024, 1000u), false},
        {"quoted overlap, true sizes", QuotedOverlap(12, 256 * 1024, std::nullopt), true},
        {"quoted overlap, understated sizes", QuotedOverlap(12, 256 * 1024, 4096u), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ResetTarget();
        // The archive is a few kilobytes; what it may write is bounded by
        // the sizes it declares.
        EXPECT_LT(c.bomb.bytes.size(), 20000u);
        const Outcome out = Extract(c.label, c.bomb.bytes);
        ASSERT_EQ(out.read, c.bomb.members);
        const Tree files = FilesIn(Target());
        EXPECT_LE(TotalBytes(files), c.bomb.declared_total);
        EXPECT_EQ(files.size(), static_cast<size_t>(c.bomb.members));
        if (c.honest) {
            // Every member is what it claims to be.
            EXPECT_EQ(out.code, c.bomb.members) << Narrow(out.detail);
            EXPECT_EQ(TotalBytes(files), c.bomb.declared_total);
        } else {
            // Each member stops at its declared size and fails.
            EXPECT_EQ(out.code, AL_INVALID_ARCHIVE) << Narrow(out.detail);
            EXPECT_NE(out.detail.find(L"exceed the declared size"), std::wstring::npos)
                << Narrow(out.detail);
        }
    }
}

struct DataRow {
    std::string label;
    Member member;       // between "before.txt" and "after.txt"
    int32_t code;
    std::string detail;  // beginning of the status detail
    bool after_extracted;
    int64_t max_size;    // the most the member may have written (-1: not created)
};

Member Raw(const std::string& name, uint16_t method, const std::string& stored,
           const std::string& claimed_content) {
    Member m = File(name, claimed_content, method);
    m.stored = stored;
    return m;
}

std::string Hex8(uint32_t value) {
    char text[9];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

// LZMA (method 14) and Zstandard (93) members. A huge dictionary or
// window on a small member costs nothing and extracts (code 3: all three
// members); on a member that declares 1 GiB it is refused unallocated.
std::vector<DataRow> CodecRows() {
    const std::string body(50000, 'q');
    const std::string text = "lzma and zstd, " + body;
    std::string lzma = codec_bytes::LzmaMember(text, true);
    lzma.replace(5, 4, "\xFF\xFF\xFF\xFF");  // a 4 GiB dictionary (cut to 1 GiB below)
    std::string zstd = codec_bytes::ZstdFrame(text, 3, true, false);
    zstd[5] = '\xA0';  // a 1 GiB window
    std::string bad_sum = codec_bytes::ZstdFrame(text);
    bad_sum.back() ^= 1;
    Member huge_lzma = Raw("bad.bin", 14, lzma, text);
    huge_lzma.uncompressed = 1u << 30;
    Member huge_zstd = Raw("bad.bin", 93, zstd, text);
    huge_zstd.uncompressed = 1u << 30;
    Member long_lzma = Raw("bad.bin", 14, lzma, text);
    long_lzma.uncompressed = 4;
    Member long_zstd = Raw("bad.bin", 93, codec_bytes::ZstdFrame(text), text);
    long_zstd.uncompressed = 4;
    const int64_t size = static_cast<int64_t>(text.size());
    return {
        {"lzma, 4 GiB dictionary, small member", Raw("bad.bin", 14, lzma, text), 3, "", true, size},
        {"zstd, 1 GiB window, small member", Raw("bad.bin", 93, zstd, text), 3, "", true, size},
        {"lzma, 4 GiB dictionary, 1 GiB member", huge_lzma, AL_INVALID_ARCHIVE,
         "bad.bin: LZMA data of bad.bin need 1048591 KB to decode, more than the 65536 KB allowed", true, 0},
        {"zstd, 1 GiB window, 1 GiB member", huge_zstd, AL_INVALID_ARCHIVE,
         "bad.bin: Zstandard data of bad.bin need 1048576 KB", true, 0},
        {"lzma stream ending early", Raw("bad.bin", 14, lzma.substr(0, lzma.size() / 2), text),
         AL_INVALID_ARCHIVE, "bad.bin: LZMA data of bad.bin are cut short", true, size},
        {"zstd frame ending early", Raw("bad.bin", 93, zstd.substr(0, zstd.size() / 2), text),
         AL_INVALID_ARCHIVE, "bad.bin: Zstandard data of bad.bin are cut short", true, size},
        {"lzma member with more data than it declares", long_lzma, AL_INVALID_ARCHIVE,
         "bad.bin: Decoded data of bad.bin exceed the declared size of 4 bytes", true, 4},
        {"zstd frame claiming more than the member declares", long_zstd, AL_INVALID_ARCHIVE,
         "bad.bin: Decoded data of bad.bin exceed the declared size of 4 bytes", true, 0},
        {"zstd wrong content checksum", Raw("bad.bin", 93, bad_sum, text), AL_INVALID_ARCHIVE,
         "bad.bin: Zstandard data of bad.bin fail their content checksum", true, size},
        {"lzma damaged stream", Raw("bad.bin", 14, std::string(lzma).replace(20, 8, "garbage!"), text),
         AL_INVALID_ARCHIVE, "bad.bin: LZMA data of bad.bin ", true, size},
    };
}

std::vector<DataRow> Rows() {
    const std::string hello = "hello, hostile world";
    const std::string body(50000, 'q');
    std::string endless;
    while (endless.size() < 1000000) endless += StoredBlockHeader(0);
    const std::string deflated = Deflate(body);

    Member wrong_crc = File("bad.bin", hello);
    wrong_crc.crc = Crc32(hello) ^ 0x00010000u;
    Member longer = File("bad.bin", "0123456789", 0);
    longer.uncompressed = 4;
    longer.crc = Crc32("0123");
    Member shorter = File("bad.bin", "0123456789", 0);
    shorter.compressed = 4;
    Member runaway = Raw("bad.bin", 8, endless, "abc");
    runaway.compressed = 0x7FFFFFF0;
    Member encrypted = File("bad.bin", hello);
    encrypted.flags = 0x0001;
    const std::string crc_detail = "bad.bin: CRC32 was supposed to be ";
    const std::string no_engine = "Attempt to decompress without a decompressor";

    std::vector<DataRow> rows = {
        {"invalid deflate stream", Raw("bad.bin", 8, std::string(64, '\xFF'), hello), AL_CRC_ERROR,
         crc_detail + Hex8(Crc32(hello)) + ", was 00000000", true, 0},
        {"deflate stream ending early", Raw("bad.bin", 8, deflated.substr(0, deflated.size() / 2), body),
         AL_CRC_ERROR, crc_detail, true, static_cast<int64_t>(body.size())},
        {"deflate stream that never ends", Raw("bad.bin", 8, endless, "abc"), AL_CRC_ERROR,
         crc_detail, true, 0},
        {"never-ending stream claiming 2 GB", runaway, AL_CRC_ERROR, crc_detail, true, 0},
        {"stored member with more data than it declares", longer, AL_INVALID_ARCHIVE,
         "bad.bin: Decoded data of bad.bin exceed the declared size of 4 bytes", true, 4},
        {"stored member with less data than it declares", shorter, AL_CRC_ERROR, crc_detail, true, 4},
        {"CRC mismatch", wrong_crc, AL_CRC_ERROR,
         crc_detail + Hex8(*wrong_crc.crc) + ", was " + Hex8(Crc32(hello)), true,
         static_cast<int64_t>(hello.size())},
        {"encrypted member", encrypted, AL_MISSING_CRYPTO_ENGINE,
         "Attempt to extract an object without decryption engine", false, -1},
    };
    for (DataRow& row : CodecRows()) rows.push_back(std::move(row));
    for (uint16_t method : {1, 6, 9, 12, 19, 95, 98, 99}) {
        rows.push_back({"method " + std::to_string(method), Raw("bad.bin", method, hello, hello),
                        AL_CANT_CREATE_COMPRESSION_ENGINE, no_engine, false, -1});
    }
    return rows;
}

TEST_F(HostileData, LyingDataFailTheirMemberSoundly) {
    for (const DataRow& row : Rows()) {
        SCOPED_TRACE(row.label);
        ResetTarget();
        const Outcome out = Extract(
            row.label, Build({File("before.txt", "before"), row.member, File("after.txt", "after")}));
        ASSERT_EQ(out.read, 3);
        EXPECT_EQ(out.code, row.code) << Narrow(out.detail);
        EXPECT_EQ(Narrow(out.detail).rfind(row.detail, 0), 0u) << Narrow(out.detail);
        const Tree files = FilesIn(Target());
        EXPECT_EQ(files.count("before.txt"), 1u);
        EXPECT_EQ(files.count("after.txt"), row.after_extracted ? 1u : 0u);
        if (row.max_size < 0) {
            EXPECT_EQ(files.count("bad.bin"), 0u);
        } else {
            ASSERT_EQ(files.count("bad.bin"), 1u);
            EXPECT_LE(files.at("bad.bin"), row.max_size);
        }
    }
}

// A file on a disk with only `room` bytes left (shared by every file the
// prototype makes, on both extraction threads): the flush that would pass
// it fails like a full disk.
class FullDiskFile : public ALFile {
public:
    explicit FullDiskFile(std::atomic<int64_t>* room, const wchar_t* name = L"")
        : ALFile(name, kDefaultBufferSize, NameCaseIgnore), room_(room) {}
    ALStorage* Clone(const wchar_t* name, int32_t object_type) const override {
        if (object_type != -1 && object_type != 1) return nullptr;
        return new FullDiskFile(room_, name);
    }
    int32_t FlushBuffer() override {
        if (status.GetStatusCode() >= 0 && write_index > *room_) {
            return status.SetError(AL_WRITE_ERROR, L"Write failure on %s.  result = %d, errno = %d",
                                   GetName(), -1, 28);
        }
        if (status.GetStatusCode() >= 0) room_->fetch_sub(write_index);
        return ALFile::FlushBuffer();
    }

private:
    std::atomic<int64_t>* room_;
};

// A full disk in the middle of a member is what the result says, not a
// CRC mismatch of the bytes that could not be written.
TEST_F(HostileData, AFullDiskIsReportedAsTheWriteFailure) {
    std::atomic<int64_t> room{20000};
    const ALPrototypeSet prototypes = DriverPrototypes(FullDiskFile(&room));
    const std::string big(100000, 'z');
    const Outcome out = Extract("full disk", Build({File("small.txt", "small"), File("big.bin", big),
                                                    File("after.txt", "after")}),
                                120, prototypes);
    EXPECT_EQ(out.code, AL_WRITE_ERROR) << Narrow(out.detail);
    EXPECT_EQ(Narrow(out.detail), "big.bin: Write failure on big.bin.  result = -1, errno = 28");
    EXPECT_LT(FilesIn(Target()).at("big.bin"), static_cast<int64_t>(big.size()));
}

}  // namespace
}  // namespace hostile
