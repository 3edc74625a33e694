// The decompressors on in-memory storages with small buffers, their Clone
// tables, and the prototype set that clones them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/codecs/decoder_memory.h"
#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/file.h"
#include "archive/prototype_set.h"
#include "archive_core/test_support.h"
#include "platform/text.h"
#include "zip/codec_bytes.h"
#include "zip/zip_builder.h"

namespace {

// What a Clone produced: "pk<option>", "copy" or "none".
std::string Kind(ALDecompressor* made) {
    std::unique_ptr<ALDecompressor> owned(made);
    if (!made) return "none";
    if (auto* pk = dynamic_cast<ALPkDecompressor*>(made)) return "pk" + std::to_string(pk->deflate_option);
    if (dynamic_cast<ALCopyDecompressor*>(made)) return "copy";
    return "other";
}

std::string TextAndNoise(size_t n) {
    std::string out;
    while (out.size() < n / 2) out += "lorem ipsum dolor sit amet ";
    out.resize(n / 2);
    return out + PatternBytes(n - n / 2);
}

}  // namespace

TEST(Decompressors, CloneTables) {
    const struct {
        int32_t type;
        const char* pk;
        const char* copy;
    } cases[] = {
        {-1, "pk0", "copy"}, {0, "copy", "copy"}, {100, "copy", "none"}, {108, "pk0", "none"},
        {109, "pk1", "none"}, {110, "pk2", "none"}, {111, "pk3", "none"}, {112, "none", "none"},
        {5, "none", "none"},  {107, "none", "none"},
    };
    ALPkDecompressor pk(2);
    ALCopyDecompressor copy;
    for (const auto& c : cases) {
        EXPECT_EQ(Kind(pk.Clone(c.type)), c.pk) << c.type;
        EXPECT_EQ(Kind(copy.Clone(c.type)), c.copy) << c.type;
    }
    EXPECT_EQ(pk.engine_type, 108);
    EXPECT_STREQ(pk.name, "Inflate");
    EXPECT_EQ(copy.engine_type, 0);
    EXPECT_STREQ(copy.name, "Binary copy");
}

TEST(PrototypeSet, LookupsAskPrototypesInOrderAndCopiesAreDeep) {
    ALPrototypeSet set;
    EXPECT_EQ(set.CreateDecompressor(108), nullptr);
    EXPECT_EQ(set.CreateStorage(L"x", -1), nullptr);
    ASSERT_TRUE(set.AddDecompressor(ALCopyDecompressor()));
    ASSERT_TRUE(set.AddDecompressor(ALPkDecompressor(3)));
    ASSERT_TRUE(set.AddStorage(ALFile(L"prototype name")));
    // Type 0: the copy prototype answers first. Type 100: only the inflate
    // prototype serves it, with a copy engine. The prototype itself was
    // cloned with type -1, so its option is 0.
    EXPECT_EQ(Kind(set.CreateDecompressor(0)), "copy");
    EXPECT_EQ(Kind(set.CreateDecompressor(100)), "copy");
    EXPECT_EQ(Kind(set.CreateDecompressor(-1)), "copy");
    EXPECT_EQ(Kind(set.CreateDecompressor(110)), "pk2");
    EXPECT_EQ(dynamic_cast<ALPkDecompressor*>(set.decompressors()[1])->deflate_option, 0);
    EXPECT_STREQ(set.storages()[0]->GetName(), L"");
    std::unique_ptr<ALStorage> made(set.CreateStorage(L"member.txt", -1));
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->GetName(), L"member.txt");
    EXPECT_EQ(set.CreateStorage(L"member.txt", 7), nullptr);
    EXPECT_EQ(set.CreateCompressor(0), nullptr);
    EXPECT_EQ(set.CreateCryptoEngine(-1), nullptr);

    ALPrototypeSet copy(set);
    ASSERT_NE(copy.decompressors()[0], nullptr);
    ASSERT_NE(copy.decompressors()[1], nullptr);
    EXPECT_EQ(copy.decompressors()[2], nullptr);
    EXPECT_NE(copy.decompressors()[0], set.decompressors()[0]);
    EXPECT_NE(copy.storages()[0], set.storages()[0]);
    EXPECT_EQ(Kind(copy.CreateDecompressor(111)), "pk3");
}

