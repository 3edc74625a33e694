// ALCopyCompressor and ALPkCompressor: names and options per level, the
// Clone table, the exact bytes of an empty stream, failures of zlib and of
// the storages, and round trips through zlib's own inflate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/compressors.h"
#include "archive/file.h"
#include "archive_core/test_support.h"

namespace {

// Raw inflate (no zlib header) of a whole deflate stream; empty on error.
std::string RawInflate(const std::string& packed, bool* ok) {
    z_stream stream{};
    *ok = inflateInit2(&stream, -15) == Z_OK;
    std::string out;
    if (!*ok) return out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        char chunk[4096];
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
    }
    *ok = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return out;
}

std::string TextBytes(size_t n) {
    std::string text;
    for (size_t i = 0; text.size() < n; ++i) {
        text += "line " + std::to_string(i % 977) + " of a compressible text file\n";
    }
    text.resize(n);
    return text;
}

class CompressFiles : public ScratchDirTest {};

}  // namespace

TEST(PkCompressorSettings, NameOptionAndLevelFollowTheLevelArgument) {
    struct Case {
        int32_t level;
        int32_t option;
        const char* name;
        int32_t kept;
    };
    const Case cases[] = {
        {0, 0, "Stored", 0},           {1, 2, "Deflate Fast", 1},
        {2, 0, "Deflate Normal", 2},   {6, 0, "Deflate Normal", 6},
        {8, 0, "Deflate Normal", 8},   {9, 1, "Deflate Maximum", 9},
        {10, 0, "???", -1},            {12, 0, "???", -1},
        {-1, 0, "???", -1},            {-2, 0, "???", -1},
        {-7, 0, "???", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        ALPkCompressor engine(c.level, 13, 7);
        EXPECT_EQ(engine.engine_type, AL_ENGINE_ZIP_DEFLATE);
        EXPECT_STREQ(engine.name, c.name);
        EXPECT_EQ(engine.deflate_option, c.option);
        EXPECT_EQ(engine.level, c.kept);
        EXPECT_EQ(engine.window_bits, 13);
        EXPECT_EQ(engine.memory_level, 7);
    }
}

TEST(PkCompressorSettings, DefaultArgumentsAreTheWriterDefaults) {
    ALPkCompressor engine;
    EXPECT_EQ(engine.level, 6);
    EXPECT_EQ(engine.window_bits, 15);
    EXPECT_EQ(engine.memory_level, 8);
    EXPECT_STREQ(engine.name, "Deflate Normal");
    ALCopyCompressor copy;
    EXPECT_EQ(copy.engine_type, AL_ENGINE_COPY);
    EXPECT_STREQ(copy.name, "Binary copy");
}

TEST(CompressorClone, PkCompressorServesCopyAndTheFourDeflateOptions) {
    const ALPkCompressor prototype(9, 14, 6);
    struct Case {
        int32_t type;
        bool copy;      // an ALCopyCompressor
        int32_t option; // for an ALPkCompressor; -1: none at all
    };
    const Case cases[] = {
        {-1, false, 0}, {108, false, 0}, {109, false, 1}, {110, false, 2}, {111, false, 3},
        {0, true, 0},   {100, true, 0},  {5, false, -1},  {101, false, -1}, {107, false, -1},
        {112, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::unique_ptr<ALCompressor> clone(prototype.Clone(c.type));
        if (c.option < 0) {
            EXPECT_EQ(clone, nullptr);
            continue;
        }
        ASSERT_NE(clone, nullptr);
        if (c.copy) {
            EXPECT_NE(dynamic_cast<ALCopyCompressor*>(clone.get()), nullptr);
            EXPECT_EQ(clone->engine_type, AL_ENGINE_COPY);
            continue;
        }
        auto* pk = dynamic_cast<ALPkCompressor*>(clone.get());
        ASSERT_NE(pk, nullptr);
        EXPECT_EQ(pk->level, 9);
        EXPECT_EQ(pk->window_bits, 14);
        EXPECT_EQ(pk->memory_level, 6);
        EXPECT_EQ(pk->deflate_option, c.option);
    }
    EXPECT_EQ(prototype.status.GetStatusCode(), AL_NO_ERRORS);
}

TEST(CompressorClone, CopyCompressorServesOnlyDefaultAndCopy) {
    const ALCopyCompressor prototype;
    for (int32_t type : {-1, 0}) {
        std::unique_ptr<ALCompressor> clone(prototype.Clone(type));
        ASSERT_NE(clone, nullptr) << type;
        EXPECT_STREQ(clone->name, "Binary copy");
    }
    for (int32_t type : {5, 100, 108}) {
        std::unique_ptr<ALCompressor> clone(prototype.Clone(type));
        EXPECT_EQ(clone, nullptr) << type;
    }
}

TEST(CompressEmptyInput, DeflateWritesAnEmptyFinalBlockAndCopyWritesNothing) {
    {
        MemoryStorage input, output;
        ALPkCompressor engine(6, 15, 8);
        EXPECT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
        EXPECT_EQ(output.data, std::string("\x03\x00", 2));
        EXPECT_EQ(input.GetCrc32(), 0xFFFFFFFFu);
    }
    {
        MemoryStorage input, output;
        ALCopyCompressor engine;
        EXPECT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
        EXPECT_EQ(output.data, "");
        EXPECT_EQ(input.GetCrc32(), 0xFFFFFFFFu);
    }
}

TEST(CompressRoundTrip, EveryLevelInflatesBackAndTheInputCrcIsComplemented) {
    const std::vector<std::string> inputs = {TextBytes(1), TextBytes(16), TextBytes(5000),
                                             PatternBytes(3 * 4096), PatternBytes(70000)};
    for (int32_t level : {0, 1, 6, 9, 12}) {
        for (const std::string& data : inputs) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << data.size() << " bytes");
            MemoryStorage input(data), output;
            ALPkCompressor engine(level, 15, 8);
            ASSERT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
            bool ok = false;
            EXPECT_EQ(RawInflate(output.data, &ok), data);
            EXPECT_TRUE(ok);
            EXPECT_EQ(input.GetCrc32(), ~ReferenceCrc32(data));
            // Both storages were opened by the engine and are closed again.
            EXPECT_EQ(input.buffer, nullptr);
            EXPECT_EQ(output.buffer, nullptr);
            if (level == 0) {
                // Level 0: stored deflate blocks, so the data shows through.
                EXPECT_NE(output.data.find(data.substr(0, 16)), std::string::npos);
            }
        }
    }
}

