// Extracting members into files: data, boundaries, CRC checks, failures
// that stop the run and failures that do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

#include "archive/entry_list.h"
#include "archive/pk_archive.h"
#include "common/time_zone.h"
#include "platform/format.h"
#include "zip/zip_builder.h"
#include "zip/zip_test_support.h"

namespace {

std::wstring CrcMessage(const std::wstring& name, uint32_t expected, uint32_t actual) {
    return FormatString(200, L"%s: CRC32 was supposed to be %08lx, was %08lx", name.c_str(),
                        expected, actual);
}

// Text that compresses well followed by noise that does not.
std::string MixedData(size_t n) {
    std::string text;
    while (text.size() < n / 2) text += "The quick brown fox jumps over the lazy dog. ";
    text.resize(n / 2);
    return text + PatternBytes(n - n / 2);
}

// Flips every byte with a fixed mask, both ways.
class XorCrypto : public ALCryptoEngine {
public:
    XorCrypto() : ALCryptoEngine(AL_ENGINE_DEFAULT, "xor") {}
    void EncryptBytes(uint8_t* bytes, int32_t count) override { Flip(bytes, count); }
    void DecryptBytes(uint8_t* bytes, int32_t count) override { Flip(bytes, count); }
    ALCryptoEngine* Clone(int32_t) const override { return new XorCrypto; }
    static std::string Flip(std::string bytes) {
        for (char& c : bytes) c = static_cast<char>(c ^ 0x5A);
        return bytes;
    }

private:
    static void Flip(uint8_t* bytes, int32_t count) {
        for (int32_t i = 0; i < count; ++i) bytes[i] ^= 0x5A;
    }
};

}  // namespace

using Extract = ZipFixture;

TEST_F(Extract, WritesEveryMemberExactly) {
    ZipSpec spec;
    spec.members.push_back(Member("stored.txt", "stored content", 0));
    for (int level : {0, 1, 6, 9}) {
        ZipMember m = Member("deflate" + std::to_string(level) + ".bin", MixedData(20000 + level));
        m.level = level;
        spec.members.push_back(m);
    }
    spec.members.push_back(Member("empty-stored", "", 0));
    spec.members.push_back(Member("empty-deflated", "", 8));
    ZipMember dir = Member("folder/", "", 0);
    dir.external = 0x10;
    spec.members.push_back(dir);
    spec.members.push_back(Member("Windows/resource/x.txt", "nested"));
    Run(BuildZip(spec));

    EXPECT_EQ(read_result, 9);
    EXPECT_EQ(extract_result, 9) << Detail();
    for (const ZipMember& m : spec.members) {
        if (m.name.back() == '/') continue;
        EXPECT_TRUE(ExistsInOut(m.name)) << m.name;
        EXPECT_EQ(Extracted(m.name), m.data) << m.name;
    }
    EXPECT_TRUE(fs::is_directory(Out() / "folder"));
    EXPECT_TRUE(fs::is_directory(Out() / "Windows" / "resource"));
    // The directory entry made a directory and no file; the name of the
    // nested file made its parents.
    EXPECT_TRUE(fs::is_empty(Out() / "folder"));
    for (ALEntry* e = list->GetFirstEntry(); e; e = list->GetNextEntry(e)) {
        EXPECT_EQ(e->storage->buffer, nullptr) << fs::path(e->storage->GetName());
    }
}

// On two threads: the same files, and a job progress that only grows, to
// the whole job once both threads are done.
TEST_F(Extract, TwoThreadsWriteTheSameFilesAndProgressOnlyGrows) {
    ZipSpec spec;
    for (int i = 0; i < 9; ++i) {
        spec.members.push_back(Member("f" + std::to_string(i) + ".bin", MixedData(3000 + 40000 * (i % 3)), i % 2 ? 0 : 8));
    }
    Read(BuildZip(spec));
    ExtractAllInLanes();
    EXPECT_EQ(extract_result, 9) << Detail();
    for (const ZipMember& m : spec.members) EXPECT_EQ(Extracted(m.name), m.data) << m.name;
    ASSERT_FALSE(monitor.ratios.empty());
    EXPECT_TRUE(std::is_sorted(monitor.ratios.begin(), monitor.ratios.end()))
        << testing::PrintToString(monitor.ratios);
    EXPECT_EQ(monitor.ratios.back(), 100);
}

