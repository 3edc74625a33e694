// ALLzmaCompressor and ALZstdCompressor: the settings of each level, the
// Clone table, the member data (LZMA header and properties; a Zstandard
// frame with content size and checksum) decoded by the reference decoders,
// windows no larger than the input needs, bytes independent of how the
// input arrives, and failures of the storages.
#include <gtest/gtest.h>

extern "C" {
#include <LzmaDec.h>
}
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/lzma_compressor.h"
#include "archive/codecs/zstd_compressor.h"
#include "archive/compressors.h"
#include "archive_core/test_support.h"
#include "sea/extract_lanes.h"

namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Release(void*, void* address) { free(address); }
ISzAlloc g_allocator = {Allocate, Release};

std::string Text(size_t n) {
    std::string text;
    for (size_t i = 0; text.size() < n; ++i) text += "entry " + std::to_string(i % 613) + " of a text\n";
    return text.substr(0, n);
}

uint32_t Dictionary(const std::string& member) {
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<uint8_t>(member[5 + i]);
    return size;
}

// The LZMA member's stream decoded with the SDK, which must end at the marker.
std::string LzmaDecoded(const std::string& member, size_t size) {
    std::string out(size, '\0');
    SizeT out_size = size, in_size = member.size() - 9;
    ELzmaStatus status;
    const SRes result = LzmaDecode(reinterpret_cast<Byte*>(&out[0]), &out_size,
                                   reinterpret_cast<const Byte*>(member.data()) + 9, &in_size,
                                   reinterpret_cast<const Byte*>(member.data()) + 4, LZMA_PROPS_SIZE,
                                   LZMA_FINISH_END, &status, &g_allocator);
    EXPECT_EQ(result, SZ_OK);
    EXPECT_EQ(status, LZMA_STATUS_FINISHED_WITH_MARK);
    EXPECT_EQ(in_size, member.size() - 9);
    return out.substr(0, out_size);
}

std::unique_ptr<ALCompressor> Engine(bool lzma, int32_t level) {
    if (lzma) return std::make_unique<ALLzmaCompressor>(level);
    return std::make_unique<ALZstdCompressor>(level);
}

}  // namespace

TEST(CodecCompressorSettings, LevelsMapToTheDocumentedSettings) {
    const uint32_t KiB = 1024, MiB = 1024 * KiB;
    // level, dictionary, normal mode, fast bytes, zstd level, zstd window log
    struct Row { int32_t level; uint32_t dictionary; bool normal; int32_t fast; int32_t zstd, window; };
    const Row rows[] = {{1, 256 * KiB, false, 32, 1, 19}, {2, 1 * MiB, false, 32, 3, 21},
                        {3, 4 * MiB, false, 32, 5, 21},   {4, 4 * MiB, true, 32, 9, 22},
                        {5, 6 * MiB, true, 32, 12, 22},   {6, 8 * MiB, true, 32, 17, 23},
                        {7, 16 * MiB, true, 64, 19, 23},  {8, 32 * MiB, true, 64, 20, 25},
                        {9, 32 * MiB, true, 273, 22, 25}, {0, 8 * MiB, true, 32, 17, 23},
                        {12, 8 * MiB, true, 32, 17, 23}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.level);
        const ALLzmaSettings s = ALLzmaCompressor::SettingsForLevel(r.level);
        EXPECT_EQ(s.dictionary_size, r.dictionary);
        EXPECT_EQ(s.normal_mode, r.normal);
        EXPECT_EQ(s.binary_tree, r.normal);
        EXPECT_EQ(s.fast_bytes, r.fast);
        EXPECT_EQ(ALZstdCompressor::LevelFor(r.level), r.zstd);
        EXPECT_EQ(ALZstdCompressor::WindowLogFor(r.level), r.window);
    }
    // At the default level the stub decodes two entries at once.
    const uint64_t state = 512 * KiB;
    EXPECT_LE(2 * (ALLzmaCompressor::SettingsForLevel(6).dictionary_size + state), kLanesMemory);
    EXPECT_LE(2 * ((uint64_t{1} << ALZstdCompressor::WindowLogFor(6)) + state), kLanesMemory);
}

TEST(CodecCompressorClone, EachServesItsOwnTypeAndCopies) {
    ALLzmaCompressor lzma(9);
    ALZstdCompressor zstd(2);
    for (ALCompressor* engine : {static_cast<ALCompressor*>(&lzma), static_cast<ALCompressor*>(&zstd)}) {
        const int32_t own = engine->engine_type;
        for (int32_t type : {-1, own, 0, 100, 108, 114 + 193 - own, 5}) {
            SCOPED_TRACE(testing::Message() << own << " " << type);
            std::unique_ptr<ALCompressor> clone(engine->Clone(type));
            const int32_t expected = type == -1 || type == own ? own : type == 0 || type == 100 ? 0 : -2;
            ASSERT_EQ(clone != nullptr, expected != -2);
            if (clone) {
                EXPECT_EQ(clone->engine_type, expected);
            }
        }
    }
    std::unique_ptr<ALCompressor> lzma_clone(lzma.Clone(114));
    EXPECT_EQ(static_cast<ALLzmaCompressor&>(*lzma_clone).settings.fast_bytes, 273);
    std::unique_ptr<ALCompressor> zstd_clone(zstd.Clone(193));
    EXPECT_EQ(static_cast<ALZstdCompressor&>(*zstd_clone).zstd_level, 3);
}

