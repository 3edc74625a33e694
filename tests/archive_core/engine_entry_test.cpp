// Engine base classes and the entry ring.
#include <gtest/gtest.h>

#include <string>

#include "archive/engine.h"
#include "archive/entry.h"
#include "test_support.h"

namespace {

// The smallest concrete engine: serves type 0 only.
class NullDecompressor : public ALDecompressor {
public:
    NullDecompressor() : ALDecompressor(AL_ENGINE_COPY, "Binary copy") {}
    ALDecompressor* Clone(int32_t type) const override {
        return type == AL_ENGINE_DEFAULT || type == AL_ENGINE_COPY ? new NullDecompressor : nullptr;
    }
    int32_t Decompress(ALStorage&, ALStorage&, int32_t) override { return AL_NO_ERRORS; }
};

// Flips every byte with a fixed mask in both directions.
class XorCrypto : public ALCryptoEngine {
public:
    XorCrypto() : ALCryptoEngine(AL_ENGINE_DEFAULT, "xor") {}
    void EncryptBytes(uint8_t* bytes, int32_t count) override { Flip(bytes, count); }
    void DecryptBytes(uint8_t* bytes, int32_t count) override { Flip(bytes, count); }
    ALCryptoEngine* Clone(int32_t) const override { return new XorCrypto; }

private:
    static void Flip(uint8_t* bytes, int32_t count) {
        for (int32_t i = 0; i < count; ++i) bytes[i] ^= 0x5A;
    }
};

std::string Flipped(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(c ^ 0x5A);
    return bytes;
}

// A storage that reports its destruction.
class TrackedStorage : public MemoryStorage {
public:
    explicit TrackedStorage(int* destroyed, const wchar_t* name = L"tracked")
        : MemoryStorage(std::string(), 16, name), destroyed_(destroyed) {}
    ~TrackedStorage() override { ++*destroyed_; }

private:
    int* destroyed_;
};

}  // namespace

TEST(Engine, PrivateDataIsTwoZeroBytes) {
    NullDecompressor engine;
    MemoryStorage archive;
    ASSERT_EQ(archive.Create(), AL_NO_ERRORS);
    EXPECT_EQ(engine.SavePrivateData(archive), AL_NO_ERRORS);
    archive.Close();
    EXPECT_EQ(archive.data, std::string("\x00\x00", 2));

    MemoryStorage input(std::string("\x00\x00\x7F", 3));
    ASSERT_EQ(input.Open(), AL_NO_ERRORS);
    EXPECT_EQ(engine.LoadPrivateData(input), AL_NO_ERRORS);
    EXPECT_EQ(input.Tell(), 2);
    EXPECT_EQ(input.ReadChar(), 0x7F);
}

TEST(Engine, LoadPrivateDataReportsStorageFailure) {
    NullDecompressor engine;
    MemoryStorage input(std::string("\x00\x00", 2));
    input.fail_load_at = 1;
    ASSERT_EQ(input.Open(), AL_NO_ERRORS);
    EXPECT_EQ(engine.LoadPrivateData(input), AL_READ_ERROR);
    EXPECT_EQ(engine.status.GetStatusCode(), AL_NO_ERRORS);
}

TEST(Entry, RingKeepsInsertionOrderAndUnlinksOnDestruction) {
    int destroyed = 0;
    ALEntry sentinel(nullptr);
    EXPECT_EQ(sentinel.next, &sentinel);
    EXPECT_EQ(sentinel.previous, &sentinel);
    ALEntry* first = new ALEntry(nullptr, sentinel, new TrackedStorage(&destroyed, L"one"),
                                 nullptr, new NullDecompressor, nullptr);
    ALEntry* second = new ALEntry(nullptr, sentinel, new TrackedStorage(&destroyed, L"two"),
                                  nullptr, nullptr, nullptr);
    ALEntry* third = new ALEntry(nullptr, sentinel, new TrackedStorage(&destroyed, L"three"),
                                 nullptr, nullptr, nullptr);
    EXPECT_EQ(sentinel.next, first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(second->next, third);
    EXPECT_EQ(third->next, &sentinel);
    EXPECT_EQ(sentinel.previous, third);
    EXPECT_TRUE(first->IsMarked());
    EXPECT_FALSE(first->IsEncrypted());
    EXPECT_EQ(first->compressed_size, -1);
    EXPECT_EQ(first->local_header_offset, -1);
    EXPECT_EQ(first->path_flags, 0);

    delete second;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(first->next, third);
    EXPECT_EQ(third->previous, first);
    delete first;
    delete third;
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(sentinel.next, &sentinel);
    EXPECT_EQ(sentinel.previous, &sentinel);
}

TEST(Entry, CommentIsCopiedAndReplaced) {
    ALEntry sentinel(nullptr);
    ALEntry* entry = new ALEntry(nullptr, sentinel, new MemoryStorage, nullptr, nullptr, nullptr);
    ALStatusBlock list_status;
    EXPECT_STREQ(entry->GetComment(), L"");
    std::wstring text = L"first comment";
    EXPECT_EQ(entry->SetComment(text.c_str(), list_status), AL_NO_ERRORS);
    text[0] = L'X';
    EXPECT_STREQ(entry->GetComment(), L"first comment");
    EXPECT_EQ(entry->SetComment(nullptr, list_status), AL_NO_ERRORS);
    EXPECT_EQ(entry->comment, nullptr);
    EXPECT_EQ(list_status.GetStatusCode(), AL_NO_ERRORS);
    delete entry;
}

TEST(Entry, CryptoEngineMakesEntryEncryptedAndIsOwned) {
    ALEntry sentinel(nullptr);
    ALEntry* entry = new ALEntry(nullptr, sentinel, new MemoryStorage, nullptr, nullptr, new XorCrypto);
    EXPECT_TRUE(entry->IsEncrypted());
    EXPECT_TRUE(entry->IsMarked());
    entry->SetEncrypted(false);
    EXPECT_FALSE(entry->IsEncrypted());
    delete entry;  // sanitizers catch a leak or a double delete
}

TEST(CryptoHook, LoadsAreDecodedBeforeTheCrc) {
    const std::string plain = PatternBytes(40);
    MemoryStorage storage(Flipped(plain));
    XorCrypto crypto;
    storage.crypto_engine = &crypto;
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    storage.StartCrc32(0xFFFFFFFFu);
    std::string got;
    for (int c; (c = storage.ReadChar()) >= 0;) got.push_back(static_cast<char>(c));
    EXPECT_EQ(got, plain);
    EXPECT_EQ(storage.GetCrc32(), ~ReferenceCrc32(plain));
}

TEST(CryptoHook, FlushesAreEncodedBeforeTheCrc) {
    const std::string plain = PatternBytes(40);
    MemoryStorage storage;
    XorCrypto crypto;
    storage.crypto_engine = &crypto;
    ASSERT_EQ(storage.Create(), AL_NO_ERRORS);
    storage.StartCrc32(0xFFFFFFFFu);
    storage.WriteBuffer(reinterpret_cast<const uint8_t*>(plain.data()), 40);
    EXPECT_EQ(storage.GetCrc32(), ~ReferenceCrc32(Flipped(plain)));
    storage.Close();
    EXPECT_EQ(storage.data, Flipped(plain));
}
