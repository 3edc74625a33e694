// The image checksum and the rewrite of the resource section.
#include <gtest/gtest.h>

#include <random>

#include "tests/pe_branding/test_image.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"

namespace {

// CheckSumMappedFile as documented: 16-bit words with the carry folded
// in after every addition, the checksum field skipped, plus the length.
uint32_t ReferenceChecksum(const std::vector<uint8_t>& bytes, size_t field) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= field && i < field + 4) continue;
        uint32_t word = bytes[i];
        if (i + 1 < bytes.size()) word |= uint32_t{bytes[i + 1]} << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return (sum & 0xFFFF) + static_cast<uint32_t>(bytes.size());
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(PeChecksum, MatchesTheReferenceInPiecesOfAnySize) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{0x99}, size_t{70001}, size_t{200000}}) {
        const std::vector<uint8_t> bytes = RandomBytes(size, static_cast<unsigned>(size));
        const size_t field = 0xD8;
        const uint32_t expected = ReferenceChecksum(bytes, field);
        PeChecksum whole(field);
        whole.Add(bytes.data(), bytes.size());
        EXPECT_EQ(whole.Finish(), expected) << size;
        // Odd piece sizes put pieces at odd offsets and split the field.
        for (size_t piece : {size_t{1}, size_t{3}, size_t{0xD9}, size_t{4097}}) {
            PeChecksum pieces(field);
            for (size_t at = 0; at < bytes.size(); at += piece) {
                pieces.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
            }
            EXPECT_EQ(pieces.Finish(), expected) << size << " in pieces of " << piece;
        }
    }
}

TEST(PeChecksum, IgnoresWhatTheFieldHolds) {
    std::vector<uint8_t> bytes = RandomBytes(4096, 7);
    PeChecksum first(64);
    first.Add(bytes.data(), bytes.size());
    Put32(bytes, 64, 0x12345678);
    PeChecksum second(64);
    second.Add(bytes.data(), bytes.size());
    EXPECT_EQ(first.Finish(), second.Finish());
}

struct Rewritten {
    PeLayout before, after;
    std::vector<uint8_t> original, image;
};

TestImage ThreeSections(size_t resource_size) {
    TestImage t;
    t.sections.push_back({".text", RandomBytes(0x1234, 1), kTestCode});
    t.sections.push_back({".rsrc", RandomBytes(resource_size, 2), kTestData});
    t.sections.push_back({".reloc", RandomBytes(0x321, 3), kTestDiscardable});
    t.resource_section = 1;
    t.relocation_section = 2;
    t.symbols = RandomBytes(18 + 4, 4);
    return t;
}

class ResourceSectionRewrite : public ::testing::Test {
protected:
    bool Rewrite(const TestImage& t, const std::vector<uint8_t>& content, std::wstring& error) {
        r.original = r.image = t.Build();
        EXPECT_TRUE(ReadPeLayout(r.image, r.before, error)) << error;
        if (!ReplaceResourceSection(r.image, r.before, 1, content, error)) return false;
        EXPECT_TRUE(ReadPeLayout(r.image, r.after, error)) << error;
        return true;
    }
    Rewritten r;
};

