// The write side of ALPkArchive: the bytes of the records it writes, the
// choice between deflate and stored, directory entries, names, time stamps
// and attributes, offsets relative to wherever the ZIP data starts, failures
// of inputs and of the archive storage, and a read-back through the
// library's own reader and extractor.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/lzma_compressor.h"
#include "archive/codecs/zstd_compressor.h"
#include "archive/compressors.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/pk_archive.h"
#include "archive/prototype_set.h"
#include "archive_core/test_support.h"
#include "platform/file_attributes.h"
#include "platform/text.h"

namespace {

uint32_t U32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t U16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// One central directory record as written, with where its member lies.
struct Record {
    uint16_t flags, method, time, date, name_length;
    uint32_t crc, packed, size, external, offset;
    std::string name;
};

// Parses the end record (the last 22 bytes of zip) and every central record.
std::vector<Record> ParseDirectory(const std::string& zip, uint32_t* directory_offset = nullptr) {
    std::vector<Record> records;
    const size_t end = zip.size() - 22;
    EXPECT_EQ(U32(zip, end), 0x06054B50u);
    const uint32_t directory_size = U32(zip, end + 12);
    if (directory_offset) *directory_offset = U32(zip, end + 16);
    EXPECT_EQ(U16(zip, end + 8), U16(zip, end + 10));
    size_t at = end - directory_size;
    while (at < end) {
        EXPECT_EQ(U32(zip, at), 0x02014B50u);
        Record r{U16(zip, at + 8),  U16(zip, at + 10), U16(zip, at + 12), U16(zip, at + 14),
                 U16(zip, at + 28), U32(zip, at + 16), U32(zip, at + 20), U32(zip, at + 24),
                 U32(zip, at + 38), U32(zip, at + 42), ""};
        r.name = zip.substr(at + 46, r.name_length);
        at += 46 + r.name_length + U16(zip, at + 30) + U16(zip, at + 32);
        records.push_back(r);
    }
    EXPECT_EQ(records.size(), U16(zip, end + 10));
    return records;
}

std::string TextOf(size_t n) {
    std::string text;
    while (text.size() < n) text += "all work and no play makes a dull archive\n";
    return text.substr(0, n);
}

// An input storage over bytes, with the time stamp and attributes a file
// would bring.
MemoryStorage* Input(const wchar_t* name, const std::string& data, ALTimeDate time = {2025, 1, 1, 12, 0, 0}) {
    auto* storage = new MemoryStorage(data, 4096, name);
    storage->time_date = time;
    return storage;
}

// Writes list into a fresh memory storage after prefix; returns the
// storage's bytes (the whole storage, prefix included).
std::string WriteArchive(ALEntryList& list, const std::string& prefix = std::string(),
                         int32_t* result = nullptr) {
    MemoryStorage out(std::string(), 4096, L"out.zip");
    out.Create();
    out.WriteBuffer(reinterpret_cast<const uint8_t*>(prefix.data()), static_cast<int32_t>(prefix.size()));
    ALPkArchive archive(out);
    const int32_t written = archive.Create(list);
    if (result) *result = written;
    EXPECT_EQ(archive.zip_start, static_cast<int32_t>(prefix.size()));
    out.Close();
    return out.data;
}

}  // namespace

