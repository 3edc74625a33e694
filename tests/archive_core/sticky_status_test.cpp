// Sticky status: once a storage has failed, its I/O refuses to run.
#include <gtest/gtest.h>

#include <string>

#include "archive/file.h"
#include "test_support.h"

TEST(StickyStatus, FailedFlushStopsAllLaterIo) {
    MemoryStorage storage;
    storage.fail_flush_at = 2;
    ASSERT_EQ(storage.Create(), AL_NO_ERRORS);
    const std::string data = PatternBytes(40);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
    // 16 bytes fill the buffer, the 17th flushes them; the 33rd fails.
    for (int i = 0; i < 32; ++i) ASSERT_EQ(storage.WriteChar(bytes[i]), bytes[i]);
    EXPECT_EQ(storage.WriteChar(bytes[32]), AL_WRITE_ERROR);
    EXPECT_EQ(storage.status.GetStatusCode(), AL_WRITE_ERROR);
    const std::wstring detail = storage.status.GetStatusDetail();
    EXPECT_EQ(detail, L"Write failure on memory.  result = -1, errno = 28");
    EXPECT_EQ(storage.data, data.substr(0, 16));

    const int loads = storage.loads;
    const int flushes = storage.flushes;
    const int seeks = storage.seeks;
    EXPECT_EQ(storage.FlushBuffer(), AL_WRITE_ERROR);
    EXPECT_EQ(storage.Seek(0), AL_WRITE_ERROR);
    EXPECT_EQ(storage.LoadBuffer(0), AL_WRITE_ERROR);
    EXPECT_EQ(storage.WriteBuffer(bytes, 10), 0);
    EXPECT_EQ(storage.WriteChar('x'), AL_WRITE_ERROR);  // the buffer is still full
    EXPECT_EQ(storage.Open(), AL_WRITE_ERROR);
    EXPECT_EQ(storage.Create(), AL_WRITE_ERROR);
    EXPECT_EQ(storage.ReadChar(), AL_WRITE_ERROR);
    EXPECT_EQ(storage.loads, loads);
    EXPECT_EQ(storage.flushes, flushes);
    EXPECT_EQ(storage.seeks, seeks);
    EXPECT_EQ(storage.data, data.substr(0, 16));
    EXPECT_STREQ(storage.status.GetStatusDetail(), detail.c_str());
}

TEST(StickyStatus, WriteCharSucceedsIntoBufferUntilAFlushIsNeeded) {
    MemoryStorage storage;
    storage.fail_flush_at = 1;
    ASSERT_EQ(storage.Create(), AL_NO_ERRORS);
    storage.WriteChar('a');
    EXPECT_EQ(storage.FlushBuffer(), AL_WRITE_ERROR);
    // Room is left in the buffer: the byte goes in, no I/O is attempted.
    EXPECT_EQ(storage.WriteChar('b'), 'b');
    EXPECT_EQ(storage.flushes, 1);
}

TEST(StickyStatus, WriteBufferStopsAtFailedFlushAndReportsBytesAccepted) {
    MemoryStorage storage;
    storage.fail_flush_at = 3;
    ASSERT_EQ(storage.Create(), AL_NO_ERRORS);
    const std::string data = PatternBytes(100);
    EXPECT_EQ(storage.WriteBuffer(reinterpret_cast<const uint8_t*>(data.data()), 100), 48);
    EXPECT_EQ(storage.status.GetStatusCode(), AL_WRITE_ERROR);
    EXPECT_EQ(storage.data, data.substr(0, 32));
}

TEST(StickyStatus, ReadsRunRegardlessButLoadsDoNot) {
    MemoryStorage storage(PatternBytes(64));
    storage.fail_load_at = 2;
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    uint8_t bytes[64];
    EXPECT_EQ(storage.ReadBuffer(bytes, 64), 16);
    EXPECT_EQ(storage.status.GetStatusCode(), AL_READ_ERROR);
    EXPECT_EQ(storage.ReadChar(), AL_READ_ERROR);
    EXPECT_EQ(storage.loads, 2);
    ALNameString target(L"kept", NameCaseExact);
    EXPECT_EQ(storage.ReadString(target, -1), AL_READ_ERROR);
    EXPECT_STREQ(storage.status.GetStatusDetail(),
                 L"Error reading string lengthin ReadString() for object memory");
}