TEST(PkDecompressor, InflatesAcrossAnyBufferSizes) {
    const std::string data = TextAndNoise(40000);
    const std::string compressed = RawDeflate(data, 9);
    for (int32_t in_size : {1, 3, 16, 4096}) {
        for (int32_t out_size : {1, 7, 16, 4096}) {
            MemoryStorage input(compressed + "trailing bytes", in_size);
            MemoryStorage output(std::string(), out_size);
            ALPkDecompressor engine;
            EXPECT_EQ(engine.Decompress(input, output, static_cast<int32_t>(compressed.size())),
                      AL_NO_ERRORS);
            EXPECT_EQ(output.data, data) << in_size << "/" << out_size;
            EXPECT_EQ(output.crc_register, ~Crc32Of(data));
            // Both storages were opened here, so both are closed again.
            EXPECT_EQ(input.buffer, nullptr);
            EXPECT_EQ(output.buffer, nullptr);
        }
    }
}

TEST(PkDecompressor, StopsAtTheCompressedLength) {
    const std::string data = TextAndNoise(5000);
    const std::string compressed = RawDeflate(data, 6);
    MemoryStorage input(compressed, 64);
    ASSERT_EQ(input.Open(), AL_NO_ERRORS);
    MemoryStorage output;
    ALPkDecompressor engine;
    // Cut in half: the stream cannot end, and nothing past the cut is read.
    EXPECT_EQ(engine.Decompress(input, output, static_cast<int32_t>(compressed.size() / 2)),
              AL_NO_ERRORS);
    EXPECT_NE(output.crc_register, ~Crc32Of(data));
    EXPECT_LT(output.data.size(), data.size());
    EXPECT_EQ(data.compare(0, output.data.size(), output.data), 0);
    EXPECT_EQ(input.Tell(), static_cast<int32_t>(compressed.size() / 2));
}

TEST(PkDecompressor, StorageFailuresBecomeTheEngineStatus) {
    const std::string compressed = RawDeflate(TextAndNoise(5000), 6);
    {
        MemoryStorage input(compressed, 64);
        input.fail_load_at = 3;
        MemoryStorage output;
        ALPkDecompressor engine;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_READ_ERROR);
        EXPECT_STREQ(engine.status.GetStatusDetail(), L"Read failure on memory.  errno = 5");
    }
    {
        // Both failed before the call: the input's failure wins.
        MemoryStorage input(compressed, 64);
        MemoryStorage output;
        ASSERT_EQ(input.Open(), AL_NO_ERRORS);
        ASSERT_EQ(output.Create(), AL_NO_ERRORS);
        input.status.SetError(AL_SEEK_ERROR, L"input failed");
        output.status.SetError(AL_WRITE_ERROR, L"output failed");
        ALPkDecompressor engine;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_SEEK_ERROR);
        EXPECT_STREQ(engine.status.GetStatusDetail(), L"input failed");
    }
    {
        MemoryStorage input(compressed, 64);
        MemoryStorage output(std::string(), 64);
        output.fail_flush_at = 2;
        ALPkDecompressor engine;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_WRITE_ERROR);
        EXPECT_EQ(output.data.size(), 64u);
    }
    {
        // A storage failed before the call: nothing is moved.
        MemoryStorage input(compressed, 64);
        MemoryStorage output;
        ASSERT_EQ(output.Create(), AL_NO_ERRORS);
        output.status.SetError(AL_WRITE_ERROR, L"earlier");
        ALPkDecompressor engine;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_WRITE_ERROR);
        EXPECT_STREQ(engine.status.GetStatusDetail(), L"earlier");
        EXPECT_EQ(input.loads, 0);
        EXPECT_NE(output.buffer, nullptr);  // open on entry, so still open
    }
}

