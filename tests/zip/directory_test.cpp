// Finding the end record and reading the central directory.
#include <gtest/gtest.h>

#include <string>

#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/pk_archive.h"
#include "platform/text.h"
#include "zip/zip_builder.h"
#include "zip/zip_test_support.h"

namespace {

struct MemoryArchive {
    explicit MemoryArchive(const std::string& bytes) : storage(bytes, 4096, L"mem.zip"), archive(storage) {}
    MemoryStorage storage;
    ALPkArchive archive;
};

ZipSpec TwoMembers() {
    ZipSpec spec;
    spec.members.push_back(Member("a.txt", "alpha alpha alpha"));
    spec.members.push_back(Member("dir/b.bin", PatternBytes(5000), 0));
    return spec;
}

}  // namespace

// --- FindEndRecord -----------------------------------------------------------

TEST(FindEndRecord, FindsRecordsEndingAtTheEndAndAcrossChunkBoundaries) {
    // The end record starts 22 + comment length bytes before the end; with
    // comments of 235..237 bytes its signature crosses the boundary 256
    // bytes before the end, where the backward search splits its chunks.
    for (size_t comment : {0u, 1u, 233u, 234u, 235u, 236u, 237u, 238u, 490u, 491u, 492u, 493u}) {
        ZipSpec spec = TwoMembers();
        spec.archive_comment = std::string(comment, 'c');
        const std::string bytes = BuildZip(spec);
        MemoryArchive m(bytes);
        ASSERT_EQ(m.storage.Open(), AL_NO_ERRORS);
        EXPECT_EQ(m.archive.FindEndRecord(), AL_NO_ERRORS) << comment;
        EXPECT_EQ(m.archive.end_record_position, static_cast<int32_t>(bytes.size() - 22 - comment))
            << comment;
    }
}

TEST(FindEndRecord, SearchesOnlyTheLast66000Bytes) {
    const std::string zip = BuildZip(TwoMembers());
    // Trailing bytes push the end record back: found when it begins exactly
    // 66,000 bytes before the end (22 + 65,978 trailing bytes), not one
    // byte earlier.
    const int32_t position = static_cast<int32_t>(zip.size() - 22);
    for (size_t trailing : {65977u, 65978u, 65979u}) {
        MemoryArchive m(zip + std::string(trailing, 'x'));
        ASSERT_EQ(m.storage.Open(), AL_NO_ERRORS);
        const bool found = trailing <= 65978u;
        EXPECT_EQ(m.archive.FindEndRecord(), found ? AL_NO_ERRORS : AL_INVALID_ARCHIVE) << trailing;
        EXPECT_EQ(m.archive.end_record_position, found ? position : -1) << trailing;
    }
}

TEST(FindEndRecord, TheSignatureNearestTheEndWins) {
    // Two archives one after the other: both end records describe a
    // directory, and the second one's wins.
    const std::string first = BuildZip(TwoMembers());
    const std::string bytes = first + BuildZip(TwoMembers());
    MemoryArchive m(bytes);
    ASSERT_EQ(m.storage.Open(), AL_NO_ERRORS);
    ASSERT_EQ(m.archive.FindEndRecord(), AL_NO_ERRORS);
    EXPECT_EQ(m.archive.end_record_position, static_cast<int32_t>(bytes.size() - 22));

    // A signature inside the comment describes no directory: passed over.
    ZipSpec spec = TwoMembers();
    spec.archive_comment = std::string("xxPK\5\6", 6) + std::string(40, 'y');
    const std::string commented = BuildZip(spec);
    MemoryArchive c(commented);
    ASSERT_EQ(c.storage.Open(), AL_NO_ERRORS);
    ASSERT_EQ(c.archive.FindEndRecord(), AL_NO_ERRORS);
    EXPECT_EQ(c.archive.end_record_position, static_cast<int32_t>(commented.size() - 22 - 46));
}