// A member's stamp is local time. It reaches the file system as UTC
// converted with the zone's offset in force at the moment of extraction
// (daylight time included when it is in force now), not with the offset
// that the zone has at the stamp's own date. A stamp in the other season
// than today's tells the two apart wherever the zone keeps daylight time.
TEST_F(Extract, FilesGetTheirTimeStamps) {
    const CalendarDay day = DayInTheOtherSeason();
    ZipSpec spec;
    ZipMember m = Member("stamped.txt", "when");
    m.dos_date = static_cast<uint16_t>(((day.year - 1980) << 9) | (day.month << 5) | day.day);
    m.dos_time = (10u << 11) | (30u << 5) | 21u;  // 10:30:42
    spec.members.push_back(m);
    const int64_t offset_before = CurrentLocalOffset();
    Run(BuildZip(spec));
    const int64_t offset_after = CurrentLocalOffset();
    ASSERT_EQ(extract_result, 1) << Detail();

    const int64_t stamp = NaiveSeconds(day.year, day.month, day.day, 10, 30, 42);
    const int64_t written = FileLastWriteUtc((Out() / "stamped.txt").wstring().c_str());
    // The offset can only have changed if the zone changed it while the
    // test ran.
    EXPECT_TRUE(written == stamp - offset_before || written == stamp - offset_after)
        << "written " << written << ", stamp " << stamp << ", offset now " << offset_before;
    // What a conversion with the offset of the stamp's own date gives.
    const int64_t offset_of_date = LocalOffsetAt(static_cast<std::time_t>(stamp - offset_before));
    if (offset_of_date != offset_before) {
        EXPECT_NE(written, stamp - offset_of_date);
    }
}

TEST_F(Extract, OutputSizesAroundBufferBoundaries) {
    ZipSpec spec;
    const size_t sizes[] = {1, 4095, 4096, 4097, 8191, 8192, 3 * 4096, 3 * 4096 + 1, 100000};
    for (size_t size : sizes) {
        spec.members.push_back(Member("deflated_" + std::to_string(size), MixedData(size)));
        spec.members.push_back(Member("stored_" + std::to_string(size), PatternBytes(size), 0));
    }
    Run(BuildZip(spec));
    EXPECT_EQ(extract_result, static_cast<int32_t>(spec.members.size())) << Detail();
    for (const ZipMember& m : spec.members) EXPECT_EQ(Extracted(m.name), m.data) << m.name;
}

// The archive storage loads 4096-byte buffers from the member's local
// header on. A local extra field of the right length makes the member's
// data start a few bytes before the end of that first buffer, so that
// inflate is first handed a run too short for any output, or makes the data
// end exactly at a later buffer boundary.
TEST_F(Extract, CompressedDataAroundInputBufferBoundaries) {
    const std::string data = MixedData(30000);
    const std::string name = "m.bin";
    const size_t compressed = RawDeflate(data, 6).size();
    const size_t header = 30 + name.size();
    const size_t end_boundary = 4096 * ((header + compressed) / 4096 + 1);
    for (size_t shift = 0; shift < 12; ++shift) {
        for (bool align_start : {true, false}) {
            // The data start shift bytes before the first boundary, or end
            // shift bytes before a later one.
            const size_t extra = align_start ? 4096 - shift - header
                                             : end_boundary - shift - header - compressed;
            ZipSpec spec;
            spec.prefix = std::string(shift * 7, '\x55');
            ZipMember m = Member(name, data);
            m.local_extra = std::string(extra, '\0');
            spec.members.push_back(m);
            spec.members.push_back(Member("after.txt", "after"));
            Run(BuildZip(spec));
            ASSERT_EQ(extract_result, 2) << shift << " " << align_start << " " << Detail();
            ASSERT_EQ(Extracted(name), data);
        }
    }
}

TEST_F(Extract, AFlippedByteFailsOnlyItsMember) {
    ZipSpec spec;
    spec.members.push_back(Member("first.txt", "first"));
    ZipMember damaged = Member("dir/damaged.bin", PatternBytes(10000), 0);
    std::string payload = damaged.data;
    payload[5000] = static_cast<char>(payload[5000] ^ 0x01);
    damaged.payload = payload;
    spec.members.push_back(damaged);
    spec.members.push_back(Member("last.txt", MixedData(9000)));
    Run(BuildZip(spec));

    EXPECT_EQ(extract_result, AL_CRC_ERROR);
    EXPECT_EQ(Detail(), CrcMessage(L"dir/damaged.bin", Crc32Of(damaged.data), Crc32Of(payload)));
    EXPECT_EQ(Extracted("first.txt"), "first");
    EXPECT_EQ(Extracted("last.txt"), spec.members[2].data);
    EXPECT_EQ(EntryAt(1)->storage->status.GetStatusCode(), AL_CRC_ERROR);
}

