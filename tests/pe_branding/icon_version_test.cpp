// Icon files and version information: decoding, encoding and the checks
// on what a vendor passes.
#include <gtest/gtest.h>

#include "tools/sea_build/image_writer/icon_file.h"
#include "pe/le_bytes.h"
#include "tools/sea_build/image_writer/version_info.h"

namespace {

std::vector<uint8_t> Bitmap(uint8_t size) {
    std::vector<uint8_t> b;
    Append32(b, 40);
    Append32(b, size);
    Append32(b, 2u * size);
    Append16(b, 1);
    Append16(b, 32);
    b.resize(40 + 4u * size * size + 4u * size, 0x5A);
    return b;
}

std::vector<uint8_t> Png() {
    std::vector<uint8_t> p = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0};
    p.resize(100, 1);
    return p;
}

// An .ico of images; directory entries with planes and bits zero when
// bare is set (as many PNG icons have them).
std::vector<uint8_t> IconFile(const std::vector<std::vector<uint8_t>>& images, bool bare = false) {
    std::vector<uint8_t> f;
    Append16(f, 0);
    Append16(f, 1);
    Append16(f, static_cast<uint16_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const auto& image : images) {
        f.push_back(image.size() == 100 ? 0 : static_cast<uint8_t>(image[4]));
        f.push_back(image.size() == 100 ? 0 : static_cast<uint8_t>(image[4]));
        f.push_back(0);
        f.push_back(0);
        Append16(f, bare ? 0 : 1);
        Append16(f, bare ? 0 : 32);
        Append32(f, static_cast<uint32_t>(image.size()));
        Append32(f, offset);
        offset += static_cast<uint32_t>(image.size());
    }
    for (const auto& image : images) f.insert(f.end(), image.begin(), image.end());
    return f;
}

TEST(IconFile, EveryImageKeepsItsBytes) {
    const std::vector<std::vector<uint8_t>> given = {Bitmap(16), Bitmap(48), Png()};
    std::vector<IconImage> images;
    std::wstring error;
    ASSERT_TRUE(ReadIconFile(IconFile(given, true), images, error)) << error;
    ASSERT_EQ(images.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(images[i].data, given[i]) << i;
    EXPECT_EQ(images[0].width, 16);
    EXPECT_EQ(images[2].width, 0);  // 256
    // Planes and bits from the bitmap header and from the PNG header.
    EXPECT_EQ(images[0].planes, 1);
    EXPECT_EQ(images[0].bit_count, 32);
    EXPECT_EQ(images[2].bit_count, 32);
    const std::vector<uint8_t> group = IconGroupData(images, {4, 9, 2});
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    uint16_t id = 0;
    uint32_t size = 0;
    ByteReader(group).U16(6 + 2 * 14 + 12, id);
    ByteReader(group).U32(6 + 2 * 14 + 8, size);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(size, 100u);
}

TEST(IconFile, RefusesWhatIsNoUsableIcon) {
    std::vector<uint8_t> cursor = IconFile({Bitmap(16)});
    cursor[2] = 2;
    std::vector<uint8_t> outside = IconFile({Bitmap(16)});
    Put32(outside, 6 + 12, 0x10000);
    std::vector<uint8_t> garbage = IconFile({std::vector<uint8_t>(64, 'x')});
    const std::vector<uint8_t> whole = IconFile({Bitmap(16)});
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + 12);
    std::vector<uint8_t> overlapping = IconFile({Bitmap(16)});
    Put32(overlapping, 6 + 12, 0);  // "image" on top of the directory
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const wchar_t* reason;
    } cases[] = {
        {"text", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '!', '\n'}, L"not an icon file"},
        {"short", std::vector<uint8_t>{0, 0, 1}, L"not an icon file"},
        {"empty", IconFile({}), L"holds no image"},
        {"cursor", cursor, L"cursor"},
        {"directory cut", cut, L"runs past the end"},
        {"image outside", outside, L"image 1 of 1 lies outside the file"},
        {"image on the directory", overlapping, L"lies outside the file"},
        {"not an image", garbage, L"neither a bitmap nor a PNG"},
    };
    for (const auto& c : cases) {
        std::vector<IconImage> images;
        std::wstring error;
        EXPECT_FALSE(ReadIconFile(c.bytes, images, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::wstring::npos)
            << c.what << ": " << std::string(error.begin(), error.end());
    }
}

TEST(VersionSetting, AcceptsKnownKeysAndVersions) {
    const struct {
        const wchar_t* text;
        const char16_t* key;
        uint16_t version[4];
    } good[] = {
        {L"FileVersion=1.2.3.4", u"FileVersion", {1, 2, 3, 4}},
        {L"productversion=65535.0.7", u"ProductVersion", {65535, 0, 7, 0}},
        {L"ProductVersion=3", u"ProductVersion", {3, 0, 0, 0}},
        {L"CompanyName=A=B \u00c4\u65e5", u"CompanyName", {0, 0, 0, 0}},
        {L"Comments=x", u"Comments", {0, 0, 0, 0}},
    };
    for (const auto& g : good) {
        VersionSetting s;
        std::wstring error;
        ASSERT_TRUE(ParseVersionSetting(g.text, s, error)) << std::string(error.begin(), error.end());
        EXPECT_EQ(s.key, g.key);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(s.version[i], g.version[i]);
    }
    VersionSetting s;
    std::wstring error;
    ASSERT_TRUE(ParseVersionSetting(L"CompanyName=A=B \u00c4\u65e5", s, error));
    EXPECT_EQ(s.value, u"A=B \u00c4\u65e5");
    EXPECT_FALSE(s.is_version);
    ASSERT_TRUE(ParseVersionSetting(L"Comments=" + std::wstring(kMaxVersionValue, L'x'), s, error));
}

