// Branding a whole image: the application icon groups and the version
// information replaced, every other resource kept.
#include <gtest/gtest.h>

#include <set>

#include "tests/pe_branding/test_image.h"
#include "tools/sea_build/image_writer/branding.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"

namespace {

std::vector<uint8_t> Group(const std::vector<uint16_t>& ids) {
    std::vector<IconImage> images(ids.size());
    for (IconImage& image : images) image.data.assign(40, 1);
    return IconGroupData(images, ids);
}

Resource Make(uint16_t type, ResourceKey name, uint16_t language, std::vector<uint8_t> data) {
    Resource r;
    r.type.id = type;
    r.name = name;
    r.language = language;
    r.data = std::move(data);
    return r;
}

// The stub's arrangement in small: the class-name group and group 108
// with images 1-2 and 3-4, warning 110 sharing image 4, dialogs and
// strings in three languages, two manifests, version information.
std::vector<Resource> StubResources() {
    std::vector<Resource> r;
    for (uint16_t id = 1; id <= 5; ++id) r.push_back(Make(3, {id, {}}, 0, std::vector<uint8_t>(50 + id, static_cast<uint8_t>(id))));
    r.push_back(Make(14, {0, u"QUILLORA SELF EXTRACTOR"}, 0, Group({1, 2})));
    r.push_back(Make(14, {108, {}}, 0, Group({3, 4})));
    r.push_back(Make(14, {110, {}}, 0, Group({4, 5})));
    for (uint16_t language : {uint16_t{7}, uint16_t{9}, uint16_t{0x0401}}) {
        r.push_back(Make(5, {0, u"PROGRESSINDICATOR"}, language, std::vector<uint8_t>(30, static_cast<uint8_t>(language))));
        r.push_back(Make(6, {1, {}}, language, std::vector<uint8_t>(31, static_cast<uint8_t>(language + 1))));
    }
    r.push_back(Make(24, {1, {}}, 0, {'<', 'h', '/', '>'}));
    r.push_back(Make(24, {1, {}}, 1033, {'<', 'a', '/', '>'}));
    VersionBlock version = NewVersionInfo();
    std::vector<uint8_t> data;
    std::wstring error;
    WriteVersionInfo(version, data, error);
    r.push_back(Make(16, {1, {}}, 0, data));
    return r;
}

std::vector<uint8_t> StubImage(const std::vector<Resource>& resources) {
    TestImage t;
    t.sections.push_back({".text", std::vector<uint8_t>(0x900, 0xC3), kTestCode});
    t.sections.push_back({".rsrc", {}, kTestData});
    t.sections[1] = ResourceSection(resources, TestSectionRva(t.sections, 1));
    t.sections.push_back({".reloc", std::vector<uint8_t>(0x40, 0x11), kTestDiscardable});
    t.resource_section = 1;
    t.relocation_section = 2;
    return t.Build();
}

std::vector<Resource> ResourcesOf(const std::vector<uint8_t>& image) {
    PeLayout layout;
    std::wstring error;
    EXPECT_TRUE(ReadPeLayout(image, layout, error));
    const PeSection& s = layout.sections[1];
    std::vector<uint8_t> raw(image.begin() + s.raw_offset, image.begin() + s.raw_offset + s.raw_size);
    std::vector<Resource> resources;
    EXPECT_TRUE(ReadResourceDirectory(raw, s.virtual_address, resources, error));
    return resources;
}

const Resource* Find(const std::vector<Resource>& all, uint16_t type, ResourceKey name, uint16_t language = 0) {
    for (const Resource& r : all) {
        if (r.type.id == type && !r.type.IsNamed() && r.name == name && r.language == language) return &r;
    }
    return nullptr;
}

std::vector<uint16_t> Members(const Resource& group) {
    std::vector<uint16_t> ids;
    uint16_t count = 0;
    ByteReader(group.data).U16(4, count);
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t id = 0;
        ByteReader(group.data).U16(6 + 14u * i + 12, id);
        ids.push_back(id);
    }
    return ids;
}

Branding VendorBranding(size_t images) {
    Branding b;
    for (size_t i = 0; i < images; ++i) {
        IconImage image;
        image.width = static_cast<uint8_t>(16 * (i + 1));
        image.planes = 1;
        image.bit_count = 32;
        image.data.assign(100 + i, static_cast<uint8_t>(0xA0 + i));
        b.icon.push_back(image);
    }
    b.version.resize(2);
    std::wstring error;
    ParseVersionSetting(L"FileDescription=Acme Setup", b.version[0], error);
    ParseVersionSetting(L"FileVersion=3.1", b.version[1], error);
    return b;
}

