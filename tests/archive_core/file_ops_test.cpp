// ALFile's file-system operations: open/create failures, temporary names,
// parent directories, rename and backup, delete, time stamp and attributes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>

#include "archive/file.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "test_support.h"

namespace {

bool IsReadOnly(const wchar_t* path) {
    uint32_t attributes = 0;
    return GetPathAttributes(path, attributes) && (attributes & kAttrReadOnly);
}

// Sets the last-write time of path to `utc` (seconds since 1970), through
// the standard library rather than the code under test. Half a second more
// keeps a clock-conversion error of microseconds from reaching the seconds.
void SetLastWriteUtc(const fs::path& path, int64_t utc) {
    using namespace std::chrono;
    const auto target = system_clock::time_point(seconds(utc)) + milliseconds(500);
    fs::last_write_time(path, fs::file_time_type::clock::now() +
                                  duration_cast<fs::file_time_type::duration>(
                                      target - system_clock::now()));
}

// An instant whose local time is near 15:41:27 on 14 September 2021, in
// any zone: hour, day and month all differ from their neighbours' errors.
int64_t AfternoonInstant() {
    const int64_t naive = NaiveSeconds(2021, 9, 14, 15, 41, 27);
    return naive - LocalOffsetAt(static_cast<std::time_t>(naive - CurrentLocalOffset()));
}

const bool kWindowsPaths = kPathSeparator == L'\\';

}  // namespace

using FileOps = ScratchDirTest;

TEST_F(FileOps, OpenOfMissingFileRecordsErrno) {
    ALFile file(L"missing.txt");
    EXPECT_EQ(file.Open(), AL_CANT_OPEN_FILE);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"File open failure.  Open of missing.txt returned errno = 2");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Create(), AL_CANT_OPEN_FILE);
    EXPECT_FALSE(fs::exists("missing.txt"));
}

TEST_F(FileOps, AnOpenFileIsReadWithoutOpeningTheName) {
    WriteFileBytes("held.bin", "0123456789");
    int error = 0;
    const int fd = FileOpenRead(L"held.bin", &error);
    ASSERT_NE(fd, -1);
    ASSERT_TRUE(FileSeek(fd, 7, &error));
    ALFile file(L"no such name");
    file.ReadOpenFile(fd);
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 10);
    uint8_t bytes[10] = {};
    EXPECT_EQ(file.ReadBuffer(bytes, 10), 10) << "from the first byte, wherever the file stood";
    EXPECT_EQ(std::string(bytes, bytes + 10), "0123456789");
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(FileLength(fd), 10) << "Close leaves the caller's file open";
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.ReadChar(), '0');
    file.Close();
    EXPECT_TRUE(FileClose(fd));
}

TEST_F(FileOps, OpenTakesSizeTimeAndReadOnlyFromFileSystem) {
    WriteFileBytes("ro.txt", "twelve bytes");
    const int64_t modified = AfternoonInstant();
    SetLastWriteUtc("ro.txt", modified);
    ASSERT_TRUE(ALFile::SetReadOnly(L"ro.txt", true));
    ALFile file(L"ro.txt");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 12);
    // The time/date is the modification time in local time, field by field.
    FollowSystemTimeZone();
    const std::time_t at = static_cast<std::time_t>(modified);
    const std::tm local = *std::localtime(&at);
    EXPECT_EQ(file.time_date.year, local.tm_year + 1900);
    EXPECT_EQ(file.time_date.month, local.tm_mon + 1);
    EXPECT_EQ(file.time_date.day, local.tm_mday);
    EXPECT_EQ(file.time_date.hour, local.tm_hour);
    EXPECT_EQ(file.time_date.minute, local.tm_min);
    EXPECT_EQ(file.time_date.second, local.tm_sec);
    EXPECT_EQ(file.time_date.minute, 41);
    EXPECT_EQ(file.time_date.second, 27);
    EXPECT_TRUE(file.attributes.ReadOnly());
    EXPECT_FALSE(file.attributes.ClearAll());
    file.Close();
    EXPECT_TRUE(IsReadOnly(L"ro.txt"));
}

// Only a created file is stamped: the self-extractor opens its own
// executable through an ALFile, and closing it must not re-stamp it.
TEST_F(FileOps, CloseOfAnOpenedFileLeavesItsTime) {
    WriteFileBytes("opened.txt", "read only here");
    const int64_t modified = AfternoonInstant();
    SetLastWriteUtc("opened.txt", modified);
    ALFile file(L"opened.txt");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.ReadChar(), 'r');
    file.time_date = ALTimeDate(2010, 2, 3, 4, 5, 6);
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(FileLastWriteUtc(L"opened.txt"), modified);
}