TEST(ZipWrite, RecordsCarryDescriptorsUtf8NamesAndRelativeOffsets) {
    const std::string text = TextOf(10000);
    const std::string noise = PatternBytes(5000);
    ALEntryList list;
    list.AddEntry(Input(L"dir\\text.txt", text), new ALPkCompressor(9, 15, 8), nullptr, nullptr);
    list.AddEntry(Input(L"C:\\noise.bin", noise), new ALPkCompressor(1, 15, 8), nullptr, nullptr);
    list.AddEntry(Input(L"empty", ""), new ALPkCompressor(6, 15, 8), nullptr, nullptr);
    list.AddEntry(Input(L"Gr\u00fc\u00dfe/\u65e5\u672c.txt", "x"), new ALCopyCompressor(), nullptr, nullptr);
    const std::string prefix = "STUB" + std::string(1024, 'p');
    int32_t result = 0;
    const std::string file = WriteArchive(list, prefix, &result);
    EXPECT_EQ(result, 4);
    const std::string zip = file.substr(prefix.size());

    uint32_t directory_offset = 0;
    const std::vector<Record> records = ParseDirectory(zip, &directory_offset);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].name, "dir/text.txt");
    EXPECT_EQ(records[1].name, "noise.bin");
    EXPECT_EQ(records[2].name, "empty");
    EXPECT_EQ(records[3].name, "Gr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC.txt");
    // Deflated with option 1 (maximum); noise and the empty file did not
    // shrink and are stored; a copy compressor stores.
    EXPECT_EQ(records[0].method, 8);
    EXPECT_EQ(records[0].flags, 0x080A);
    EXPECT_LT(records[0].packed, text.size() / 4);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(records[i].method, 0) << i;
        EXPECT_EQ(records[i].flags, 0x0808) << i;
        EXPECT_EQ(records[i].packed, records[i].size) << i;
    }
    EXPECT_EQ(records[1].crc, ReferenceCrc32(noise));
    EXPECT_EQ(records[2].crc, 0u);
    EXPECT_EQ(records[0].date, 0x5A21);
    EXPECT_EQ(records[0].time, 0x6000);

    // Local records back to back from offset 0, each followed by its
    // descriptor; the directory directly after the last one.
    uint32_t at = 0;
    for (const Record& r : records) {
        EXPECT_EQ(r.offset, at);
        EXPECT_EQ(U32(zip, at), 0x04034B50u);
        EXPECT_EQ(U16(zip, at + 6), r.flags);
        EXPECT_EQ(U16(zip, at + 8), r.method);
        EXPECT_EQ(U16(zip, at + 26), r.name_length);
        EXPECT_EQ(zip.substr(at + 30, r.name_length), r.name);
        const size_t descriptor = at + 30 + r.name_length + r.packed;
        EXPECT_EQ(U32(zip, descriptor), 0x08074B50u);
        EXPECT_EQ(U32(zip, descriptor + 4), r.crc);
        EXPECT_EQ(U32(zip, descriptor + 8), r.packed);
        EXPECT_EQ(U32(zip, descriptor + 12), r.size);
        at = static_cast<uint32_t>(descriptor + 16);
    }
    EXPECT_EQ(directory_offset, at);
    // The stored bytes are the data itself.
    EXPECT_EQ(zip.substr(records[1].offset + 30 + 9, noise.size()), noise);
}

TEST(ZipWrite, DirectoryEntriesTimeStampsAndAttributes) {
    ALEntryList list;
    auto* directory = Input(L"a/empty", "", {2030, 6, 15, 8, 30, 11});
    directory->attributes.SetDirectory(true);
    directory->attributes.SetHidden(true);
    list.AddEntry(directory, nullptr, nullptr, nullptr);
    auto* old = Input(L"old.txt", "old", {1975, 3, 3, 3, 3, 3});
    old->attributes.SetReadOnly(true);
    old->attributes.SetSystem(true);
    old->attributes.SetArchive(true);
    list.AddEntry(old, new ALPkCompressor(), nullptr, nullptr);
    list.AddEntry(Input(L"unstamped", "u", ALTimeDate()), new ALPkCompressor(), nullptr, nullptr);
    auto* skipped = Input(L"not-marked", "z");
    list.AddEntry(skipped, new ALPkCompressor(), nullptr, nullptr)->SetMarked(false);

    const std::vector<Record> records = ParseDirectory(WriteArchive(list));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, "a/empty/");
    EXPECT_EQ(records[0].external, 0x12u);
    EXPECT_EQ(records[0].size, 0u);
    EXPECT_EQ(records[0].method, 0);
    EXPECT_EQ(records[0].date, ((2030 - 1980) << 9) | (6 << 5) | 15);
    EXPECT_EQ(records[0].time, (8 << 11) | (30 << 5) | 5);
    EXPECT_EQ(records[1].external, 0x25u);
    // Before 1980 (and no time at all) DOS has nothing: 1980-01-01 00:00.
    EXPECT_EQ(records[1].date, (1 << 5) | 1);
    EXPECT_EQ(records[1].time, 0);
    EXPECT_EQ(records[2].date, (1 << 5) | 1);
    EXPECT_EQ(skipped->loads, 0);
}