TEST_F(ResourceSectionRewrite, GrowingMovesWhatFollowsInFileAndMemory) {
    std::wstring error;
    const std::vector<uint8_t> content = RandomBytes(0x3001, 9);
    ASSERT_TRUE(Rewrite(ThreeSections(0x800), content, error)) << error;
    const PeSection& rsrc = r.after.sections[1];
    const PeSection& reloc = r.after.sections[2];
    EXPECT_EQ(rsrc.virtual_size, 0x3001u);
    EXPECT_EQ(rsrc.raw_size, 0x3200u);
    EXPECT_EQ(rsrc.virtual_address, r.before.sections[1].virtual_address);
    EXPECT_EQ(reloc.virtual_address, r.before.sections[2].virtual_address + 0x3000);
    EXPECT_EQ(reloc.raw_offset, r.before.sections[2].raw_offset + 0x3200 - 0x800);
    EXPECT_EQ(reloc.raw_offset % 0x200, 0u);
    // Contents in place, padding zero, the relocations moved as a whole.
    EXPECT_TRUE(std::equal(content.begin(), content.end(), r.image.begin() + rsrc.raw_offset));
    EXPECT_TRUE(std::all_of(r.image.begin() + rsrc.raw_offset + content.size(),
                            r.image.begin() + reloc.raw_offset, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(r.original.begin() + r.before.sections[2].raw_offset,
                           r.original.begin() + r.before.sections[2].raw_offset + 0x400,
                           r.image.begin() + reloc.raw_offset));
    EXPECT_EQ(r.after.directories[2].size, 0x3001u);
    EXPECT_EQ(r.after.directories[5].rva, reloc.virtual_address);
    EXPECT_EQ(U32(r.image, r.after.optional_header + 56), reloc.virtual_address + 0x1000);  // SizeOfImage
    // The symbol table moved with the rest and still ends the file.
    EXPECT_EQ(r.after.symbol_table, r.image.size() - 22);
    EXPECT_TRUE(std::equal(r.original.end() - 22, r.original.end(), r.image.end() - 22));
    EXPECT_EQ(U32(r.image, r.after.ChecksumOffset()), ReferenceChecksum(r.image, r.after.ChecksumOffset()));
}

TEST_F(ResourceSectionRewrite, ShrinkingMovesBack) {
    std::wstring error;
    ASSERT_TRUE(Rewrite(ThreeSections(0x2800), RandomBytes(0x10, 5), error)) << error;
    EXPECT_EQ(r.after.sections[2].virtual_address, r.before.sections[2].virtual_address - 0x2000);
    EXPECT_EQ(r.after.sections[2].raw_offset, r.before.sections[2].raw_offset - 0x2600);
    EXPECT_EQ(r.image.size(), r.original.size() - 0x2600);
}

TEST_F(ResourceSectionRewrite, RefusesImagesItCannotMove) {
    std::wstring error;
    TestImage kept = ThreeSections(0x100);
    kept.sections[2].characteristics = kTestData;  // a section code may address
    EXPECT_FALSE(Rewrite(kept, RandomBytes(0x2000, 6), error));
    EXPECT_NE(error.find(L"section .reloc follows the resources and cannot be moved"), std::wstring::npos)
        << error;
    EXPECT_EQ(r.image, r.original);

    TestImage elsewhere = ThreeSections(0x100);
    elsewhere.resource_section = 0;  // the directory does not start .rsrc
    EXPECT_FALSE(Rewrite(elsewhere, RandomBytes(0x10, 6), error));
    EXPECT_NE(error.find(L"does not start its section"), std::wstring::npos) << error;
}

TEST(PeLayout, RefusesDamagedHeaders) {
    std::wstring error;
    PeLayout layout;
    std::vector<uint8_t> image = ThreeSections(0x100).Build();
    ASSERT_TRUE(ReadPeLayout(image, layout, error)) << std::string(error.begin(), error.end());
    const PeLayout good = layout;
    std::vector<uint8_t> bad = image;
    bad[0x80] = 'X';
    EXPECT_FALSE(ReadPeLayout(bad, layout, error));
    bad = image;
    Put32(bad, good.optional_header + 36, 0x300);  // file alignment
    EXPECT_FALSE(ReadPeLayout(bad, layout, error));
    EXPECT_NE(error.find(L"power of two"), std::wstring::npos);
    bad = image;
    Put32(bad, good.SectionHeaderOffset(2) + 16, 0x100000);  // raw size past the end
    EXPECT_FALSE(ReadPeLayout(bad, layout, error));
    EXPECT_NE(error.find(L"runs past the end"), std::wstring::npos);
    bad.assign(image.begin(), image.begin() + 0x100);
    EXPECT_FALSE(ReadPeLayout(bad, layout, error));
}

}  // namespace