TEST_F(FileOps, TemporaryNameSkipsExistingFiles) {
    WriteFileBytes("~al~000.tmp", "taken");
    ALFile file(L"");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    EXPECT_STREQ(file.GetName(), L"~al~001.tmp");
    EXPECT_STREQ(file.name.GetPreviousName(), L"~al~000.tmp");
    file.WriteChar('t');
    file.Close();
    EXPECT_EQ(ReadFileBytes("~al~001.tmp"), "t");
    EXPECT_EQ(ReadFileBytes("~al~000.tmp"), "taken");
}

TEST_F(FileOps, TemporaryNamesAllTakenGivesUp) {
    for (int n = 0; n < 1000; ++n) {
        wchar_t name[16];
        swprintf(name, 16, L"~al~%03d.tmp", n);
        WriteFileBytes(name, "");
    }
    ALFile file(L"");
    EXPECT_EQ(file.Create(), AL_CANT_OPEN_FILE);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Temporary file creation failure.  Tried 1000 times to open ~al~999.tmp (or a "
                 L"name something like that).");
    EXPECT_STREQ(file.GetName(), L"");
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileOps, TemporaryNameFailureOtherThanTakenStopsAtOnce) {
    const fs::path gone = dir() / "gone";
    fs::create_directory(gone);
    ASSERT_TRUE(SetCurrentDir(gone.wstring()));
    std::error_code error;
    if (!fs::remove(gone, error)) {
        SetCurrentDir(dir().wstring());
        GTEST_SKIP() << "the current directory cannot be removed here";
    }
    ALFile file(L"");
    EXPECT_EQ(file.Create(), AL_CANT_OPEN_FILE);
    SetCurrentDir(dir().wstring());
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Temporary file creation failure.  Open of ~al~000.tmp returned errno = 2");
    EXPECT_STREQ(file.GetName(), L"");
}