TEST(ZipWrite, LzmaAndZstandardMembersNameTheirMethodVersionAndEndMarker) {
    const std::string text = TextOf(20000);
    const std::string noise = PatternBytes(3000);
    struct Case {
        ALCompressor* engine;
        const std::string* data;
        uint16_t method, version, flags;
        const char* data_start;  // LZMA: SDK 9.22, 5 properties bytes; Zstandard: frame magic
    };
    const Case cases[] = {{new ALLzmaCompressor(6), &text, 14, 63, 0x080A, "\x09\x16\x05\x00"},
                          {new ALZstdCompressor(6), &text, 93, 63, 0x0808, "\x28\xB5\x2F\xFD"},
                          {new ALLzmaCompressor(6), &noise, 0, 20, 0x0808, ""},
                          {new ALZstdCompressor(1), &noise, 0, 20, 0x0808, ""}};
    ALEntryList list;
    for (const Case& c : cases) list.AddEntry(Input(L"m", *c.data), c.engine, nullptr, nullptr);
    const std::string zip = WriteArchive(list);
    const std::vector<Record> records = ParseDirectory(zip);
    ASSERT_EQ(records.size(), 4u);
    size_t central = zip.size() - 22 - U32(zip, zip.size() - 22 + 12);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const Record& r = records[i];
        EXPECT_EQ(r.method, cases[i].method);
        EXPECT_EQ(r.flags, cases[i].flags);
        EXPECT_EQ(U16(zip, r.offset + 4), cases[i].version);   // local: needed
        EXPECT_EQ(U16(zip, central + 4), cases[i].version);    // made by
        EXPECT_EQ(U16(zip, central + 6), cases[i].version);    // needed
        EXPECT_EQ(r.crc, ReferenceCrc32(*cases[i].data));
        const std::string start = cases[i].data_start;
        EXPECT_EQ(zip.substr(r.offset + 31, start.size()), start);
        EXPECT_LT(r.packed, r.method != 0 ? text.size() / 4 : noise.size() + 1);
        central += 46 + r.name_length;
    }
}

TEST(ZipWrite, StoringAfterAnExpandingDeflateKeepsTheArchiveConsistent) {
    // The last member expands under deflate by more than the directory
    // that follows it, so storing it leaves bytes behind the end record in
    // the storage; everything up to the end record must still be right.
    const std::string noise = PatternBytes(1000000);
    ALEntryList list;
    list.AddEntry(Input(L"n", noise), new ALPkCompressor(6, 15, 8), nullptr, nullptr);
    MemoryStorage out(std::string(), 4096, L"out.zip");
    ALPkArchive archive(out);
    ASSERT_EQ(archive.Create(list), 1);
    const std::string zip = out.data.substr(0, static_cast<size_t>(archive.end_record_position) + 22);
    const std::vector<Record> records = ParseDirectory(zip);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].method, 0);
    EXPECT_EQ(records[0].packed, noise.size());
    EXPECT_EQ(zip.substr(31, noise.size()), noise);
    EXPECT_EQ(records[0].crc, ReferenceCrc32(noise));
    EXPECT_GT(out.data.size(), zip.size());  // the stale tail the caller cuts off
}

TEST(ZipWrite, FailuresOfInputsAndOfTheArchiveStorage) {
    {
        ALEntryList list;
        list.AddEntry(new ALFile(L"no-such-file-here.txt"), new ALPkCompressor(), nullptr, nullptr);
        MemoryStorage out;
        ALPkArchive archive(out);
        EXPECT_EQ(archive.Create(list), AL_CANT_OPEN_FILE);
        const std::wstring detail = archive.status.GetStatusDetail();
        EXPECT_EQ(detail.rfind(L"no-such-file-here.txt: File open failure.", 0), 0u) << detail;
    }
    {
        ALEntryList list;
        list.AddEntry(Input(L"t", TextOf(100000)), new ALPkCompressor(), nullptr, nullptr);
        MemoryStorage out(std::string(), 64, L"full.zip");
        out.fail_flush_at = 5;
        ALPkArchive archive(out);
        EXPECT_EQ(archive.Create(list), AL_WRITE_ERROR);
        EXPECT_STREQ(archive.status.GetStatusDetail(),
                     L"Write failure on full.zip.  result = -1, errno = 28");
    }
    {
        ALEntryList list;
        auto* input = Input(L"r", TextOf(50000));
        input->fail_load_at = 3;
        list.AddEntry(input, new ALPkCompressor(), nullptr, nullptr);
        MemoryStorage out;
        ALPkArchive archive(out);
        EXPECT_EQ(archive.Create(list), AL_READ_ERROR);
        EXPECT_STREQ(archive.status.GetStatusDetail(), L"r: Read failure on r.  errno = 5");
    }
}

using ZipWriteFiles = ScratchDirTest;