TEST(VersionSetting, RefusesWithTheReason) {
    const struct {
        std::wstring text;
        const wchar_t* reason;
    } bad[] = {
        {L"Vendor=Acme", L"unknown key Vendor"},
        {L"ProductName", L"not KEY=VALUE"},
        {L"ProductName=", L"empty"},
        {L"FileVersion=1.2.3.4.5", L"not a version"},
        {L"FileVersion=1..2", L"not a version"},
        {L"FileVersion=1.2-beta", L"not a version"},
        {L"ProductVersion=65536", L"not a version"},
        {L"ProductVersion=000001", L"not a version"},
        {L"FileVersion=.1", L"not a version"},
        {L"Comments=" + std::wstring(kMaxVersionValue + 1, L'x'), L"too long (1025 UTF-16 units"},
    };
    for (const auto& b : bad) {
        VersionSetting s;
        std::wstring error;
        EXPECT_FALSE(ParseVersionSetting(b.text, s, error)) << std::string(b.text.begin(), b.text.end());
        EXPECT_NE(error.find(b.reason), std::wstring::npos) << std::string(error.begin(), error.end());
        EXPECT_LT(error.size(), 300u);
    }
}

std::u16string Text(const std::vector<uint8_t>& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

TEST(VersionInfo, SettingsReplaceAndAddAndSurviveARoundTrip) {
    VersionBlock root = NewVersionInfo();
    std::vector<VersionSetting> settings(3);
    std::wstring error;
    ASSERT_TRUE(ParseVersionSetting(L"ProductName=Old", settings[0], error));
    ASSERT_TRUE(ApplyVersionSettings(root, {settings[0]}, error));
    ASSERT_TRUE(ParseVersionSetting(L"ProductName=\u00c4cme \U0001F600", settings[0], error));
    ASSERT_TRUE(ParseVersionSetting(L"FileVersion=2.5.1", settings[1], error));
    ASSERT_TRUE(ParseVersionSetting(L"ProductVersion=7.6.5.4", settings[2], error));
    ASSERT_TRUE(ApplyVersionSettings(root, settings, error));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(WriteVersionInfo(root, bytes, error));
    VersionBlock read;
    ASSERT_TRUE(ReadVersionInfo(bytes, read, error)) << std::string(error.begin(), error.end());
    std::vector<uint8_t> again;
    ASSERT_TRUE(WriteVersionInfo(read, again, error));
    EXPECT_EQ(again, bytes);
    // Lengths: the root's covers everything; the key is at 6, the fixed
    // part after it on a 32-bit boundary.
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), static_cast<int>(bytes.size()));
    uint32_t signature = 0, file_ms = 0, file_ls = 0, product_ms = 0, product_ls = 0;
    ByteReader(bytes).U32(40, signature);
    ByteReader(bytes).U32(48, file_ms);
    ByteReader(bytes).U32(52, file_ls);
    ByteReader(bytes).U32(56, product_ms);
    ByteReader(bytes).U32(60, product_ls);
    EXPECT_EQ(signature, 0xFEEF04BDu);
    EXPECT_EQ(file_ms, 0x00020005u);
    EXPECT_EQ(file_ls, 0x00010000u);
    EXPECT_EQ(product_ms, 0x00070006u);
    EXPECT_EQ(product_ls, 0x00050004u);
    const VersionBlock& table = read.children[0].children[0];
    EXPECT_EQ(table.key, u"040904B0");
    ASSERT_EQ(table.children.size(), 3u);  // replaced, not added twice
    EXPECT_EQ(table.children[0].key, u"ProductName");
    EXPECT_EQ(Text(table.children[0].value), u"\u00c4cme \U0001F600");
    EXPECT_EQ(Text(table.children[1].value), u"2.5.1");
}

TEST(VersionInfo, RefusesDamagedBlocks) {
    std::vector<uint8_t> bytes;
    std::wstring error;
    ASSERT_TRUE(WriteVersionInfo(NewVersionInfo(), bytes, error));
    VersionBlock read;
    std::vector<uint8_t> bad = bytes;
    Put16(bad, 0, static_cast<uint16_t>(bytes.size() + 8));
    EXPECT_FALSE(ReadVersionInfo(bad, read, error));
    bad = bytes;
    Put16(bad, 92, 0xFFF0);  // the string file info's length
    EXPECT_FALSE(ReadVersionInfo(bad, read, error));
    VersionBlock no_fixed = NewVersionInfo();
    no_fixed.value.clear();
    VersionSetting s;
    ASSERT_TRUE(ParseVersionSetting(L"Comments=x", s, error));
    EXPECT_FALSE(ApplyVersionSettings(no_fixed, {s}, error));
    EXPECT_NE(error.find(L"no fixed part"), std::wstring::npos);
}

}  // namespace