TEST_F(FileOps, CreateMakesMissingParentDirectories) {
    ALFile file(L"a/b/c.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.WriteChar('c');
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_TRUE(fs::is_directory("a/b"));
    EXPECT_EQ(ReadFileBytes("a/b/c.txt"), "c");
}

TEST_F(FileOps, CreateWithBackslashSeparators) {
    if (!kWindowsPaths) GTEST_SKIP() << "'\\' is a file-name character here";
    ALFile file(L"p\\q/r.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.Close();
    EXPECT_TRUE(fs::exists("p/q/r.txt"));
}

TEST_F(FileOps, DirectoryEntryCreatesDirectoriesAndNoFile) {
    ALFile entry(L"a/b/");
    entry.attributes.SetDirectory(true);
    EXPECT_EQ(entry.Create(), AL_NO_ERRORS);
    EXPECT_FALSE(entry.IsOpen());
    EXPECT_TRUE(fs::is_directory("a/b"));
    EXPECT_EQ(entry.Close(), AL_NO_ERRORS);
    // Without the trailing separator no file takes the directory's place.
    ALFile bare(L"x/y");
    bare.attributes.SetDirectory(true);
    EXPECT_EQ(bare.Create(), AL_NO_ERRORS);
    EXPECT_FALSE(bare.IsOpen());
    EXPECT_TRUE(fs::is_directory("x"));
    EXPECT_FALSE(fs::exists("x/y"));
}

TEST_F(FileOps, CreateBelowAFileFails) {
    WriteFileBytes("plain", "file");
    ALFile file(L"plain/inner.txt");
    EXPECT_EQ(file.Create(), AL_CANT_OPEN_FILE);
    const std::wstring detail = file.status.GetStatusDetail();
    EXPECT_EQ(detail.rfind(L"File creation failure.  Open of plain/inner.txt returned errno = ", 0), 0u)
        << std::string(detail.begin(), detail.end());
    EXPECT_EQ(ReadFileBytes("plain"), "file");
}

TEST_F(FileOps, CreateParentDirectoriesResults) {
    ALFile empty(L"");
    EXPECT_FALSE(empty.CreateParentDirectories());
    ALFile trailing(L"d1/d2/");
    EXPECT_FALSE(trailing.CreateParentDirectories());
    EXPECT_TRUE(fs::is_directory("d1/d2"));
    ALFile nested(L"e1/e2/f.txt");
    EXPECT_TRUE(nested.CreateParentDirectories());
    EXPECT_TRUE(fs::is_directory("e1/e2"));
    EXPECT_FALSE(fs::exists("e1/e2/f.txt"));
    ALFile flat(L"flat.txt");
    EXPECT_TRUE(flat.CreateParentDirectories());
    // An absolute path: the empty leading component and the existing
    // directories on the way are tolerated.
    const std::wstring absolute = (dir() / "g1" / "f.txt").wstring();
    ALFile rooted(absolute.c_str());
    EXPECT_TRUE(rooted.CreateParentDirectories());
    EXPECT_TRUE(fs::is_directory(dir() / "g1"));
}

TEST_F(FileOps, CreateOverReadOnlyFileClearsItAndTruncates) {
    WriteFileBytes("locked.txt", "old contents");
    ASSERT_TRUE(ALFile::SetReadOnly(L"locked.txt", true));
    ASSERT_TRUE(IsReadOnly(L"locked.txt"));
    ALFile file(L"locked.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.WriteChar('n');
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(ReadFileBytes("locked.txt"), "n");
    EXPECT_FALSE(IsReadOnly(L"locked.txt"));
}

TEST_F(FileOps, RenameMovesFileAndRemembersOldName) {
    WriteFileBytes("x.txt", "data");
    ALFile file(L"x.txt");
    EXPECT_EQ(file.Rename(L"y.txt", false), AL_NO_ERRORS);
    EXPECT_STREQ(file.GetName(), L"y.txt");
    EXPECT_STREQ(file.name.GetPreviousName(), L"x.txt");
    EXPECT_FALSE(fs::exists("x.txt"));
    EXPECT_EQ(ReadFileBytes("y.txt"), "data");
    EXPECT_EQ(file.RevertRename(false), AL_NO_ERRORS);
    EXPECT_STREQ(file.GetName(), L"x.txt");
    EXPECT_EQ(ReadFileBytes("x.txt"), "data");
    EXPECT_FALSE(fs::exists("y.txt"));
}

TEST_F(FileOps, RenameWithDeleteReplacesTarget) {
    WriteFileBytes("src.txt", "new");
    WriteFileBytes("dst.txt", "old");
    ALFile file(L"src.txt");
    EXPECT_EQ(file.Rename(L"dst.txt", true), AL_NO_ERRORS);
    EXPECT_EQ(ReadFileBytes("dst.txt"), "new");
    EXPECT_FALSE(fs::exists("src.txt"));
}

TEST_F(FileOps, RenameToSameNameIgnoringCaseIsRefused) {
    WriteFileBytes("x.txt", "keep me");
    ALFile file(L"x.txt");
    EXPECT_EQ(file.Rename(L"X.TXT", true), AL_ERROR_RENAMING_FILE);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Error attempting to rename X.TXT to x.txt.  Can't rename to the same name!");
    EXPECT_EQ(ReadFileBytes("x.txt"), "keep me");
    EXPECT_STREQ(file.GetName(), L"x.txt");
}

TEST_F(FileOps, RenameOfMissingSourceReportsErrno) {
    ALFile file(L"nothing.txt");
    EXPECT_EQ(file.Rename(L"other.txt", false), AL_ERROR_RENAMING_FILE);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Error renaming nothing.txt to other.txt.  errno = 2");
    EXPECT_STREQ(file.GetName(), L"nothing.txt");
}

TEST_F(FileOps, RenameToBackupReplacesOldBackup) {
    fs::create_directory("dir");
    WriteFileBytes("dir/data.txt", "current");
    WriteFileBytes("dir/data.bak", "stale");
    ALFile file(L"dir/data.txt");
    EXPECT_EQ(file.RenameToBackup(true), AL_NO_ERRORS);
    EXPECT_STREQ(file.GetName(), L"dir/data.bak");
    EXPECT_STREQ(file.name.GetPreviousName(), L"dir/data.txt");
    EXPECT_EQ(ReadFileBytes("dir/data.bak"), "current");
    EXPECT_FALSE(fs::exists("dir/data.txt"));
}

TEST_F(FileOps, RenameToBackupUsesLastDotAnywhere) {
    fs::create_directory("dir.x");
    WriteFileBytes("dir.x/data", "payload");
    ALFile file(L"dir.x/data");
    EXPECT_EQ(file.RenameToBackup(false), AL_NO_ERRORS);
    EXPECT_STREQ(file.GetName(), L"dir.bak");
    EXPECT_EQ(ReadFileBytes("dir.bak"), "payload");
}

TEST_F(FileOps, RevertRenameToleratesMissingFileAndRefusesSameName) {
    ALFile file(L"a.txt");
    file.name.Assign(L"b.txt");
    EXPECT_EQ(file.RevertRename(true), AL_NO_ERRORS);  // nothing on disk
    EXPECT_STREQ(file.GetName(), L"a.txt");

    WriteFileBytes("same.bak", "precious");
    ALFile backup(L"same.bak");
    backup.name.ChangeExtension(L".bak");
    EXPECT_EQ(backup.RevertRename(true), AL_ERROR_RENAMING_FILE);
    EXPECT_EQ(ReadFileBytes("same.bak"), "precious");
}

TEST_F(FileOps, DeleteRemovesFileOrReportsErrno) {
    WriteFileBytes("del.txt", "x");
    ALFile file(L"del.txt");
    EXPECT_EQ(file.Delete(), AL_NO_ERRORS);
    EXPECT_FALSE(fs::exists("del.txt"));
    EXPECT_EQ(file.Delete(), AL_FILE_DELETION_ERROR);
    EXPECT_STREQ(file.status.GetStatusDetail(), L"Error deleting file del.txt, errno = 2 ");
}

TEST_F(FileOps, CloneMakesFilesOnly) {
    ALFile prototype(L"");
    ALStorage* any = prototype.Clone(L"n.txt", AL_STORAGE_DEFAULT);
    ASSERT_NE(any, nullptr);
    EXPECT_STREQ(any->GetName(), L"n.txt");
    EXPECT_EQ(any->object_type, AL_STORAGE_FILE);
    EXPECT_EQ(any->buffer_size, 4096);
    EXPECT_EQ(any->name.GetCaseMode(), NameCaseIgnore);
    delete any;
    ALStorage* file = prototype.Clone(L"m.txt", AL_STORAGE_FILE);
    EXPECT_NE(file, nullptr);
    delete file;
    EXPECT_EQ(prototype.Clone(L"z", 5), nullptr);
}

TEST_F(FileOps, CloseStampsLocalTimeConvertedWithCurrentZoneOffset) {
    // A winter and a summer date: both are converted with the offset in
    // force now, so one of them is a daylight bias away from the zone's
    // own rule for its date wherever daylight time exists.
    const ALTimeDate kStamps[] = {{2024, 1, 15, 12, 0, 0}, {2024, 7, 1, 8, 30, 44}};
    for (const ALTimeDate& stamp : kStamps) {
        ALFile file(L"stamp.txt");
        ASSERT_EQ(file.Create(), AL_NO_ERRORS);
        file.time_date = stamp;
        file.WriteChar('s');
        ASSERT_EQ(file.Close(), AL_NO_ERRORS);
        const int64_t expected = NaiveSeconds(stamp.year, stamp.month, stamp.day, stamp.hour,
                                              stamp.minute, stamp.second) -
                                 CurrentLocalOffset();
        EXPECT_EQ(FileLastWriteUtc(L"stamp.txt"), expected) << stamp.month;
    }
}

TEST_F(FileOps, CloseWithoutYearLeavesTimeAndAttributes) {
    ALFile file(L"plain.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.attributes.SetReadOnly(true);
    file.WriteChar('p');
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_FALSE(IsReadOnly(L"plain.txt"));
    EXPECT_LE(std::llabs(FileLastWriteUtc(L"plain.txt") - static_cast<int64_t>(before)), 120);
}

TEST_F(FileOps, CloseAppliesAttributesOfCreatedFileOnly) {
    ALFile file(L"attr.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.time_date = ALTimeDate(2020, 5, 5, 5, 5, 6);
    file.attributes.SetBits(ALFileAttributes::kReadOnly | ALFileAttributes::kHidden |
                            ALFileAttributes::kArchive);
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    uint32_t native = 0;
    ASSERT_TRUE(GetPathAttributes(L"attr.txt", native));
    EXPECT_TRUE(native & kAttrReadOnly);
    if (kWindowsPaths) {
        EXPECT_TRUE(native & kAttrHidden);
        EXPECT_TRUE(native & kAttrArchive);
        EXPECT_FALSE(native & kAttrSystem);
    }
    // Reading it back: the flags this system keeps come from the file.
    ALFile reader(L"attr.txt");
    ASSERT_EQ(reader.Open(), AL_NO_ERRORS);
    EXPECT_TRUE(reader.attributes.ReadOnly());
    reader.attributes.SetReadOnly(false);
    reader.time_date = ALTimeDate(2001, 1, 1, 0, 0, 0);
    EXPECT_EQ(reader.Close(), AL_NO_ERRORS);
    EXPECT_TRUE(IsReadOnly(L"attr.txt"));  // opened, not created: untouched
}

TEST_F(FileOps, ClearAllAttributeClearsEverything) {
    WriteFileBytes("clear.txt", "");
    ALFile file(L"clear.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.time_date = ALTimeDate(2020, 5, 5, 5, 5, 6);
    file.attributes.SetBits(ALFileAttributes::kReadOnly | ALFileAttributes::kHidden |
                            ALFileAttributes::kClearAll);
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    uint32_t native = 0;
    ASSERT_TRUE(GetPathAttributes(L"clear.txt", native));
    EXPECT_FALSE(native & kAttrReadOnly);
    EXPECT_FALSE(native & kAttrHidden);
}

TEST_F(FileOps, ReopenAfterCloseReadsWhatWasWritten) {
    ALFile file(L"again.bin");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.WriteString(L"twice");
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(file.created, 0);
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    ALNameString text(L"", NameCaseExact);
    EXPECT_EQ(file.ReadString(text, -1), AL_NO_ERRORS);
    EXPECT_STREQ(text.GetName(), L"twice");
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(file.buffer, nullptr);
}