TEST(CompressRoundTrip, DeflateReadsEachInputBufferOnceAndShrinksText) {
    const std::string data = TextBytes(16 * 100);
    MemoryStorage input(data), output;
    ALPkCompressor engine(6, 15, 8);
    ASSERT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
    // 100 full loads and the one that reports the end of the data.
    EXPECT_EQ(input.loads, 101);
    EXPECT_LT(output.data.size(), data.size() / 4);
}

TEST(CompressRoundTrip, OpenStoragesStayOpenAndPendingHeaderBytesComeFirst) {
    const std::string data = TextBytes(777);
    for (bool deflate : {true, false}) {
        SCOPED_TRACE(deflate);
        MemoryStorage input(data), output;
        ASSERT_EQ(input.Open(), AL_NO_ERRORS);
        ASSERT_EQ(output.Create(), AL_NO_ERRORS);
        const uint8_t header[] = {'H', 'D', 'R'};
        ASSERT_EQ(output.WriteBuffer(header, 3), 3);
        std::unique_ptr<ALCompressor> engine;
        if (deflate) engine.reset(new ALPkCompressor(6, 15, 8));
        else engine.reset(new ALCopyCompressor());
        ASSERT_EQ(engine->Compress(input, output), AL_NO_ERRORS);
        EXPECT_NE(input.buffer, nullptr);
        ASSERT_NE(output.buffer, nullptr);
        ASSERT_EQ(output.Close(), AL_NO_ERRORS);
        ASSERT_EQ(output.data.substr(0, 3), "HDR");
        bool ok = true;
        const std::string body = output.data.substr(3);
        EXPECT_EQ(deflate ? RawInflate(body, &ok) : body, data);
        EXPECT_TRUE(ok);
        EXPECT_EQ(input.GetCrc32(), ~ReferenceCrc32(data));
    }
}