TEST(BrandImage, ReplacesTheApplicationIconAndKeepsEverythingElse) {
    const std::vector<Resource> before = StubResources();
    std::vector<uint8_t> image = StubImage(before);
    std::wstring error;
    const Branding branding = VendorBranding(6);
    ASSERT_TRUE(BrandImage(image, branding, error)) << std::string(error.begin(), error.end());
    const std::vector<Resource> after = ResourcesOf(image);

    // Both application groups name the six new images, whose bytes are
    // the icon's; image 4 stays for group 110, 1-3 are gone.
    const Resource* named = Find(after, 14, {0, u"QUILLORA SELF EXTRACTOR"});
    const Resource* numbered = Find(after, 14, {108, {}});
    ASSERT_TRUE(named && numbered);
    EXPECT_EQ(named->data, numbered->data);
    const std::vector<uint16_t> ids = Members(*numbered);
    ASSERT_EQ(ids.size(), 6u);
    std::set<uint16_t> icon_ids;
    for (const Resource& r : after) {
        if (r.type.id == 3) icon_ids.insert(r.name.id);
    }
    EXPECT_EQ(icon_ids, (std::set<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Members(*Find(after, 14, {110, {}})), (std::vector<uint16_t>{4, 5}));
    EXPECT_EQ(Find(after, 3, {4, {}})->data, before[3].data);
    EXPECT_EQ(Find(after, 3, {5, {}})->data, before[4].data);
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(Find(after, 3, {ids[i], {}}));
        EXPECT_EQ(Find(after, 3, {ids[i], {}})->data, branding.icon[i].data) << i;
        EXPECT_NE(ids[i], 4);
        EXPECT_NE(ids[i], 5);
    }
    // Dialogs, strings and manifests: the same bytes in every language.
    for (const Resource& old : before) {
        if (old.type.id == 3 || old.type.id == 14 || old.type.id == 16) continue;
        const Resource* now = Find(after, old.type.id, old.name, old.language);
        ASSERT_TRUE(now) << old.type.id << " " << old.language;
        EXPECT_EQ(now->data, old.data);
    }
    // The version information carries the description and the version.
    VersionBlock root;
    ASSERT_TRUE(ReadVersionInfo(Find(after, 16, {1, {}})->data, root, error));
    const VersionBlock& table = root.children[0].children[0];
    ASSERT_EQ(table.children.size(), 2u);
    EXPECT_EQ(table.children[0].key, u"FileDescription");
    uint32_t file_ms = 0;
    ByteReader(root.value).U32(8, file_ms);
    EXPECT_EQ(file_ms, 0x00030001u);
    // Still an image whose checksum is right.
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(image, layout, error));
    uint32_t stored = 0;
    ByteReader(image).U32(layout.ChecksumOffset(), stored);
    PeChecksum checksum(layout.ChecksumOffset());
    checksum.Add(image.data(), image.size());
    EXPECT_EQ(stored, checksum.Finish());
}

TEST(BrandImage, SameInputSameBytes) {
    std::vector<uint8_t> a = StubImage(StubResources()), b = a;
    std::wstring error;
    ASSERT_TRUE(BrandImage(a, VendorBranding(3), error));
    ASSERT_TRUE(BrandImage(b, VendorBranding(3), error));
    EXPECT_EQ(a, b);
    // Branding the branded image again changes nothing.
    std::vector<uint8_t> c = a;
    ASSERT_TRUE(BrandImage(c, VendorBranding(3), error));
    EXPECT_EQ(c, a);
}

TEST(BrandImage, AddsVersionInformationToAStubWithout) {
    std::vector<Resource> resources = StubResources();
    resources.pop_back();
    std::vector<uint8_t> image = StubImage(resources);
    Branding branding = VendorBranding(0);
    std::wstring error;
    ASSERT_TRUE(BrandImage(image, branding, error));
    const std::vector<Resource> after = ResourcesOf(image);
    const Resource* version = Find(after, 16, {1, {}});
    ASSERT_TRUE(version);
    VersionBlock root;
    ASSERT_TRUE(ReadVersionInfo(version->data, root, error));
    EXPECT_EQ(root.children[0].children[0].children.size(), 2u);
}

TEST(BrandImage, RefusesAStubWithoutApplicationIcon) {
    std::vector<Resource> resources = StubResources();
    for (Resource& r : resources) {
        if (r.type.id == 14 && r.name.id == 108) r.name.id = 109;
    }
    std::vector<uint8_t> image = StubImage(resources);
    const std::vector<uint8_t> original = image;
    std::wstring error;
    EXPECT_FALSE(BrandImage(image, VendorBranding(1), error));
    EXPECT_NE(error.find(L"icon group 108"), std::wstring::npos);
    EXPECT_EQ(image, original);
    std::vector<uint8_t> not_pe(400, 'x');
    EXPECT_FALSE(BrandImage(not_pe, VendorBranding(1), error));
    EXPECT_NE(error.find(L"not a Windows executable"), std::wstring::npos);
}

}  // namespace
