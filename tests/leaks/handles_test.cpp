// Repeated extraction in one process gives back every file descriptor
// (POSIX) or handle (Windows) it opened: the library through its whole
// read-and-extract sequence, on good members and on failing ones, and the
// extraction driver through a whole attempt.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/pk_archive.h"
#include "hostile/hostile_zip.h"
#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file_stream.h"
#include "platform/open_handles.h"
#include "sea/extract.h"
#include "sea/own_file.h"
#include "sea/run_state.h"

namespace {

namespace fs = std::filesystem;
using hostile::File;
using hostile::Member;

class Handles : public ::testing::Test {
protected:
    void SetUp() override {
        if (CountOpenHandles() < 0) GTEST_SKIP() << "this system does not count open handles";
        ASSERT_TRUE(GetCurrentDir(saved_cwd_));
        std::random_device seed;
        scratch_ = fs::temp_directory_path() / ("leaks_" + std::to_string(seed() % 1000000000u));
        ASSERT_TRUE(fs::create_directory(scratch_));
        // The counter must see an open file, or the checks below prove nothing.
        const int64_t before = CountOpenHandles();
        FILE* probe = OpenStream((scratch_ / "probe").wstring(), "wb");
        ASSERT_NE(probe, nullptr);
        EXPECT_GT(CountOpenHandles(), before);
        fclose(probe);
        EXPECT_EQ(CountOpenHandles(), before);
    }
    void TearDown() override {
        SetCurrentDir(saved_cwd_);
        std::error_code error;
        fs::remove_all(scratch_, error);
    }

    // One read-and-extract sequence of the archive file into a fresh
    // directory; returns Extract's result.
    int32_t ExtractOnce(const fs::path& archive_path, int round) {
        const fs::path target = scratch_ / ("out" + std::to_string(round));
        fs::create_directory(target);
        ALPrototypeSet prototypes;
        prototypes.AddDecompressor(ALPkDecompressor());
        prototypes.AddDecompressor(ALCopyDecompressor());
        prototypes.AddStorage(ALFile());
        ALEntryList list(nullptr, prototypes);
        ALPkArchive archive(archive_path.wstring().c_str());
        archive.ReadDirectory(list);
        EXPECT_TRUE(SetCurrentDir(target.wstring()));
        const int32_t result = archive.Extract(list);
        SetCurrentDir(saved_cwd_);
        std::error_code error;
        fs::remove_all(target, error);
        return result;
    }

    std::wstring saved_cwd_;
    fs::path scratch_;
};

std::string Payload(bool with_failures) {
    std::vector<Member> members;
    for (int i = 0; i < 30; ++i) {
        const std::string dir = "InstallerData/part" + std::to_string(i % 5) + "/";
        members.push_back(File(dir + "file" + std::to_string(i) + ".txt",
                               std::string(1000 + i * 997, static_cast<char>('a' + i % 26)),
                               i % 3 == 0 ? 0 : 8));
    }
    Member folder = File("InstallerData/empty/", "", 0);
    folder.external = 0x10;
    members.push_back(folder);
    if (with_failures) {
        Member bad_crc = File("bad/crc.bin", std::string(9000, 'c'));
        bad_crc.crc = 1;
        members.push_back(bad_crc);
        members.push_back(File("../outside.txt", "refused"));
        members.push_back(File("blocked/file.txt", "blocked"));  // "blocked" is a file (below)
        members.insert(members.begin(), File("blocked", "a file where a folder is needed", 0));
        Member bomb = File("bomb.bin", std::string(1 << 20, '\0'));
        bomb.uncompressed = 100;
        members.push_back(bomb);
        members.push_back(File("unknown.bin", "data", 12));  // ends the run at once
    }
    hostile::Archive archive = hostile::Layout(members);
    archive.prefix = std::string(5000, 'M');
    return archive.Join();
}

TEST_F(Handles, RepeatedExtractionGivesEveryHandleBack) {
    for (bool failures : {false, true}) {
        SCOPED_TRACE(failures ? "with failing members" : "all members good");
        const fs::path archive = scratch_ / "payload.zip";
        {
            std::ofstream out(archive, std::ios::binary | std::ios::trunc);
            const std::string bytes = Payload(failures);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const int32_t first = ExtractOnce(archive, 0);  // warm-up: lazily made objects
        EXPECT_EQ(first >= 0, !failures) << first;
        const int64_t before = CountOpenHandles();
        for (int round = 1; round <= 25; ++round) EXPECT_EQ(ExtractOnce(archive, round), first);
        EXPECT_EQ(CountOpenHandles(), before);
    }
}

// The whole driver on a program without a payload (this test executable):
// working directory, access control, own-file check, free space, archive
// objects, failure clean-up, once per call.
TEST_F(Handles, RepeatedDriverAttemptsGiveEveryHandleBack) {
    std::wstring old_tmp, old_temp;
    const bool had_tmp = GetEnvVar(L"TMP", 32768, old_tmp);
    const bool had_temp = GetEnvVar(L"TEMP", 32768, old_temp);
    const std::wstring temp = scratch_.wstring();
    ASSERT_TRUE(SetEnvVar(L"TMP", temp));
    ASSERT_TRUE(SetEnvVar(L"TEMP", temp));
    g_run = RunState();
    // The own file is held as at start-up, and each attempt reads it.
    HoldOwnFile();
    ASSERT_NE(g_run.own_image.descriptor, -1);

    EXPECT_EQ(ExtractFile(), 0);  // warm-up
    const int64_t before = CountOpenHandles();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ExtractFile(), 0);
    EXPECT_EQ(CountOpenHandles(), before);
    ReleaseOwnFile();
    // Every attempt removed its (empty) working directory again.
    for (const auto& item : fs::directory_iterator(scratch_)) {
        EXPECT_NE(item.path().filename().string()[0], 'I') << item.path();
    }

    SetEnvVar(L"TMP", had_tmp ? old_tmp : std::wstring());
    SetEnvVar(L"TEMP", had_temp ? old_temp : std::wstring());
    g_run = RunState();
}

}  // namespace
