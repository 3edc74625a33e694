// The resource directory: written sorted for the loader, read back to the
// same resources, and damaged directories refused.
#include <gtest/gtest.h>

#include "tests/pe_branding/test_image.h"
#include "pe/le_bytes.h"
#include "tools/sea_build/image_writer/resource_tree.h"

namespace {

constexpr uint32_t kRva = 0x8A000;

Resource Make(ResourceKey type, ResourceKey name, uint16_t language, std::vector<uint8_t> data) {
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.data = std::move(data);
    return r;
}

std::vector<Resource> Sample() {
    // Given out of order: the writer sorts.
    return {Make({24, {}}, {1, {}}, 1033, {'b'}),
            Make({5, {}}, {0, u"PROGRESSINDICATOR"}, 7, {1, 2, 3}),
            Make({24, {}}, {1, {}}, 0, {'a', 'a'}),
            Make({14, {}}, {108, {}}, 0, std::vector<uint8_t>(20, 9)),
            Make({14, {}}, {0, u"QUILLORA SELF EXTRACTOR"}, 0, {4}),
            Make({14, {}}, {0, u"A"}, 0, {5}),
            Make({5, {}}, {0, u"PROGRESSINDICATOR"}, 5, {}),
            Make({0, u"CUSTOM"}, {3, {}}, 0, {6, 6, 6})};
}

TEST(ResourceTree, RoundTripsInDirectoryOrder) {
    const std::vector<uint8_t> section = WriteResourceDirectory(Sample(), kRva);
    std::vector<Resource> read;
    std::wstring error;
    ASSERT_TRUE(ReadResourceDirectory(section, kRva, read, error)) << error;
    ASSERT_EQ(read.size(), 8u);
    // Named types first, then numbers ascending; within a type likewise;
    // languages ascending.
    const std::vector<std::pair<ResourceKey, ResourceKey>> order = {
        {{0, u"CUSTOM"}, {3, {}}},
        {{5, {}}, {0, u"PROGRESSINDICATOR"}},
        {{5, {}}, {0, u"PROGRESSINDICATOR"}},
        {{14, {}}, {0, u"A"}},
        {{14, {}}, {0, u"QUILLORA SELF EXTRACTOR"}},
        {{14, {}}, {108, {}}},
        {{24, {}}, {1, {}}},
        {{24, {}}, {1, {}}}};
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_TRUE(read[i].type == order[i].first) << i;
        EXPECT_TRUE(read[i].name == order[i].second) << i;
    }
    EXPECT_EQ(read[1].language, 5);
    EXPECT_EQ(read[2].language, 7);
    EXPECT_EQ(read[2].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(read[6].data, (std::vector<uint8_t>{'a', 'a'}));
    EXPECT_EQ(read[7].language, 1033);
    // The root: one named and three numbered types, no time stamp.
    EXPECT_EQ(U32(section, 4), 0u);
    EXPECT_EQ(U16(section, 12), 1);
    EXPECT_EQ(U16(section, 14), 3);
    EXPECT_EQ(section.size() % 8, 0u);
}

// Offsets of the data entries, found by walking the three levels.
void DataEntries(const std::vector<uint8_t>& b, uint32_t table, int level, std::vector<uint32_t>& out) {
    const size_t count = size_t{U16(b, table + 12)} + U16(b, table + 14);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t target = U32(b, table + 16 + 8 * i + 4);
        if (level < 2) DataEntries(b, target & 0x7FFFFFFF, level + 1, out);
        else out.push_back(target);
    }
}

TEST(ResourceTree, DataIsAlignedAndTheSameInputGivesTheSameBytes) {
    const std::vector<uint8_t> a = WriteResourceDirectory(Sample(), kRva);
    EXPECT_EQ(a, WriteResourceDirectory(Sample(), kRva));
    std::vector<uint32_t> entries;
    DataEntries(a, 0, 0, entries);
    ASSERT_EQ(entries.size(), 8u);
    for (uint32_t entry : entries) {
        const uint32_t rva = U32(a, entry), size = U32(a, entry + 4);
        EXPECT_EQ(rva % 8, 0u);
        EXPECT_GE(rva, kRva + entries.back() + 16);  // behind the tables and entries
        EXPECT_LE(rva + size, kRva + a.size());
        EXPECT_EQ(U32(a, entry + 12), 0u);
    }
}

TEST(ResourceTree, RefusesDamagedDirectories) {
    const std::vector<uint8_t> good = WriteResourceDirectory(Sample(), kRva);
    std::vector<uint32_t> entries;
    DataEntries(good, 0, 0, entries);
    std::vector<uint8_t> loop = good;
    Put32(loop, 16 + 8 + 4, 0x80000000u);  // the second type's table is the root again
    std::vector<uint8_t> outside = good;
    Put32(outside, entries[3], kRva - 0x1000);
    std::vector<uint8_t> too_long = good;
    Put32(too_long, entries[3] + 4, static_cast<uint32_t>(good.size()));
    std::vector<uint8_t> name = good;
    Put32(name, 16, 0x80000000u | static_cast<uint32_t>(good.size() - 1));
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const wchar_t* reason;
    } cases[] = {
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + 20), L"runs past"},
        {"loop", loop, L"three levels"},
        {"data before the section", outside, L"outside the resource section"},
        {"data past the section", too_long, L"outside the resource section"},
        {"name past the section", name, L"name lies outside"},
    };
    for (const auto& c : cases) {
        std::vector<Resource> read;
        std::wstring error;
        EXPECT_FALSE(ReadResourceDirectory(c.bytes, kRva, read, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::wstring::npos)
            << c.what << ": " << std::string(error.begin(), error.end());
    }
}

}  // namespace