TEST(FindEndRecord, ShortAndSignatureFreeStorages) {
    const struct {
        std::string bytes;
        int32_t position;
    } cases[] = {
        {BuildZip(ZipSpec()), 0},                             // 22 bytes: one short chunk
        {std::string("PK\5\6", 4), 0},                        // only a signature
        {std::string(), -1},                                  // empty storage
        {std::string(300, 'z') + std::string("PK\5", 3), -1}, // cut signature at the end
        {std::string(100, 'z'), -1},
    };
    for (const auto& c : cases) {
        MemoryArchive m(c.bytes);
        ASSERT_EQ(m.storage.Open(), AL_NO_ERRORS);
        EXPECT_EQ(m.archive.FindEndRecord(), c.position < 0 ? AL_INVALID_ARCHIVE : AL_NO_ERRORS);
        EXPECT_EQ(m.archive.end_record_position, c.position);
        if (c.position < 0) {
            EXPECT_STREQ(m.archive.status.GetStatusDetail(),
                         L"Can't locate end of central directory in ZIP file mem.zip");
        }
    }
}

// --- ReadDirectory -----------------------------------------------------------

TEST(ReadDirectory, DecodesEveryFieldOfTheRecords) {
    ZipSpec spec;
    ZipMember deflated = Member("dir/deep/file.txt", "some text, some text");
    deflated.flags = 0x0006;  // deflate option 3
    deflated.external = 0x21;
    deflated.comment = "member comment";
    deflated.dos_date = 0x5A21;
    deflated.dos_time = 0x6000;
    spec.members.push_back(deflated);
    ZipMember stored = Member("stored.bin", "raw", 0);
    stored.external = 0x10;
    stored.dos_time = (23u << 11) | (59u << 5) | 29u;
    stored.dos_date = (45u << 9) | (12u << 5) | 31u;
    spec.members.push_back(stored);
    ZipMember odd = Member("odd.bin", "xyz", 12);
    odd.flags = 0x0001;  // encrypted
    spec.members.push_back(odd);
    spec.archive_comment = "archive comment";

    MemoryArchive m(BuildZip(spec));
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    ASSERT_EQ(m.archive.ReadDirectory(list), 3);
    EXPECT_STREQ(m.archive.GetComment(), L"archive comment");
    EXPECT_EQ(m.archive.directory_entries_total, 3);

    ALEntry* e = list.GetFirstEntry();
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->storage->GetName(), L"dir/deep/file.txt");
    EXPECT_STREQ(e->GetComment(), L"member comment");
    EXPECT_EQ(e->crc32, ~Crc32Of(deflated.data));
    EXPECT_EQ(e->compressed_size, static_cast<int32_t>(RawDeflate(deflated.data, 6).size()));
    EXPECT_EQ(e->storage->size, static_cast<int32_t>(deflated.data.size()));
    EXPECT_EQ(e->local_header_offset, 0);
    EXPECT_TRUE(e->IsMarked());
    EXPECT_FALSE(e->IsEncrypted());
    const auto* inflate = dynamic_cast<ALPkDecompressor*>(e->decompressor);
    ASSERT_NE(inflate, nullptr);
    EXPECT_EQ(inflate->deflate_option, 3);
    EXPECT_EQ(inflate->engine_type, AL_ENGINE_ZIP_DEFLATE);
    EXPECT_EQ(e->storage->attributes.GetBits(), ALFileAttributes::kReadOnly | ALFileAttributes::kArchive);
    const ALTimeDate& t = e->storage->time_date;
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({2025, 1, 1, 12, 0, 0}));

    e = list.GetNextEntry(e);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(dynamic_cast<ALCopyDecompressor*>(e->decompressor), nullptr);
    EXPECT_TRUE(e->storage->attributes.Directory());
    EXPECT_EQ(e->GetComment(), std::wstring());
    EXPECT_EQ(e->comment, nullptr);
    const ALTimeDate& u = e->storage->time_date;
    EXPECT_EQ(std::vector<int>({u.year, u.month, u.day, u.hour, u.minute, u.second}),
              std::vector<int>({2025, 12, 31, 23, 59, 58}));

    e = list.GetNextEntry(e);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->decompressor, nullptr);  // method 12: nobody clones type 112
    EXPECT_TRUE(e->IsEncrypted());
    EXPECT_EQ(e->crypto_engine, nullptr);
    EXPECT_EQ(list.GetNextEntry(e), nullptr);

    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E11"}));
    EXPECT_EQ(monitor.messages, (std::vector<std::wstring>{L"12:dir/deep/file.txt", L"12:stored.bin",
                                                           L"12:odd.bin"}));
}