TEST(PkDecompressor, OutputLimitStopsTheStreamWithoutWritingTheExcess) {
    const std::string data(100000, 'z');
    const std::string compressed = RawDeflate(data, 6);
    for (int64_t limit : {int64_t{0}, int64_t{1}, int64_t{4096}, int64_t{99999}}) {
        MemoryStorage input(compressed, 4096);
        MemoryStorage output(std::string(), 4096, L"out.bin");
        ALPkDecompressor engine;
        engine.output_limit = limit;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_INVALID_ARCHIVE) << limit;
        EXPECT_LE(output.data.size(), static_cast<size_t>(limit));
        EXPECT_EQ(output.status.GetStatusCode(), AL_INVALID_ARCHIVE);
    }
    MemoryStorage input(compressed, 4096);
    MemoryStorage output(std::string(), 4096);
    ALPkDecompressor engine;
    engine.output_limit = 100000;  // exactly the size: no failure
    EXPECT_EQ(engine.Decompress(input, output, -1), AL_NO_ERRORS);
    EXPECT_EQ(output.data, data);
}

TEST(CopyDecompressor, CopiesExactlyTheGivenLength) {
    const std::string data = PatternBytes(1000);
    const struct {
        int32_t length;
        size_t expected;
    } cases[] = {{0, 0}, {1, 1}, {16, 16}, {17, 17}, {999, 999}, {1000, 1000}, {5000, 1000}, {-1, 1000}};
    for (const auto& c : cases) {
        for (int32_t buffers : {1, 16, 4096}) {
            MemoryStorage input(data, buffers);
            MemoryStorage output(std::string(), buffers == 1 ? 7 : buffers);
            ALCopyDecompressor engine;
            EXPECT_EQ(engine.Decompress(input, output, c.length), AL_NO_ERRORS);
            EXPECT_EQ(output.data, data.substr(0, c.expected)) << c.length << "/" << buffers;
            EXPECT_EQ(output.crc_register, ~Crc32Of(data.substr(0, c.expected)));
        }
    }
}

TEST(CopyDecompressor, FailuresAndTheOutputLimit) {
    const std::string data = PatternBytes(1000);
    {
        MemoryStorage input(data, 16);
        input.fail_load_at = 4;
        MemoryStorage output;
        ALCopyDecompressor engine;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_READ_ERROR);
        EXPECT_EQ(output.data, data.substr(0, 48));
    }
    {
        MemoryStorage input(data, 16);
        MemoryStorage output(std::string(), 16, L"copy.bin");
        ALCopyDecompressor engine;
        engine.output_limit = 999;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_INVALID_ARCHIVE);
        EXPECT_STREQ(output.status.GetStatusDetail(),
                     L"Decoded data of copy.bin exceed the declared size of 999 bytes");
        EXPECT_LE(output.data.size(), 999u);
    }
    {
        MemoryStorage input(data, 16);
        MemoryStorage output;
        ALCopyDecompressor engine;
        engine.output_limit = 1000;
        EXPECT_EQ(engine.Decompress(input, output, -1), AL_NO_ERRORS);
        EXPECT_EQ(output.data, data);
    }
}

// --- LZMA and Zstandard ------------------------------------------------------------