TEST(CompressFailures, WindowBitsThatZlibRefusesGiveCantCreateEngine) {
    MemoryStorage input(TextBytes(100)), output;
    ALPkCompressor engine(6, 16, 8);
    EXPECT_EQ(engine.Compress(input, output), AL_CANT_CREATE_COMPRESSION_ENGINE);
    EXPECT_EQ(engine.status.GetStatusCode(), AL_CANT_CREATE_COMPRESSION_ENGINE);
    EXPECT_STREQ(engine.status.GetStatusDetail(),
                 L"Error creating deflate engine. ZLIB returned -2\n");
    EXPECT_EQ(output.data, "");
    EXPECT_EQ(input.buffer, nullptr);
    EXPECT_EQ(output.buffer, nullptr);
}

TEST(CompressFailures, FailedFlushGivesWriteErrorWithTheOutputsDetail) {
    // Deflate fails in the middle of the stream; the copy fails on the last
    // flush, which happens when the engine closes the output it created.
    struct Case {
        bool deflate;
        size_t size;
        int fail_at;
    };
    const Case cases[] = {{true, 20000, 2}, {false, 20000, 3}, {false, 10, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.deflate << " " << c.size << " " << c.fail_at);
        MemoryStorage input(PatternBytes(c.size)), output;
        output.fail_flush_at = c.fail_at;
        std::unique_ptr<ALCompressor> engine;
        if (c.deflate) engine.reset(new ALPkCompressor(6, 15, 8));
        else engine.reset(new ALCopyCompressor());
        EXPECT_EQ(engine->Compress(input, output), AL_WRITE_ERROR);
        EXPECT_STREQ(engine->status.GetStatusDetail(), output.status.GetStatusDetail());
        EXPECT_EQ(input.buffer, nullptr);
        EXPECT_EQ(output.buffer, nullptr);
    }
}

TEST(CompressFailures, InputFailureTakesPrecedenceAndFailedStoragesMoveNothing) {
    MemoryStorage input(PatternBytes(500)), output;
    input.fail_load_at = 3;
    ALPkCompressor engine(6, 15, 8);
    EXPECT_EQ(engine.Compress(input, output), AL_READ_ERROR);
    EXPECT_STREQ(engine.status.GetStatusDetail(), L"Read failure on memory.  errno = 5");

    MemoryStorage failed_output;
    failed_output.status.SetError(AL_CANT_OPEN_FILE, L"gone");
    MemoryStorage fresh_input(PatternBytes(50));
    ALCopyCompressor copy;
    EXPECT_EQ(copy.Compress(fresh_input, failed_output), AL_CANT_OPEN_FILE);
    EXPECT_STREQ(copy.status.GetStatusDetail(), L"gone");
    EXPECT_EQ(fresh_input.loads, 0);
    EXPECT_EQ(failed_output.data, "");
}

TEST_F(CompressFiles, FileToFileRoundTrip) {
    for (size_t size : {size_t(0), size_t(4096), size_t(3 * 4096), size_t(4097), size_t(100000)}) {
        SCOPED_TRACE(size);
        const std::string data = TextBytes(size);
        WriteFileBytes(dir() / "in.bin", data);
        ALFile input(L"in.bin");
        ALFile output(L"out.bin");
        ALPkCompressor engine(9, 15, 8);
        ASSERT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
        EXPECT_EQ(input.GetCrc32(), ~ReferenceCrc32(data));
        bool ok = false;
        EXPECT_EQ(RawInflate(ReadFileBytes(dir() / "out.bin"), &ok), data);
        EXPECT_TRUE(ok);
    }
}

TEST_F(CompressFiles, FullDiskGivesWriteError) {
    std::error_code error;
    if (!fs::exists("/dev/full", error)) GTEST_SKIP() << "no /dev/full on this system";
    WriteFileBytes(dir() / "in.bin", PatternBytes(50000));
    ALFile input(L"in.bin");
    ALFile output(L"/dev/full");
    ALPkCompressor engine(6, 15, 8);
    EXPECT_EQ(engine.Compress(input, output), AL_WRITE_ERROR);
    const std::wstring detail = engine.status.GetStatusDetail();
    EXPECT_EQ(detail.rfind(L"Write failure on /dev/full.  result = -1, errno = ", 0), 0u) << detail;
    EXPECT_FALSE(output.IsOpen());
}