TEST(ReadDirectory, EngineTypesFollowMethodAndDeflateOption) {
    EXPECT_EQ(ALPkArchive::EngineTypeFor(8, 0x0000), 108);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(8, 0x0808), 108);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(8, 0x0002), 109);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(8, 0x0004), 110);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(8, 0x0006), 111);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(0, 0x0006), 100);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(12, 0), 112);
    // Deflate64 and implode must not reach the inflater through 109, 110.
    EXPECT_EQ(ALPkArchive::EngineTypeFor(9, 0), 1009);
    EXPECT_EQ(ALPkArchive::EngineTypeFor(10, 0x0002), 1010);
}

TEST(ReadDirectory, NamesWithTheUtf8FlagAreUtf8) {
    ZipSpec spec;
    ZipMember flagged = Member("\xC3\xA9t\xC3\xA9/\xCE\xB1\xE6\x97\xA5.txt", "x");
    flagged.flags = 0x0800;
    flagged.comment = "\xE2\x82\xAC";
    spec.members.push_back(flagged);
    ZipMember plain = Member("caf\xC3\xA9.txt", "y");
    spec.members.push_back(plain);
    MemoryArchive m(BuildZip(spec));
    ALEntryList list(nullptr, ExtractorPrototypes());
    ASSERT_EQ(m.archive.ReadDirectory(list), 2);
    ALEntry* e = list.GetFirstEntry();
    EXPECT_EQ(std::wstring(e->storage->GetName()), L"\u00E9t\u00E9/\u03B1\u65E5.txt");
    EXPECT_EQ(std::wstring(e->GetComment()), L"\u20AC");
    // Without the flag the bytes come from the system's ANSI code page.
    e = list.GetNextEntry(e);
    EXPECT_EQ(std::wstring(e->storage->GetName()), AnsiToWide(plain.name.data(), plain.name.size()));
}

TEST(ReadDirectory, NamesEndingInASeparatorAreDirectories) {
    ZipSpec spec;
    ZipMember dir = Member("made/by/bsdtar/", "", 0);
    dir.external = 0;  // no DOS attributes at all
    spec.members.push_back(dir);
    spec.members.push_back(Member("made/file", "f"));
    MemoryArchive m(BuildZip(spec));
    ALEntryList list(nullptr, ExtractorPrototypes());
    ASSERT_EQ(m.archive.ReadDirectory(list), 2);
    EXPECT_TRUE(list.GetFirstEntry()->storage->attributes.Directory());
    EXPECT_FALSE(list.GetNextEntry(list.GetFirstEntry())->storage->attributes.Directory());
}

TEST(ReadDirectory, EmptyDirectoryGivesNoEntriesAndBothEvents) {
    MemoryArchive m(BuildZip(ZipSpec()));
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    EXPECT_EQ(m.archive.ReadDirectory(list), 0);
    EXPECT_EQ(list.GetFirstEntry(), nullptr);
    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E11"}));
    EXPECT_EQ(m.archive.Extract(list), 0);
    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E11", L"E0", L"E1"}));
}

TEST(ReadDirectory, BaseCorrectionIsThePositionOfTheZipData) {
    const std::string zip = BuildZip(TwoMembers());
    for (int32_t prefix : {0, 1, 1028, 0x134A04}) {
        MemoryArchive m(std::string(static_cast<size_t>(prefix), '\x90') + zip);
        ALEntryList list(nullptr, ExtractorPrototypes());
        ASSERT_EQ(m.archive.ReadDirectory(list), 2) << prefix;
        EXPECT_EQ(list.GetFirstEntry()->local_header_offset, prefix);
        const int32_t second = 30 + 5 + static_cast<int32_t>(RawDeflate("alpha alpha alpha", 6).size());
        EXPECT_EQ(list.GetNextEntry(list.GetFirstEntry())->local_header_offset, prefix + second);
    }
}

TEST(ReadDirectory, FailsWhenTheStorageCannotBeOpened) {
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    ALPkArchive archive(L"no such archive.zip");
    EXPECT_EQ(archive.ReadDirectory(list), AL_CANT_OPEN_FILE);
    EXPECT_EQ(archive.GetStatusCode(), AL_CANT_OPEN_FILE);
    EXPECT_EQ(monitor.events, std::vector<std::wstring>{L"E10"});
    EXPECT_EQ(archive.Extract(list), AL_CANT_OPEN_FILE);
}

