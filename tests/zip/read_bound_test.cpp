// A storage bounded with LimitReads: the archive in front of the bound is
// read as if the storage ended there, and nothing at or after the bound
// is ever delivered, whatever the bytes there say.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sea/extract_lanes.h"
#include "zip/zip_builder.h"
#include "zip/zip_test_support.h"

namespace {

// Remembers the furthest byte any load delivered.
class WatchedStorage : public MemoryStorage {
public:
    explicit WatchedStorage(const std::string& bytes) : MemoryStorage(bytes, 4096, L"mem.zip") {}
    int32_t LoadBuffer(int32_t position) override {
        const int32_t count = MemoryStorage::LoadBuffer(position);
        if (count > 0) furthest = std::max(furthest, position + count);
        return count;
    }
    int32_t furthest = 0;
};

std::string Vendor() { return BuildZip({"", {Member("Windows/install.exe", "vendor")}, "", ""}); }
std::string Smuggled() {
    return BuildZip({"", {Member("Windows/install.exe", "smuggled"), Member("extra.txt", "x")}, "", ""});
}

std::vector<std::wstring> Names(ALEntryList& list) {
    std::vector<std::wstring> names;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) names.push_back(e->storage->GetName());
    return names;
}

// Reads the directory of bytes with reads bounded at end (-1: unbounded).
std::vector<std::wstring> ReadNames(const std::string& bytes, int32_t end, int32_t* furthest = nullptr,
                                    int32_t* result = nullptr) {
    WatchedStorage storage(bytes);
    storage.LimitReads(end);
    ALPkArchive archive(storage);
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    const int32_t read = archive.ReadDirectory(list);
    if (furthest) *furthest = storage.furthest;
    if (result) *result = read;
    return Names(list);
}

const std::vector<std::wstring> kVendorNames = {L"Windows/install.exe"};

}  // namespace

TEST(ReadBound, AnArchiveBehindTheBoundIsNeverSeen) {
    const std::string vendor = Vendor();
    const std::string bytes = vendor + std::string(5, '\0') + Smuggled();
    EXPECT_EQ(ReadNames(bytes, -1).size(), 2u);  // unbounded: the last archive wins
    int32_t furthest = 0;
    const int32_t end = static_cast<int32_t>(vendor.size()) + 5;
    EXPECT_EQ(ReadNames(bytes, end, &furthest), kVendorNames);
    EXPECT_LE(furthest, end);
}

TEST(ReadBound, AnEndRecordAcrossTheBoundIsPassedOver) {
    // An end record whose signature lies before the bound and whose fields
    // lie after it; unbounded it passes as an empty archive.
    const std::string vendor = Vendor();
    const std::string straddler = std::string("PK\5\6", 4) + std::string(18, '\0');
    const std::string bytes = vendor + straddler;
    int32_t result = 0;
    EXPECT_TRUE(ReadNames(bytes, -1, nullptr, &result).empty());
    EXPECT_EQ(result, 0);
    for (int32_t inside : {4, 10, 21}) {
        int32_t furthest = 0;
        const int32_t end = static_cast<int32_t>(vendor.size()) + inside;
        EXPECT_EQ(ReadNames(bytes, end, &furthest), kVendorNames) << inside;
        EXPECT_LE(furthest, end) << inside;
    }
}

TEST(ReadBound, TheSearchWindowCountsBackFromTheBound) {
    // 70,000 bytes after the bound would put the end record out of reach
    // of a search from the end of the storage.
    const std::string vendor = Vendor();
    const std::string bytes = vendor + std::string(70000, 'x');
    int32_t result = 0;
    EXPECT_TRUE(ReadNames(bytes, -1, nullptr, &result).empty());
    EXPECT_EQ(result, AL_INVALID_ARCHIVE);
    EXPECT_EQ(ReadNames(bytes, static_cast<int32_t>(vendor.size())), kVendorNames);
    // The 66,000 bytes count from the bound: an end record 66,001 bytes
    // before it is out of reach.
    const int32_t far = static_cast<int32_t>(vendor.size()) - 22 + 66001;
    EXPECT_TRUE(ReadNames(bytes, far, nullptr, &result).empty());
    EXPECT_EQ(result, AL_INVALID_ARCHIVE);
    EXPECT_EQ(ReadNames(bytes, far - 1), kVendorNames);
}

using ReadBoundFiles = ScratchDirTest;

