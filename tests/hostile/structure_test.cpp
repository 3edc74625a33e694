// Archives whose structure lies: cut short at either end, directory sizes
// and offsets that point past the data or wrap, record lengths that run
// past their record, counts of 0xFFFF, ZIP64 records, and end-record
// signatures where no end record is (in the comment, after the archive).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hostile/hostile_support.h"
#include "hostile/hostile_zip.h"

namespace hostile {
namespace {

// What stands in front of a payload's ZIP data.
const std::string kPrefix = std::string(3000, '\x90');
// The payload trailer behind it.
const std::string kTrailer = std::string("\x00\x44\x13\x00", 4) + std::string(6, '\0');

std::string Pattern(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        bytes[i] = static_cast<char>(seed & 0xFF);
    }
    return bytes;
}

std::vector<Member> FourMembers() {
    Member dir = File("dir/", "", 0);
    dir.external = 0x10;
    return {File("Windows/install.exe", Pattern(20000, 7)), File("data/readme.txt", "read me\r\n", 0),
            dir, File("data/zeros.bin", std::string(100000, '\0'))};
}

const Tree kAllFour = {{"Windows/install.exe", 20000}, {"data/readme.txt", 9},
                       {"data/zeros.bin", 100000}};

Archive FourMemberArchive() {
    Archive archive = Layout(FourMembers());
    archive.prefix = kPrefix;
    archive.suffix = kTrailer;
    return archive;
}

std::string Zip64Records(uint64_t entries, uint64_t directory_size, uint64_t directory_offset) {
    Bytes end64;
    end64.Raw(std::string("PK\6\6", 4)).U64(44).U16(45).U16(45).U32(0).U32(0);
    end64.U64(entries).U64(entries).U64(directory_size).U64(directory_offset);
    Bytes locator;
    locator.Raw(std::string("PK\6\7", 4)).U32(0).U64(directory_offset + directory_size).U32(1);
    return end64.text + locator.text;
}

using HostileStructure = HostileTest;

TEST_F(HostileStructure, ArchivesCutShortAtEverySixteenth) {
    Archive archive = FourMemberArchive();
    const std::string whole = archive.Join();
    ASSERT_EQ(Extract("whole", whole).code, 4);
    for (size_t k = 0; k < 16; ++k) {
        const size_t cut = whole.size() * k / 16;
        SCOPED_TRACE("cut at " + std::to_string(k) + "/16");
        // The end is gone: there is no end record to be found.
        ResetTarget();
        const Outcome tail = Extract("tail cut", whole.substr(0, cut));
        EXPECT_EQ(tail.read, AL_INVALID_ARCHIVE);
        EXPECT_EQ(tail.code, AL_INVALID_ARCHIVE);
        EXPECT_EQ(Narrow(tail.detail).rfind("Can't locate end of central directory", 0), 0u)
            << Narrow(tail.detail);
        EXPECT_TRUE(Snapshot(Target()).empty());
        // The start is gone: harmless while only the bytes in front of the
        // ZIP data are missing, a failure as soon as member data are.
        if (k == 0) continue;
        ResetTarget();
        const Outcome head = Extract("head cut", whole.substr(cut));
        if (cut <= kPrefix.size()) {
            EXPECT_EQ(head.code, 4) << Narrow(head.detail);
            EXPECT_EQ(FilesIn(Target()), kAllFour);
        } else {
            EXPECT_LT(head.code, 0) << Narrow(head.detail);
        }
    }
}

struct StructureRow {
    std::string label;
    std::function<std::string()> bytes;
    int32_t read;                // ReadDirectory's result
    int32_t code;                // Extract's result; 1 for "any failure"
    std::string detail;          // the beginning of the status detail ("" = any)
    std::function<void(const Tree&)> check_files;
};

constexpr int32_t kAnyFailure = 1;

std::vector<StructureRow> Rows() {
    const auto with_end = [](std::function<void(Archive&)> change) {
        return [change] {
            Archive archive = FourMemberArchive();
            archive.Join();  // fills in the true end record
            change(archive);
            return archive.Join(true);
        };
    };
    const auto with_records = [](std::function<void(Archive&)> change) {
        return [change] {
            Archive archive = FourMemberArchive();
            change(archive);
            return archive.Join();
        };
    };
    const auto nothing = [](const Tree& files) { EXPECT_TRUE(files.empty()); };
    const auto all_four = [](const Tree& files) { EXPECT_EQ(files, kAllFour); };
    const auto at_most_first = [](const Tree& files) {
        EXPECT_LE(files.size(), 1u);
        if (!files.empty()) {
            EXPECT_EQ(files, (Tree{{"Windows/install.exe", 20000}}));
        }
    };
    const auto any = [](const Tree&) {};
    const std::string bad = "Bad record in central directory of ZIP file ";
    const std::string zip64 = "ZIP64 archives are not supported: ZIP file ";

    return {
        // The directory's size and offset.
        {"directory size past the start of the file",
         with_end([](Archive& a) { a.end.directory_size = 0x7FFFFFF0; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, nothing},
        {"directory size one too large", with_end([](Archive& a) { a.end.directory_size += 1; }),
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, bad, nothing},
        {"directory size one too small", with_end([](Archive& a) { a.end.directory_size -= 1; }),
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, bad, nothing},
        {"directory size wrapping 32 bits",
         with_end([](Archive& a) { a.end.directory_size -= 0x80000000u; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, nothing},
        {"directory size of the ZIP64 marker",
         with_end([](Archive& a) { a.end.directory_size = 0xFFFFFFFF; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, zip64, nothing},
        {"directory offset past the end of the file",
         with_end([](Archive& a) { a.end.directory_offset = 0x7FFFFFF0; }), 4, kAnyFailure, "",
         any},
        {"directory offset wrapping 32 bits",
         with_end([](Archive& a) { a.end.directory_offset += 0xFFFFF000u; }), 4, kAnyFailure, "",
         any},
        {"directory offset of the ZIP64 marker",
         with_end([](Archive& a) { a.end.directory_offset = 0xFFFFFFFF; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, zip64, nothing},
        // Lengths that run past their record.
        {"name length past the last record",
         with_records([](Archive& a) { a.central[3].name_length = 0xFFFF; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, at_most_first},
        {"extra length past the last record",
         with_records([](Archive& a) { a.central[3].extra_length = 0x8000; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, at_most_first},
        {"comment length past the last record",
         with_records([](Archive& a) { a.central[3].comment_length = 0x0100; }),
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, bad, at_most_first},
        {"name length past the first record",
         with_records([](Archive& a) { a.central[0].name_length = 0xFFFF; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, nothing},
        {"extra length swallowing the next records",
         with_records([](Archive& a) { a.central[0].extra_length = 60; }), AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, bad, at_most_first},
        {"archive comment length past the end of the file",
         with_end([](Archive& a) { a.end.comment_length = 0xFFFF; }), 4, 4, "", all_four},
        // Counts are not trusted: the walk ends at the end record.
        {"counts of 0xFFFF",
         with_end([](Archive& a) { a.end.entries_here = a.end.entries_total = 0xFFFF; }), 4, 4, "",
         all_four},
        {"counts of zero", with_end([](Archive& a) { a.end.entries_here = a.end.entries_total = 0; }),
         4, 4, "", all_four},
        // ZIP64.
        {"ZIP64 end record and locator",
         [] {
             Archive a = FourMemberArchive();
             a.Join();
             a.zip64 = Zip64Records(4, a.end.directory_size, a.end.directory_offset);
             a.end.entries_here = a.end.entries_total = 0xFFFF;
             a.end.directory_size = a.end.directory_offset = 0xFFFFFFFF;
             return a.Join(true);
         },
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, zip64, nothing},
        {"ZIP64 records behind plain 32-bit fields",
         [] {
             Archive a = FourMemberArchive();
             a.Join();
             a.zip64 = Zip64Records(4, a.end.directory_size, a.end.directory_offset);
             return a.Join(true);
         },
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, zip64, nothing},
        {"ZIP64 sizes in a member",
         with_records([](Archive& a) {
             CentralRecord& r = a.central[3];
             Bytes extra;
             extra.U16(0x0001).U16(16).U64(r.uncompressed).U64(r.compressed);
             r.extra = extra.text;
             r.compressed = r.uncompressed = 0xFFFFFFFF;
         }),
         4, AL_INVALID_ARCHIVE,
         "data/zeros.bin: Refusing to extract data/zeros.bin: ZIP64 members are not supported",
         [](const Tree& files) {
             EXPECT_EQ(files, (Tree{{"Windows/install.exe", 20000}, {"data/readme.txt", 9}}));
         }},
        {"ZIP64 offset in a member",
         with_records([](Archive& a) { a.central[1].offset = 0xFFFFFFFF; }), 4, AL_INVALID_ARCHIVE,
         "data/readme.txt: Refusing to extract data/readme.txt: ZIP64 members are not supported",
         [](const Tree& files) {
             EXPECT_EQ(files, (Tree{{"Windows/install.exe", 20000}, {"data/zeros.bin", 100000}}));
         }},
        // End-record signatures where no end record is.
        {"signature inside the archive comment",
         with_end([](Archive& a) { a.end.comment = std::string("note PK\5\6 about", 15) + std::string(30, 'x'); }),
         4, 4, "", all_four},
        {"whole end record inside the comment",
         with_end([](Archive& a) {
             EndRecord fake;
             fake.entries_here = fake.entries_total = 1;
             fake.directory_size = 100;
             fake.directory_offset = 5;
             a.end.comment = fake.Encode() + "tail";
         }),
         4, 4, "", all_four},
        {"end record after the archive",
         with_end([](Archive& a) {
             EndRecord fake;
             fake.directory_size = 4000;
             a.suffix += fake.Encode() + std::string(40, 'z');
         }),
         4, 4, "", all_four},
        {"end record after the archive pointing into member data",
         with_end([](Archive& a) {
             EndRecord fake;
             fake.directory_size = 2000;
             fake.directory_offset = 0;
             a.suffix += fake.Encode();
         }),
         4, 4, "", all_four},
        {"signature in the last bytes", with_end([](Archive& a) { a.suffix += std::string("PK\5\6xyz", 7); }),
         4, 4, "", all_four},
        {"empty directory in the comment",
         with_end([](Archive& a) { a.end.comment = EndRecord().Encode(); }), 0, 0, "", nothing},
        {"nothing but signatures", [] {
             std::string bytes;
             while (bytes.size() < 70000) bytes += std::string("PK\5\6", 4);
             return bytes;
         },
         AL_INVALID_ARCHIVE, AL_INVALID_ARCHIVE, bad, nothing},
        {"no end record at all", [] { return Pattern(50000, 3); }, AL_INVALID_ARCHIVE,
         AL_INVALID_ARCHIVE, "Can't locate end of central directory in ZIP file ", nothing},
    };
}

TEST_F(HostileStructure, LyingStructuresFailSoundly) {
    for (const StructureRow& row : Rows()) {
        SCOPED_TRACE(row.label);
        ResetTarget();
        const Outcome out = Extract(row.label, row.bytes());
        EXPECT_EQ(out.read, row.read) << Narrow(out.detail);
        if (row.code == kAnyFailure) {
            EXPECT_LT(out.code, 0);
        } else {
            EXPECT_EQ(out.code, row.code) << Narrow(out.detail);
        }
        EXPECT_EQ(Narrow(out.detail).rfind(row.detail, 0), 0u) << Narrow(out.detail);
        row.check_files(FilesIn(Target()));
    }
}

}  // namespace
}  // namespace hostile