TEST(ReadDirectory, EndRecordNotFoundEndsWithoutDirectoryReadEnd) {
    MemoryArchive m(std::string(5000, 'q'));
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    EXPECT_EQ(m.archive.ReadDirectory(list), AL_INVALID_ARCHIVE);
    EXPECT_EQ(monitor.events, std::vector<std::wstring>{L"E10"});
    // Extract on the empty list still brackets its run with both events.
    EXPECT_EQ(m.archive.Extract(list), AL_INVALID_ARCHIVE);
    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E0", L"E1"}));
}

TEST(ReadDirectory, DamagedDirectoriesAreInvalid) {
    const std::string good = BuildZip(TwoMembers());
    const size_t end = good.size() - 22;
    auto with_size = [&](uint32_t size) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) bytes[end + 12 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
        return bytes;
    };
    const uint32_t real_size = static_cast<uint32_t>(good[end + 12] & 0xFF) |
                               (static_cast<uint32_t>(good[end + 13] & 0xFF) << 8);
    ZipSpec runaway = TwoMembers();
    runaway.members[1].comment = "c";
    std::string runaway_bytes = BuildZip(runaway);
    // The last record claims a comment running past the end of the data.
    const size_t record = runaway_bytes.rfind(std::string("PK\1\2", 4));
    runaway_bytes[record + 32] = '\xFF';
    runaway_bytes[record + 33] = '\x7F';

    const struct {
        const char* what;
        std::string bytes;
        int32_t entries_left;
    } cases[] = {
        {"directory size one too large", with_size(real_size + 1), 0},
        {"directory size one too small", with_size(real_size - 1), 0},
        {"directory before the start of the storage", with_size(0x7FFFFFFF), 0},
        {"a record running past the end of the data", runaway_bytes, 2},
    };
    for (const auto& c : cases) {
        MemoryArchive m(c.bytes);
        RecordingMonitor monitor;
        ALEntryList list(&monitor, ExtractorPrototypes());
        EXPECT_EQ(m.archive.ReadDirectory(list), AL_INVALID_ARCHIVE) << c.what;
        EXPECT_STREQ(m.archive.status.GetStatusDetail(),
                     L"Bad record in central directory of ZIP file mem.zip");
        EXPECT_EQ(list.EntryCount(), c.entries_left) << c.what;
        EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E11"})) << c.what;
    }
}

TEST(ReadDirectory, MissingStoragePrototypeStopsTheWalk) {
    ALPrototypeSet engines_only;
    engines_only.AddDecompressor(ALPkDecompressor());
    MemoryArchive m(BuildZip(TwoMembers()));
    ALEntryList list(nullptr, engines_only);
    EXPECT_EQ(m.archive.ReadDirectory(list), AL_CANT_CREATE_STORAGE_OBJECT);
    EXPECT_STREQ(m.archive.status.GetStatusDetail(),
                 L"Failure creating storage object in ZIP file mem.zip");
    EXPECT_EQ(list.EntryCount(), 0);
}

TEST(ReadDirectory, LeavesAStorageOpenedByTheCallerOpen) {
    MemoryArchive m(BuildZip(TwoMembers()));
    ASSERT_EQ(m.storage.Open(), AL_NO_ERRORS);
    ALEntryList list(nullptr, ExtractorPrototypes());
    EXPECT_EQ(m.archive.ReadDirectory(list), 2);
    EXPECT_NE(m.storage.buffer, nullptr);

    MemoryArchive closed(BuildZip(TwoMembers()));
    ALEntryList other(nullptr, ExtractorPrototypes());
    EXPECT_EQ(closed.archive.ReadDirectory(other), 2);
    EXPECT_EQ(closed.storage.buffer, nullptr);
}

TEST(JobTotalSize, SumsMarkedEntriesAndKnowsUnknownSizes) {
    ALEntryList list;
    int32_t sizes[] = {100, 250, 7};
    for (int32_t size : sizes) {
        ALEntry* e = list.AddEntry(new MemoryStorage(), nullptr, nullptr, nullptr);
        e->compressed_size = size;
    }
    EXPECT_EQ(JobTotalSize(list), 357);
    list.GetFirstEntry()->SetMarked(false);
    EXPECT_EQ(JobTotalSize(list), 257);
    list.GetFirstEntry()->compressed_size = -1;  // unmarked: does not count
    EXPECT_EQ(JobTotalSize(list), 257);
    list.GetNextEntry(list.GetFirstEntry())->compressed_size = -1;
    EXPECT_EQ(JobTotalSize(list), -1);
}