namespace {

using codec_bytes::LzmaMember;
using codec_bytes::ZstdFrame;

// What a decoder made of a member: its result, the output storage's
// detail, the bytes written and the memory it held.
struct Decoded {
    int32_t code;
    std::string detail;
    std::string data;
    uint32_t peak;
};

template <class Engine>
Decoded Decode(const std::string& member, int64_t limit, int32_t in_size = 4096,
               int32_t out_size = 4096) {
    MemoryStorage input(member + "next member", in_size);
    MemoryStorage output(std::string(), out_size, L"m.bin");
    Engine engine;
    engine.output_limit = limit;
    const int32_t code = engine.Decompress(input, output, static_cast<int32_t>(member.size()));
    EXPECT_EQ(code, engine.status.GetStatusCode());
    EXPECT_EQ(input.buffer, nullptr);
    EXPECT_EQ(output.buffer, nullptr);
    return {code, WideToUtf8(output.status.GetStatusDetail()), output.data, engine.memory_peak};
}

// LE32 at offset in a copy of bytes.
std::string Patch32(std::string bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string Flip(std::string bytes, size_t offset) {
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x55);
    return bytes;
}

}  // namespace

TEST(CodecDecompressors, CloneTables) {
    const struct {
        int32_t type;
        bool lzma, zstd;
    } cases[] = {{-1, true, true},    {0, false, false},   {100, false, false}, {108, false, false},
                 {114, true, false},  {193, false, true},  {14, false, false},  {93, false, false}};
    ALLzmaDecompressor lzma;
    ALZstdDecompressor zstd;
    for (const auto& c : cases) {
        std::unique_ptr<ALDecompressor> l(lzma.Clone(c.type)), z(zstd.Clone(c.type));
        EXPECT_EQ(dynamic_cast<ALLzmaDecompressor*>(l.get()) != nullptr, c.lzma) << c.type;
        EXPECT_EQ(l != nullptr, c.lzma) << c.type;
        EXPECT_EQ(dynamic_cast<ALZstdDecompressor*>(z.get()) != nullptr, c.zstd) << c.type;
        EXPECT_EQ(z != nullptr, c.zstd) << c.type;
    }
    EXPECT_EQ(lzma.engine_type, 114);
    EXPECT_STREQ(lzma.name, "LZMA");
    EXPECT_EQ(zstd.engine_type, 193);
    EXPECT_STREQ(zstd.name, "Zstandard");
}