TEST(CodecCompressorRoundTrip, LzmaMembersDecodeWithTheSdkAndTheDictionaryFitsTheInput) {
    // size, dictionary in the properties at level 6
    const std::pair<size_t, uint32_t> cases[] = {{0, 65536}, {1, 65536}, {5000, 65536},
                                                 {70000, 98304}, {300000, 393216}};
    for (const auto& c : cases) {
        for (int32_t level : {1, 6, 9}) {
            SCOPED_TRACE(testing::Message() << c.first << " bytes, level " << level);
            const std::string data = c.first == 70000 ? PatternBytes(c.first) : Text(c.first);
            MemoryStorage input(data, 4096), output;
            ALLzmaCompressor engine(level);
            ASSERT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
            const std::string& member = output.data;
            ASSERT_GE(member.size(), 9u);
            EXPECT_EQ(member.substr(0, 4), std::string("\x09\x16\x05\x00", 4));
            EXPECT_EQ(static_cast<uint8_t>(member[4]), 3 + 2 * 45);  // lc 3, lp 0, pb 2
            if (level == 6) {
                EXPECT_EQ(Dictionary(member), c.second);
            }
            EXPECT_EQ(LzmaDecoded(member, data.size()), data);
            EXPECT_EQ(input.GetCrc32(), ~ReferenceCrc32(data));
            EXPECT_EQ(output.buffer, nullptr);
        }
    }
}

TEST(CodecCompressorRoundTrip, ZstdMembersAreOneFrameWithSizeAndChecksum) {
    for (size_t size : {0, 1, 5000, 70000, 300000}) {
        for (int32_t level : {1, 4, 6}) {
            SCOPED_TRACE(testing::Message() << size << " bytes, level " << level);
            const std::string data = size == 70000 ? PatternBytes(size) : Text(size);
            MemoryStorage input(data, 4096), output;
            ALZstdCompressor engine(level);
            ASSERT_EQ(engine.Compress(input, output), AL_NO_ERRORS);
            const std::string& frame = output.data;
            EXPECT_EQ(ZSTD_findFrameCompressedSize(frame.data(), frame.size()), frame.size());
            EXPECT_EQ(ZSTD_getFrameContentSize(frame.data(), frame.size()), size);
            ZSTD_frameHeader header;
            ASSERT_EQ(ZSTD_getFrameHeader(&header, frame.data(), frame.size()), 0u);
            EXPECT_TRUE(header.checksumFlag);
            EXPECT_LE(header.windowSize, std::max<size_t>(size, 1024));  // one segment when it fits
            std::string back(size, '\0');
            EXPECT_EQ(ZSTD_decompress(&back[0], size, frame.data(), frame.size()), size);
            EXPECT_EQ(back, data);
            EXPECT_EQ(input.GetCrc32(), ~ReferenceCrc32(data));
        }
    }
}

TEST(CodecCompressorRoundTrip, BytesDoNotDependOnHowTheInputArrives) {
    const std::string data = Text(200000);
    for (bool lzma : {true, false}) {
        std::string first;
        for (int32_t buffer : {16, 4096, 65536}) {
            SCOPED_TRACE(testing::Message() << lzma << " buffer " << buffer);
            MemoryStorage input(data, buffer), output(std::string(), buffer);
            ASSERT_EQ(Engine(lzma, 6)->Compress(input, output), AL_NO_ERRORS);
            if (first.empty()) first = output.data;
            EXPECT_EQ(output.data, first);
        }
    }
}

TEST(CodecCompressorFailures, StorageFailuresReachTheEngineInputFirst) {
    for (bool lzma : {true, false}) {
        SCOPED_TRACE(lzma);
        MemoryStorage input(Text(50000), 4096), output;
        output.fail_flush_at = 2;
        std::unique_ptr<ALCompressor> engine = Engine(lzma, 1);
        EXPECT_EQ(engine->Compress(input, output), AL_WRITE_ERROR);
        EXPECT_STREQ(engine->status.GetStatusDetail(), output.status.GetStatusDetail());
        EXPECT_EQ(input.buffer, nullptr);
        EXPECT_EQ(output.buffer, nullptr);

        MemoryStorage failing_input(Text(50000), 4096), healthy;
        failing_input.fail_load_at = 3;
        engine = Engine(lzma, 6);
        EXPECT_EQ(engine->Compress(failing_input, healthy), AL_READ_ERROR);
        EXPECT_STREQ(engine->status.GetStatusDetail(), L"Read failure on memory.  errno = 5");

        MemoryStorage failed;
        failed.status.SetError(AL_CANT_OPEN_FILE, L"gone");
        MemoryStorage fresh(Text(10), 4096);
        engine = Engine(lzma, 6);
        EXPECT_EQ(engine->Compress(fresh, failed), AL_CANT_OPEN_FILE);
        EXPECT_STREQ(engine->status.GetStatusDetail(), L"gone");
        EXPECT_EQ(failed.data, "");
    }
}