using StickyFileStatus = ScratchDirTest;

TEST_F(StickyFileStatus, DeleteRunsRegardless) {
    ALFile file(L"never-there-1.bin");
    EXPECT_EQ(file.Open(), AL_CANT_OPEN_FILE);
    EXPECT_EQ(file.Delete(), AL_FILE_DELETION_ERROR);
    EXPECT_EQ(file.status.GetStatusCode(), AL_FILE_DELETION_ERROR);
}

TEST_F(StickyFileStatus, FailedFileDoesNoMoreIo) {
    WriteFileBytes("in.bin", PatternBytes(5000));
    ALFile input(L"in.bin");
    ASSERT_EQ(input.Open(), AL_NO_ERRORS);
    EXPECT_GE(input.ReadChar(), 0);
    input.status.SetError(AL_READ_ERROR, L"earlier failure");
    input.read_index = input.read_limit;
    EXPECT_EQ(input.LoadBuffer(input.file_position), AL_READ_ERROR);
    EXPECT_EQ(input.Seek(0), AL_READ_ERROR);
    EXPECT_EQ(input.file_position, 4096);
    EXPECT_EQ(input.ReadChar(), AL_READ_ERROR);

    ALFile output(L"out.bin");
    ASSERT_EQ(output.Create(), AL_NO_ERRORS);
    output.WriteChar('x');
    output.status.SetError(AL_WRITE_ERROR, L"earlier failure");
    EXPECT_EQ(output.FlushBuffer(), AL_WRITE_ERROR);
    EXPECT_EQ(output.Seek(0), AL_WRITE_ERROR);
    EXPECT_EQ(output.Close(), AL_WRITE_ERROR);
    EXPECT_EQ(ReadFileBytes("out.bin"), "");
    EXPECT_EQ(output.Open(), AL_WRITE_ERROR);
    EXPECT_FALSE(output.IsOpen());
    EXPECT_STREQ(output.status.GetStatusDetail(), L"earlier failure");
}

TEST(StickyStatus, WritesIntoAStorageThatWasNeverOpenedFailCleanly) {
    ALFile file(L"never-opened.bin");
    EXPECT_EQ(file.WriteChar('a'), AL_WRITE_ERROR);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Write failure on never-opened.bin.  result = -1, errno = 9");
    ALFile other(L"never-opened-2.bin");
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(other.WriteBuffer(bytes, 3), 0);
    EXPECT_EQ(other.status.GetStatusCode(), AL_WRITE_ERROR);
    ALFile reader(L"never-opened-3.bin");
    EXPECT_EQ(reader.ReadChar(), AL_READ_ERROR);
}

TEST(StickyStatus, FullDeviceFailsFlushWithNoSpaceLeft) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    ALFile file(L"/dev/full");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    const std::string data = PatternBytes(5000);
    EXPECT_EQ(file.WriteBuffer(reinterpret_cast<const uint8_t*>(data.data()), 5000), 4096);
    EXPECT_EQ(file.status.GetStatusCode(), AL_WRITE_ERROR);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Write failure on /dev/full.  result = -1, errno = 28");
    EXPECT_EQ(file.Seek(0), AL_WRITE_ERROR);
    EXPECT_EQ(file.Close(), AL_WRITE_ERROR);
}

TEST(StickyStatus, FailedStorageKeepsNameAndSize) {
    MemoryStorage storage(PatternBytes(10));
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    storage.status.SetError(AL_SEEK_ERROR, L"Seek failure on %s.  errno = %d", storage.GetName(), 22);
    EXPECT_EQ(storage.Close(), AL_SEEK_ERROR);
    EXPECT_STREQ(storage.GetName(), L"memory");
    EXPECT_EQ(storage.GetSize(), 10);
    EXPECT_EQ(storage.buffer, nullptr);
}