TEST_F(Extract, DamagedDeflateStreamsFailTheirMemberWithoutHanging) {
    const std::string data = MixedData(50000);
    const std::string good = RawDeflate(data, 6);
    const struct {
        const char* what;
        std::string payload;
    } cases[] = {
        {"flipped byte", [&] { std::string p = good; p[good.size() / 2] ^= 0x20; return p; }()},
        {"cut in half", good.substr(0, good.size() / 2)},
        {"garbage", PatternBytes(3000)},
        {"nothing", std::string()},
    };
    for (const auto& c : cases) {
        ZipSpec spec;
        ZipMember m = Member("x.bin", data);
        m.payload = c.payload;
        spec.members.push_back(m);
        spec.members.push_back(Member("y.txt", "y"));
        Run(BuildZip(spec));
        EXPECT_EQ(extract_result, AL_CRC_ERROR) << c.what;
        EXPECT_EQ(Detail().rfind(L"x.bin: CRC32 was supposed to be ", 0), 0u) << c.what;
        EXPECT_LE(fs::file_size(Out() / "x.bin"), data.size()) << c.what;
        EXPECT_EQ(Extracted("y.txt"), "y") << c.what;
    }
}

TEST_F(Extract, UnknownMethodStopsTheRunWhereItIsReached) {
    ZipSpec spec;
    spec.members.push_back(Member("before.txt", "before"));
    spec.members.push_back(Member("bzip2.bin", "BZh9...", 12));
    spec.members.push_back(Member("after.txt", "after"));
    Run(BuildZip(spec));
    EXPECT_EQ(extract_result, AL_CANT_CREATE_COMPRESSION_ENGINE);
    EXPECT_EQ(Detail(), L"Attempt to decompress without a decompressor");
    EXPECT_EQ(Extracted("before.txt"), "before");
    EXPECT_FALSE(ExistsInOut("bzip2.bin"));
    EXPECT_FALSE(ExistsInOut("after.txt"));
    // No end events once the run has stopped.
    EXPECT_EQ(monitor.events.back(), L"E2:bzip2.bin");
}

TEST_F(Extract, EncryptedMemberWithoutCryptoEngineStopsTheRun) {
    ZipSpec spec;
    spec.members.push_back(Member("before.txt", "before"));
    ZipMember secret = Member("secret.txt", "secret");
    secret.flags = 0x0001;
    spec.members.push_back(secret);
    spec.members.push_back(Member("after.txt", "after"));
    Run(BuildZip(spec));
    EXPECT_EQ(extract_result, AL_MISSING_CRYPTO_ENGINE);
    EXPECT_EQ(Detail(), L"Attempt to extract an object without decryption engine");
    EXPECT_TRUE(ExistsInOut("before.txt"));
    EXPECT_FALSE(ExistsInOut("secret.txt"));
    EXPECT_FALSE(ExistsInOut("after.txt"));
}

TEST_F(Extract, CryptoEngineDecodesMemberDataAndAWrongKeyDeletesTheFile) {
    ALPrototypeSet prototypes = ExtractorPrototypes();
    prototypes.AddCryptoEngine(XorCrypto());
    ZipSpec spec;
    const std::string data = MixedData(12000);
    ZipMember right = Member("right.bin", data);
    right.flags = 0x0001;
    right.payload = XorCrypto::Flip(RawDeflate(data, 6));
    spec.members.push_back(right);
    ZipMember wrong = Member("wrong.bin", data);
    wrong.flags = 0x0001;
    wrong.payload = RawDeflate(data, 6);  // not encrypted: decoding garbles it
    spec.members.push_back(wrong);
    spec.members.push_back(Member("plain.txt", "plain"));
    Run(BuildZip(spec), prototypes);
    EXPECT_EQ(extract_result, AL_INVALID_KEY);
    EXPECT_EQ(Detail(), L"wrong.bin: Invalid key specified.");
    EXPECT_EQ(Extracted("right.bin"), data);
    EXPECT_FALSE(ExistsInOut("wrong.bin"));
    EXPECT_EQ(Extracted("plain.txt"), "plain");
}

TEST_F(Extract, UnmarkedMembersAreSkippedEntirely) {
    ZipSpec spec;
    for (const char* name : {"one", "two", "three"}) spec.members.push_back(Member(name, name));
    Read(BuildZip(spec));
    ASSERT_EQ(read_result, 3);
    EntryAt(1)->SetMarked(false);
    monitor.events.clear();
    ExtractAll();
    EXPECT_EQ(extract_result, 2);
    EXPECT_FALSE(ExistsInOut("two"));
    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E0", L"E2:one", L"E3:one", L"E2:three",
                                                         L"E3:three", L"E1"}));
}