TEST_F(ZipWriteFiles, FilesReadBackThroughTheLibraryWithContentsTimesAndAttributes) {
    fs::create_directories(dir() / "in" / "sub" / "deep");
    fs::create_directories(dir() / "in" / "hollow");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"in/empty.txt", ""},
        {"in/sub/page.bin", PatternBytes(4096)},
        {"in/sub/deep/pages.txt", TextOf(3 * 4096)},
        {"in/sub/deep/odd.txt", TextOf(4097)},
        {"in/readonly.txt", "keep me"},
    };
    for (const auto& [name, data] : files) WriteFileBytes(dir() / name, data);
    ASSERT_TRUE(ALFile::SetReadOnly(L"in/readonly.txt", true));

    ALEntryList list;
    for (const auto& item : files) {
        list.AddEntry(new ALFile(Utf8ToWide(item.first).c_str()), new ALPkCompressor(), nullptr, nullptr);
    }
    auto* hollow = new ALFile(L"in/hollow");
    hollow->attributes.SetDirectory(true);
    hollow->time_date = ALTimeDate(2024, 2, 29, 23, 59, 58);
    list.AddEntry(hollow, nullptr, nullptr, nullptr);
    ALPkArchive writer(L"out.zip");
    ASSERT_EQ(writer.Create(list), static_cast<int32_t>(files.size() + 1))
        << writer.status.GetStatusDetail();

    fs::create_directories(dir() / "x");
    ASSERT_TRUE(SetCurrentDir((dir() / "x").wstring()));
    ALPrototypeSet prototypes;
    prototypes.AddDecompressor(ALPkDecompressor());
    prototypes.AddDecompressor(ALCopyDecompressor());
    prototypes.AddStorage(ALFile());
    ALEntryList read(nullptr, prototypes);
    ALPkArchive reader((dir() / "out.zip").wstring().c_str());
    ASSERT_EQ(reader.ReadDirectory(read), static_cast<int32_t>(files.size() + 1));
    ASSERT_GE(reader.Extract(read), 0) << reader.status.GetStatusDetail();
    for (const auto& [name, data] : files) {
        EXPECT_EQ(ReadFileBytes(dir() / "x" / name), data) << name;
    }
    EXPECT_TRUE(fs::is_directory(dir() / "x" / "in" / "hollow"));
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(L"in/readonly.txt", attributes));
    EXPECT_TRUE(attributes & kAttrReadOnly);
    ASSERT_TRUE(GetPathAttributes(L"in/empty.txt", attributes));
    EXPECT_FALSE(attributes & kAttrReadOnly);
    // The writer took each file's time stamp when it opened it.
    for (ALEntry* e = read.GetFirstEntry(); e; e = read.GetNextEntry(e)) {
        if (e->storage->attributes.Directory()) {
            EXPECT_EQ(e->storage->time_date.year, 2024);
            EXPECT_EQ(e->storage->time_date.second, 58);
        } else {
            EXPECT_GE(e->storage->time_date.year, 2020) << e->storage->GetName();
        }
    }
}

TEST_F(ZipWriteFiles, ArchiveFileItCreatesIsCutAfterStoringAnExpandingMember) {
    WriteFileBytes(dir() / "noise.bin", PatternBytes(1000000));
    ALEntryList list;
    list.AddEntry(new ALFile(L"noise.bin"), new ALPkCompressor(), nullptr, nullptr);
    ALPkArchive writer(L"out.zip");
    ASSERT_EQ(writer.Create(list), 1) << writer.status.GetStatusDetail();
    const std::string zip = ReadFileBytes(dir() / "out.zip");
    EXPECT_EQ(zip.size(), static_cast<size_t>(writer.end_record_position) + 22);
    const std::vector<Record> records = ParseDirectory(zip);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].method, 0);
}

// The end record has no UTF-8 flag: the comment goes out in the code page
// the reader takes it in, and comes back unchanged.
TEST(ZipWrite, ArchiveCommentReadsBackUnchanged) {
    ALEntryList list;
    list.AddEntry(Input(L"a.txt", "a"), new ALCopyCompressor(), nullptr, nullptr);
    MemoryStorage out(std::string(), 4096, L"out.zip");
    ALPkArchive writer(out);
    writer.comment.Assign(L"Gr\u00fc\u00dfe aus K\u00f6ln");
    ASSERT_EQ(writer.Create(list), 1);

    MemoryStorage in(out.data.substr(0, static_cast<size_t>(writer.end_record_position) + 22 +
                                            WideToAnsi(writer.GetComment()).size()),
                     4096, L"in.zip");
    ALPkArchive reader(in);
    ALPrototypeSet prototypes;
    prototypes.AddStorage(ALFile());
    ALEntryList read(nullptr, prototypes);
    ASSERT_EQ(reader.ReadDirectory(read), 1) << reader.status.GetStatusDetail();
    EXPECT_EQ(std::wstring(reader.GetComment()), L"Gr\u00fc\u00dfe aus K\u00f6ln");
}