TEST_F(ReadBoundFiles, MemberDataPastTheBoundIsNotRead) {
    // The bound cuts the vendor archive inside its member's data: the
    // directory cannot be found, and with a directory that claims data
    // beyond the bound the extraction fails rather than read it.
    const std::string vendor = Vendor();
    int32_t furthest = 0, result = 0;
    const int32_t end = 40;
    EXPECT_TRUE(ReadNames(vendor, end, &furthest, &result).empty());
    EXPECT_EQ(result, AL_INVALID_ARCHIVE);
    EXPECT_LE(furthest, end);

    ZipMember big = Member("big.bin", PatternBytes(20000), 0);
    const std::string zip = BuildZip({"", {big}, "", ""});
    WatchedStorage storage(zip);
    ALPkArchive archive(storage);
    RecordingMonitor monitor;
    ALEntryList list(&monitor, ExtractorPrototypes());
    ASSERT_EQ(archive.ReadDirectory(list), 1);
    // The directory is read; now the bound moves in front of the data.
    storage.LimitReads(1000);
    storage.furthest = 0;
    EXPECT_LT(archive.Extract(list), 0);
    EXPECT_LE(storage.furthest, 1000);

    // On two extraction threads the worker's reader keeps the same bound
    // (the worker takes the smaller member, the first, across the bound).
    const std::string two = BuildZip({"", {Member("small.bin", PatternBytes(3000), 0), big}, "", ""});
    WatchedStorage own(two), second(two);
    own.Open();  // as the driver's signature check leaves it
    ALPkArchive lanes_archive(own);
    ALEntryList lanes_list(&monitor, ExtractorPrototypes());
    ASSERT_EQ(lanes_archive.ReadDirectory(lanes_list), 2);
    own.LimitReads(1000);
    const uint64_t least_cost = g_lanes_least_cost;
    g_lanes_least_cost = 0;
    EXPECT_LT(ExtractInLanes(lanes_archive, lanes_list, second), 0);
    g_lanes_least_cost = least_cost;
    EXPECT_GT(second.furthest, 0);
    EXPECT_LE(second.furthest, 1000);
}

TEST_F(ReadBoundFiles, FilesReportTheBoundAsTheirSizeAndEnd) {
    const fs::path path = dir() / "bounded.bin";
    WriteFileBytes(path, std::string(10000, 'a'));
    ALFile file(path.wstring().c_str());
    file.LimitReads(5000);
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 5000);
    uint8_t bytes[6000];
    EXPECT_EQ(file.ReadBuffer(bytes, 6000), 5000);
    EXPECT_EQ(file.LoadBuffer(5000), AL_END_OF_FILE);
    EXPECT_EQ(file.LoadBuffer(9000), AL_END_OF_FILE);
    EXPECT_EQ(file.status.GetStatusCode(), AL_NO_ERRORS);
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 5000);

    // A bound set after bytes beyond it were loaded drops them.
    ALFile late(path.wstring().c_str());
    ASSERT_EQ(late.Open(), AL_NO_ERRORS);
    ASSERT_EQ(late.Seek(100), AL_NO_ERRORS);
    EXPECT_EQ(late.ReadChar(), 'a');
    late.LimitReads(2000);
    EXPECT_EQ(late.Tell(), 101);
    EXPECT_EQ(late.GetSize(), 2000);
    EXPECT_EQ(late.ReadBuffer(bytes, 6000), 1899);
    late.LimitReads(-1);
    late.Close();
    ASSERT_EQ(late.Open(), AL_NO_ERRORS);
    EXPECT_EQ(late.GetSize(), 10000);
}

TEST_F(ReadBoundFiles, ALocalHeaderOffsetBeyond2GiBIsPastTheBound) {
    // The directory's offset of the member's local header is read as a
    // signed position; 0x80000000 and above are past any bound.
    std::string zip = BuildZip({"", {Member("Windows/install.exe", "vendor")}, "", ""});
    const size_t central = zip.find("PK\1\2");
    ASSERT_NE(central, std::string::npos);
    for (uint32_t offset : {0x80000000u, 0xFFFFFFF0u}) {
        for (int i = 0; i < 4; ++i) zip[central + 42 + i] = static_cast<char>(offset >> (8 * i));
        const fs::path path = dir() / "far.zip";
        WriteFileBytes(path, zip);
        ALFile file(path.wstring().c_str());
        file.LimitReads(static_cast<int32_t>(zip.size()));
        ALPkArchive archive(file);
        RecordingMonitor monitor;
        ALEntryList list(&monitor, ExtractorPrototypes());
        ASSERT_EQ(archive.ReadDirectory(list), 1) << offset;
        std::wstring saved;
        ASSERT_TRUE(GetCurrentDir(saved));
        ASSERT_TRUE(SetCurrentDir(dir().wstring()));
        EXPECT_LT(archive.Extract(list), 0) << offset;
        ASSERT_TRUE(SetCurrentDir(saved));
    }
}