TEST_F(Extract, AMemberThatCannotBeCreatedDoesNotStopTheOthers) {
    ZipSpec spec;
    spec.members.push_back(Member("blocked/file.txt", "never"));
    spec.members.push_back(Member("free.txt", "free"));
    fs::create_directories(Out());
    WriteFileBytes(Out() / "blocked", "a file where a directory is needed");
    Run(BuildZip(spec));
    EXPECT_EQ(extract_result, AL_CANT_OPEN_FILE);
    EXPECT_EQ(Detail().rfind(L"blocked/file.txt: File creation failure.  Open of blocked/file.txt", 0),
              0u)
        << Detail();
    EXPECT_EQ(Extracted("free.txt"), "free");
    // Neither member keeps a buffer once it is done: a list of thousands of
    // such members must not hold 4 KB for each.
    EXPECT_EQ(EntryAt(0)->storage->buffer, nullptr);
    EXPECT_EQ(EntryAt(1)->storage->buffer, nullptr);
    // Both members still have their events.
    EXPECT_EQ(monitor.events,
              (std::vector<std::wstring>{L"E10", L"E11", L"E0", L"E2:blocked/file.txt",
                                         L"E3:blocked/file.txt", L"E2:free.txt", L"E3:free.txt",
                                         L"E1"}));
}

TEST_F(Extract, NoMemberGrowsBeyondItsDeclaredSize) {
    ZipSpec spec;
    // A small declaration in front of a lot of data: deflated zeros and a
    // stored member whose compressed size exceeds its uncompressed size.
    ZipMember bomb = Member("bomb.bin", std::string(4 << 20, '\0'));
    bomb.uncompressed_size = 1000;
    bomb.crc = Crc32Of(std::string(1000, '\0'));
    spec.members.push_back(bomb);
    ZipMember stored = Member("stored.bin", PatternBytes(9000), 0);
    stored.uncompressed_size = 100;
    stored.crc = Crc32Of(stored.data.substr(0, 100));
    spec.members.push_back(stored);
    spec.members.push_back(Member("fine.txt", "fine"));
    Run(BuildZip(spec));
    EXPECT_LT(extract_result, 0);
    EXPECT_LE(fs::file_size(Out() / "bomb.bin"), 1000u);
    EXPECT_LE(fs::file_size(Out() / "stored.bin"), 100u);
    EXPECT_LT(EntryAt(0)->storage->status.GetStatusCode(), 0);
    EXPECT_LT(EntryAt(1)->storage->status.GetStatusCode(), 0);
    EXPECT_EQ(Extracted("fine.txt"), "fine");
}

TEST_F(Extract, OverrunWithMatchingCrcIsStillAFailure) {
    // The declared CRC matches the bytes written before the overrun, so only
    // the size check can catch it.
    ZipSpec spec;
    ZipMember sneaky = Member("sneaky.bin", std::string(50000, 'A'), 0);
    sneaky.uncompressed_size = 4096;
    sneaky.crc = Crc32Of(std::string(4096, 'A'));
    spec.members.push_back(sneaky);
    Run(BuildZip(spec));
    EXPECT_EQ(extract_result, AL_INVALID_ARCHIVE);
    EXPECT_EQ(Detail(), L"sneaky.bin: Decoded data of sneaky.bin exceed the declared size of 4096 bytes");
    EXPECT_EQ(Extracted("sneaky.bin"), std::string(4096, 'A'));
}

TEST_F(Extract, StoredMembersCopyExactlyTheirCompressedSize) {
    ZipSpec spec;
    ZipMember shorter = Member("short.bin", "0123456789", 0);
    shorter.compressed_size = 4;  // claims less data than it has
    spec.members.push_back(shorter);
    spec.members.push_back(Member("next.bin", "next", 0));
    Run(BuildZip(spec));
    EXPECT_EQ(Extracted("short.bin"), "0123");
    EXPECT_EQ(Extracted("next.bin"), "next");
    EXPECT_EQ(extract_result, AL_CRC_ERROR);
}

TEST_F(Extract, EventsAndJobProgress) {
    ZipSpec spec;
    spec.members.push_back(Member("a.bin", PatternBytes(30000), 0));
    spec.members.push_back(Member("b.bin", MixedData(60000)));
    Run(BuildZip(spec));
    ASSERT_EQ(extract_result, 2) << Detail();
    EXPECT_EQ(monitor.events, (std::vector<std::wstring>{L"E10", L"E11", L"E0", L"E2:a.bin",
                                                         L"E3:a.bin", L"E2:b.bin", L"E3:b.bin",
                                                         L"E1"}));
    EXPECT_EQ(monitor.job_total, static_cast<uint32_t>(JobTotalSize(*list)));
    EXPECT_EQ(monitor.job_done, monitor.job_total);
    ASSERT_FALSE(monitor.ratios.empty());
    for (size_t i = 1; i < monitor.ratios.size(); ++i) {
        EXPECT_LE(monitor.ratios[i - 1], monitor.ratios[i]);
    }
    EXPECT_GE(monitor.ratios.front(), 0);
    EXPECT_EQ(monitor.ratios.back(), 100);
    EXPECT_EQ(archive->storage->monitor, nullptr);
    EXPECT_EQ(EntryAt(1)->storage->monitor, nullptr);
}