TEST(CodecDecompressors, GoodStreamsDecodeWhole) {
    const std::string text = TextAndNoise(70000);
    const std::string zeros(3 * 4096, '\0');
    const struct {
        const char* label;
        bool lzma;
        std::string member, data;
    } cases[] = {
        {"lzma with end marker", true, LzmaMember(text, true), text},
        {"lzma without end marker", true, LzmaMember(text, false), text},
        {"lzma, a multiple of 4096", true, LzmaMember(zeros, false), zeros},
        {"lzma, empty, marker", true, LzmaMember("", true), ""},
        {"lzma, empty, no marker", true, LzmaMember("", false), ""},
        {"lzma, lc 8 lp 4", true, LzmaMember(text, true, 1 << 16, 5, 8, 4), text},
        {"zstd with checksum", false, ZstdFrame(text), text},
        {"zstd, no checksum, no size", false, ZstdFrame(text, 19, false, false), text},
        {"zstd, two frames", false, ZstdFrame(text) + ZstdFrame(zeros, 1, true, false), text + zeros},
        {"zstd, skippable frame first", false,
         std::string("\x50\x2A\x4D\x18\x03\x00\x00\x00xyz", 11) + ZstdFrame(zeros), zeros},
        {"zstd, empty", false, ZstdFrame(""), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_FALSE(c.member.empty());
        for (int32_t size : {1, 7, 4096}) {
            const Decoded d = c.lzma ? Decode<ALLzmaDecompressor>(c.member, c.data.size(), size, size)
                                     : Decode<ALZstdDecompressor>(c.member, c.data.size(), size, size);
            EXPECT_EQ(d.code, AL_NO_ERRORS) << d.detail;
            EXPECT_TRUE(d.data == c.data) << size;
        }
        // Without a declared size too.
        const Decoded d = c.lzma ? Decode<ALLzmaDecompressor>(c.member, -1)
                                 : Decode<ALZstdDecompressor>(c.member, -1);
        EXPECT_TRUE(d.data == c.data);
    }
}

TEST(CodecDecompressors, BadStreamsFailTheMemberWithinItsSize) {
    const std::string text = TextAndNoise(50000);
    const std::string lzma = LzmaMember(text, true);
    const std::string bare = LzmaMember(text, false);
    const std::string zstd = ZstdFrame(text);
    const std::string sized = ZstdFrame(text, 3, true, true);
    std::string wrong_sum = zstd;
    wrong_sum[wrong_sum.size() - 1] ^= 1;
    const std::string damaged = "LZMA data of m.bin are damaged";
    const struct {
        const char* label;
        bool lzma;
        std::string member;
        int64_t limit;
        std::string detail;  // beginning of the output's detail
    } cases[] = {
        {"lzma header cut", true, lzma.substr(0, 6), 50000, "LZMA data of m.bin end within the header"},
        {"lzma properties size 4", true, Flip(lzma, 2), 50000,
         "LZMA data of m.bin have a properties size other than 5"},
        {"lzma lc/lp/pb 225", true, std::string(lzma).replace(4, 1, "\xE1"), 50000,
         "LZMA data of m.bin have invalid lc/lp/pb"},
        {"lzma stream cut", true, lzma.substr(0, lzma.size() / 2), 50000, "LZMA data of m.bin are cut short"},
        {"lzma without marker cut", true, bare.substr(0, bare.size() - 3), 50000,
         "LZMA data of m.bin are cut short"},
        {"lzma range coder byte not 0", true, Flip(lzma, 9), 50000, damaged},
        {"lzma, more than declared", true, lzma, 49999,
         "Decoded data of m.bin exceed the declared size of 49999 bytes"},
        {"lzma, less than declared (marker)", true, lzma, 50001,
         "Decoded data of m.bin end after 50000 of the declared 50001 bytes"},
        {"lzma, less than declared (no marker)", true, bare, 50001,
         "Decoded data of m.bin end after 50000 of the declared 50001 bytes"},
        {"zstd no frame", false, "", 50000, "Zstandard data of m.bin hold no frame"},
        {"zstd bad magic", false, Flip(zstd, 0), 50000, "Zstandard data of m.bin have no valid frame header"},
        {"zstd header cut", false, zstd.substr(0, 5), 50000, "Zstandard data of m.bin end within a frame header"},
        {"zstd cut", false, zstd.substr(0, zstd.size() / 2), 50000, "Zstandard data of m.bin are cut short"},
        {"zstd wrong checksum", false, wrong_sum, 50000, "Zstandard data of m.bin fail their content checksum"},
        {"zstd damaged block", false, Flip(zstd, zstd.size() / 2), 50000, "Zstandard data of m.bin "},
        {"zstd junk after the frame", false, zstd + "junk bytes", 50000, "Zstandard data of m.bin have no valid"},
        {"zstd content larger than declared", false, sized, 49999,
         "Decoded data of m.bin exceed the declared size of 49999 bytes"},
        // The window cut to the declared size cannot hold the first block.
        {"zstd, no size, more than declared", false, ZstdFrame(text, 3, true, false), 100,
         "Zstandard data of m.bin are damaged"},
        {"zstd, less than declared", false, zstd, 50001,
         "Decoded data of m.bin end after 50000 of the declared 50001 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Decoded d = c.lzma ? Decode<ALLzmaDecompressor>(c.member, c.limit)
                                 : Decode<ALZstdDecompressor>(c.member, c.limit);
        EXPECT_EQ(d.code, AL_INVALID_ARCHIVE) << d.detail;
        EXPECT_EQ(d.detail.rfind(c.detail, 0), 0u) << d.detail;
        EXPECT_LE(d.data.size(), static_cast<size_t>(c.limit));
    }
}

// A header's dictionary or window is a claim: a small member costs what
// its size needs, and a member needing more than the cap is refused
// before anything is allocated.
TEST(CodecDecompressors, MemoryFollowsTheMemberNotTheClaim) {
    const std::string data = TextAndNoise(5000);
    // Dictionary 4 GiB - 1; window 1 GiB (descriptor A0, no content size).
    const std::string lzma = Patch32(LzmaMember(data, true), 5, 0xFFFFFFFFu);
    std::string zstd = ZstdFrame(data, 3, true, false);
    ASSERT_EQ(zstd[4] & 0x20, 0);
    zstd[5] = '\xA0';
    const Decoded l = Decode<ALLzmaDecompressor>(lzma, data.size());
    EXPECT_EQ(l.code, AL_NO_ERRORS) << l.detail;
    EXPECT_TRUE(l.data == data);
    EXPECT_LT(l.peak, 64u * 1024);
    const Decoded z = Decode<ALZstdDecompressor>(zstd, data.size());
    EXPECT_EQ(z.code, AL_NO_ERRORS) << z.detail;
    EXPECT_TRUE(z.data == data);
    EXPECT_LT(z.peak, 512u * 1024);

    // The same claims on members that declare 1 GiB, and with no size at all.
    for (int64_t limit : {int64_t{1} << 30, int64_t{-1}}) {
        const Decoded big_l = Decode<ALLzmaDecompressor>(lzma, limit);
        EXPECT_EQ(big_l.code, AL_INVALID_ARCHIVE);
        EXPECT_EQ(big_l.detail.rfind("LZMA data of m.bin need ", 0), 0u) << big_l.detail;
        EXPECT_NE(big_l.detail.find("more than the 65536 KB allowed"), std::string::npos) << big_l.detail;
        EXPECT_EQ(big_l.peak, 0u);
        EXPECT_EQ(big_l.data, "");
        const Decoded big_z = Decode<ALZstdDecompressor>(zstd, limit);
        EXPECT_EQ(big_z.code, AL_INVALID_ARCHIVE);
        EXPECT_EQ(big_z.detail.rfind("Zstandard data of m.bin need ", 0), 0u) << big_z.detail;
        EXPECT_EQ(big_z.peak, 0u);
    }
    // Just under the cap: a 60 MiB dictionary on a 1 GiB member is taken.
    const std::string fits = Patch32(LzmaMember(data, true), 5, 60u << 20);
    const Decoded f = Decode<ALLzmaDecompressor>(fits, -1);
    EXPECT_EQ(f.code, AL_NO_ERRORS) << f.detail;
    EXPECT_GT(f.peak, 60u << 20);
    EXPECT_LE(f.peak, kDecoderMemoryCap);
}

TEST(CodecDecompressors, StorageFailuresBecomeTheEngineStatus) {
    const std::string text = TextAndNoise(20000);
    for (const std::string& member : {LzmaMember(text, true), ZstdFrame(text)}) {
        const auto engine = [&member]() -> std::unique_ptr<ALDecompressor> {
            if (member[0] == '\x09') return std::make_unique<ALLzmaDecompressor>();
            return std::make_unique<ALZstdDecompressor>();
        };
        MemoryStorage input(member, 64);
        input.fail_load_at = 3;
        MemoryStorage output;
        const auto reading = engine();
        EXPECT_EQ(reading->Decompress(input, output, -1), AL_READ_ERROR);
        EXPECT_STREQ(reading->status.GetStatusDetail(), L"Read failure on memory.  errno = 5");
        MemoryStorage input2(member, 64);
        MemoryStorage output2(std::string(), 64);
        output2.fail_flush_at = 2;
        const auto writing = engine();
        EXPECT_EQ(writing->Decompress(input2, output2, -1), AL_WRITE_ERROR);
        EXPECT_EQ(output2.data.size(), 64u);
    }
}
