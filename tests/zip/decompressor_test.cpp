// The decompressors on in-memory storages with small buffers, their Clone
// tables, and the prototype set that clones them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/decompressors.h"
#include "archive/file.h"
#include "archive/prototype_set.h"
#include "archive_core/test_support.h"
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
