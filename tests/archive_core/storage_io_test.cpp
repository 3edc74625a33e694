// Byte, block, integer, string and CRC I/O of storages, on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/file.h"
#include "test_support.h"

using StorageIo = ScratchDirTest;

TEST_F(StorageIo, EmptyFileReadsEndOfDataWithoutFailure) {
    WriteFileBytes("empty.bin", "");
    ALFile file(L"empty.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 0);
    EXPECT_EQ(file.ReadChar(), AL_END_OF_FILE);
    EXPECT_EQ(file.ReadChar(), AL_END_OF_FILE);
    EXPECT_EQ(file.status.GetStatusCode(), AL_NO_ERRORS);
}

TEST_F(StorageIo, ReadBufferStopsAtEndOfData) {
    WriteFileBytes("four.bin", "WXYZ");
    ALFile file(L"four.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    uint8_t bytes[10] = {};
    EXPECT_EQ(file.ReadBuffer(bytes, 10), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "WXYZ");
    EXPECT_EQ(file.Tell(), 4);
    EXPECT_EQ(file.status.GetStatusCode(), AL_NO_ERRORS);
}

TEST_F(StorageIo, ReadBufferSpanningSeveralBuffers) {
    const std::string data = PatternBytes(10000);
    WriteFileBytes("big.bin", data);
    ALFile file(L"big.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 10000);
    std::vector<uint8_t> bytes(10000);
    ASSERT_EQ(file.ReadBuffer(bytes.data(), 10000), 10000);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data);
    EXPECT_EQ(file.Tell(), 10000);
    EXPECT_EQ(file.ReadChar(), AL_END_OF_FILE);
}

TEST_F(StorageIo, MixedCharAndBufferReadsKeepOrderAndPosition) {
    const std::string data = PatternBytes(9000);
    WriteFileBytes("mixed.bin", data);
    ALFile file(L"mixed.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    std::string got;
    std::vector<uint8_t> chunk(3001);
    while (got.size() < data.size()) {
        int c = file.ReadChar();
        ASSERT_GE(c, 0);
        got.push_back(static_cast<char>(c));
        int32_t n = file.ReadBuffer(chunk.data(), 3001);
        got.append(chunk.begin(), chunk.begin() + n);
        ASSERT_EQ(file.Tell(), static_cast<int32_t>(got.size()));
    }
    EXPECT_EQ(got, data);
}

TEST_F(StorageIo, SeekThenReadGivesByteAtPosition) {
    const std::string data = PatternBytes(10000);
    WriteFileBytes("seek.bin", data);
    ALFile file(L"seek.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    file.ReadChar();
    for (int32_t position : {9999, 0, 4096, 4095, 123, 8192}) {
        ASSERT_EQ(file.Seek(position), AL_NO_ERRORS);
        EXPECT_EQ(file.Tell(), position);
        EXPECT_EQ(file.ReadChar(), static_cast<unsigned char>(data[position])) << position;
        EXPECT_EQ(file.Tell(), position + 1);
    }
    ASSERT_EQ(file.Seek(20000), AL_NO_ERRORS);
    EXPECT_EQ(file.ReadChar(), AL_END_OF_FILE);
    EXPECT_EQ(file.status.GetStatusCode(), AL_NO_ERRORS);
}

TEST_F(StorageIo, WritesAreBufferedAndTellCountsThem) {
    ALFile file(L"out.bin");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 0);
    for (int c : {'h', 'e', 'l', 'l', 'o'}) EXPECT_EQ(file.WriteChar(c), c);
    EXPECT_EQ(file.Tell(), 5);
    EXPECT_EQ(ReadFileBytes("out.bin"), "");
    EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(file.GetSize(), 5);
    EXPECT_EQ(ReadFileBytes("out.bin"), "hello");
}

TEST_F(StorageIo, WriteCharStoresLowByteOnly) {
    ALFile file(L"low.bin");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    EXPECT_EQ(file.WriteChar(0x1FF), 0xFF);
    EXPECT_EQ(file.WriteChar(-2), 0xFE);
    file.Close();
    EXPECT_EQ(ReadFileBytes("low.bin"), "\xFF\xFE");
}

TEST_F(StorageIo, LargeWritesByCharAndBlockRoundTrip) {
    const std::string data = PatternBytes(3 * 4096 + 17);
    ALFile file(L"round.bin");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    for (size_t i = 0; i < 5000; ++i) file.WriteChar(static_cast<unsigned char>(data[i]));
    EXPECT_EQ(file.WriteBuffer(reinterpret_cast<const uint8_t*>(data.data()) + 5000,
                               static_cast<int32_t>(data.size() - 5000)),
              static_cast<int32_t>(data.size() - 5000));
    EXPECT_EQ(file.Tell(), static_cast<int32_t>(data.size()));
    ASSERT_EQ(file.Close(), AL_NO_ERRORS);
    EXPECT_EQ(ReadFileBytes("round.bin"), data);
}

TEST_F(StorageIo, CrcOfAbcWrittenIsComplementOfStandardCrc) {
    ALFile file(L"abc.txt");
    ASSERT_EQ(file.Create(), AL_NO_ERRORS);
    file.StartCrc32(0xFFFFFFFFu);
    file.WriteChar('a');
    file.WriteChar('b');
    file.WriteChar('c');
    EXPECT_EQ(file.GetCrc32(), 0xCADBBE3Du);
    EXPECT_EQ(file.crc_enabled, 0);
    file.Close();
    EXPECT_EQ(ReadFileBytes("abc.txt"), "abc");
}

TEST_F(StorageIo, CrcOfLoadedBytesMatchesReference) {
    for (size_t length : {size_t(0), size_t(3), size_t(4096), size_t(12289)}) {
        const std::string data = length == 3 ? std::string("abc") : PatternBytes(length);
        WriteFileBytes("crc.bin", data);
        ALFile file(L"crc.bin");
        ASSERT_EQ(file.Open(), AL_NO_ERRORS);
        file.StartCrc32(0xFFFFFFFFu);
        while (file.ReadChar() >= 0) {
        }
        EXPECT_EQ(file.GetCrc32(), ~ReferenceCrc32(data)) << length;
    }
}

TEST_F(StorageIo, GetCrc32InTheMiddleOfReadingLosesNoBytes) {
    const std::string data = PatternBytes(6000);
    WriteFileBytes("mid.bin", data);
    ALFile file(L"mid.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    file.StartCrc32(0xFFFFFFFFu);
    uint8_t head[100];
    ASSERT_EQ(file.ReadBuffer(head, 100), 100);
    EXPECT_EQ(file.GetCrc32(), ~ReferenceCrc32(data.substr(0, 4096)));
    EXPECT_EQ(file.Tell(), 100);
    EXPECT_EQ(file.ReadChar(), static_cast<unsigned char>(data[100]));
}

TEST_F(StorageIo, IntegersLittleAndBigEndian) {
    ALFile out(L"ints.bin");
    ASSERT_EQ(out.Create(), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteUInt16LE(0x0102), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteUInt32LE(0x03040506u), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteUInt16BE(0x0708), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteUInt32BE(0x090A0B0Cu), AL_NO_ERRORS);
    out.Close();
    EXPECT_EQ(ReadFileBytes("ints.bin"),
              std::string("\x02\x01\x06\x05\x04\x03\x07\x08\x09\x0A\x0B\x0C", 12));

    ALFile in(L"ints.bin");
    ASSERT_EQ(in.Open(), AL_NO_ERRORS);
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    EXPECT_EQ(in.ReadUInt16LE(u16), AL_NO_ERRORS);
    EXPECT_EQ(u16, 0x0102);
    EXPECT_EQ(in.ReadUInt32LE(u32), AL_NO_ERRORS);
    EXPECT_EQ(u32, 0x03040506u);
    EXPECT_EQ(in.ReadUInt16BE(u16), AL_NO_ERRORS);
    EXPECT_EQ(u16, 0x0708);
    EXPECT_EQ(in.ReadUInt32BE(u32), AL_NO_ERRORS);
    EXPECT_EQ(u32, 0x090A0B0Cu);
}

TEST_F(StorageIo, IntegerReadAtEndOfDataFoldsEndMarkerIntoValue) {
    WriteFileBytes("short.bin", "\x34");
    ALFile file(L"short.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    uint16_t value = 0;
    EXPECT_EQ(file.ReadUInt16LE(value), AL_NO_ERRORS);
    EXPECT_EQ(value, 0xFF34);
    uint32_t wide = 0;
    EXPECT_EQ(file.ReadUInt32BE(wide), AL_NO_ERRORS);
    EXPECT_EQ(wide, 0xFFFFFFFFu);
}

TEST_F(StorageIo, ReadStringWithStoredAndExplicitLength) {
    WriteFileBytes("str.bin", std::string("\x00\x03" "ABC" "DEFG", 9));
    ALFile file(L"str.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    ALNameString target(L"before", NameCaseExact);
    EXPECT_EQ(file.ReadString(target, -1), AL_NO_ERRORS);
    EXPECT_STREQ(target.GetName(), L"ABC");
    EXPECT_EQ(file.ReadString(target, 0), AL_NO_ERRORS);
    EXPECT_STREQ(target.GetName(), L"");
    EXPECT_EQ(file.Tell(), 5);
    // Fewer bytes than asked for: only those that arrived become characters.
    EXPECT_EQ(file.ReadString(target, 10), AL_NO_ERRORS);
    EXPECT_STREQ(target.GetName(), L"DEFG");
}

TEST_F(StorageIo, ReadStringAtEndOfDataFailsAsAllocation) {
    WriteFileBytes("end.bin", "");
    ALFile file(L"end.bin");
    ASSERT_EQ(file.Open(), AL_NO_ERRORS);
    ALNameString target(L"kept", NameCaseExact);
    EXPECT_EQ(file.ReadString(target, -1), AL_MEMORY_ALLOCATION_FAILURE);
    EXPECT_STREQ(file.status.GetStatusDetail(),
                 L"Error allocating buffer space in call to ReadString() for object end.bin");
    EXPECT_STREQ(target.GetName(), L"kept");
}

TEST_F(StorageIo, ReadStringRejectsNegativeExplicitLengths) {
    for (uint16_t length : {uint16_t(0x8000), uint16_t(0xFFFE)}) {
        WriteFileBytes("neg.bin", "abc");
        ALFile file(L"neg.bin");
        ASSERT_EQ(file.Open(), AL_NO_ERRORS);
        ALNameString target(L"kept", NameCaseExact);
        EXPECT_EQ(file.ReadString(target, static_cast<int16_t>(length)), AL_MEMORY_ALLOCATION_FAILURE);
        EXPECT_STREQ(target.GetName(), L"kept");
        EXPECT_EQ(file.Tell(), 0);
    }
}

TEST_F(StorageIo, WriteStringLengthPrefixedRoundTrip) {
    ALFile out(L"ws.bin");
    ASSERT_EQ(out.Create(), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteString(L"hello"), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteString(nullptr), AL_NO_ERRORS);
    EXPECT_EQ(out.WriteString(L""), AL_NO_ERRORS);
    out.Close();
    EXPECT_EQ(ReadFileBytes("ws.bin"), std::string("\x00\x05hello\x00\x00\x00\x00", 11));
    ALFile in(L"ws.bin");
    ASSERT_EQ(in.Open(), AL_NO_ERRORS);
    ALNameString target(L"", NameCaseExact);
    EXPECT_EQ(in.ReadString(target, -1), AL_NO_ERRORS);
    EXPECT_STREQ(target.GetName(), L"hello");
}

TEST_F(StorageIo, PrivateDataIsAnEmptyLengthPrefix) {
    ALFile out(L"private.bin");
    ASSERT_EQ(out.Create(), AL_NO_ERRORS);
    ALFile other(L"unused");
    EXPECT_EQ(other.SavePrivateData(out), AL_NO_ERRORS);
    out.WriteChar('Z');
    out.Close();
    EXPECT_EQ(ReadFileBytes("private.bin"), std::string("\x00\x00Z", 3));
    ALFile in(L"private.bin");
    ASSERT_EQ(in.Open(), AL_NO_ERRORS);
    EXPECT_EQ(other.LoadPrivateData(in), AL_NO_ERRORS);
    EXPECT_EQ(in.ReadChar(), 'Z');
}
