// ALNameString, ALTimeDate and ALFileAttributes.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "archive/file_attributes.h"
#include "archive/name_string.h"
#include "archive/time_date.h"
#include "test_support.h"

TEST(NameString, CaseModesApplyToEveryStoredText) {
    const struct {
        ALNameCase mode;
        const wchar_t* stored;
    } kCases[] = {{NameCaseUpper, L"DIR/FILE.TXT"},
                  {NameCaseLower, L"dir/file.txt"},
                  {NameCaseExact, L"Dir/File.txt"},
                  {NameCaseIgnore, L"Dir/File.txt"}};
    for (const auto& c : kCases) {
        ALNameString name(L"Dir/File.txt", c.mode);
        EXPECT_STREQ(name.GetName(), c.stored) << c.mode;
        name.Assign(L"Dir/File.txt");
        EXPECT_STREQ(name.GetName(), c.stored) << c.mode;
        EXPECT_STREQ(name.GetPreviousName(), c.stored) << c.mode;
    }
}

TEST(NameString, AssignKeepsReplacedNameAsPrevious) {
    ALNameString name(L"first", NameCaseUpper);
    EXPECT_STREQ(name.GetPreviousName(), L"");
    name.Assign(L"second");
    EXPECT_STREQ(name.GetName(), L"SECOND");
    EXPECT_STREQ(name.GetPreviousName(), L"FIRST");
    name.Assign(nullptr);
    EXPECT_STREQ(name.GetName(), L"");
    EXPECT_STREQ(name.GetPreviousName(), L"SECOND");
}

TEST(NameString, AssignOfCurrentTextDoesNothing) {
    ALNameString name(L"a", NameCaseExact);
    name.Assign(L"b");
    name.Assign(name.GetName());
    EXPECT_STREQ(name.GetName(), L"b");
    EXPECT_STREQ(name.GetPreviousName(), L"a");
}

TEST(NameString, AssignOfPreviousTextSwapsNames) {
    ALNameString name(L"old", NameCaseExact);
    name.Assign(L"new");
    name.Assign(name.GetPreviousName());
    EXPECT_STREQ(name.GetName(), L"old");
    EXPECT_STREQ(name.GetPreviousName(), L"new");
}

TEST(NameString, CopyTakesTextAndModeNotPrevious) {
    ALNameString name(L"a", NameCaseLower);
    name.Assign(L"B");
    ALNameString copy(name);
    EXPECT_STREQ(copy.GetName(), L"b");
    EXPECT_STREQ(copy.GetPreviousName(), L"");
    copy.Assign(L"C");
    EXPECT_STREQ(copy.GetName(), L"c");
}

TEST(NameString, ComparisonFollowsCaseMode) {
    EXPECT_EQ(ALNameString(L"x.txt", NameCaseIgnore).Compare(L"X.TXT"), 0);
    EXPECT_NE(ALNameString(L"x.txt", NameCaseExact).Compare(L"X.TXT"), 0);
    EXPECT_EQ(ALNameString(L"x.txt", NameCaseExact).Compare(L"x.txt"), 0);
    EXPECT_NE(ALNameString(L"x.txt", NameCaseIgnore).Compare(L"x.tx"), 0);
}

TEST(NameString, ChangeExtensionUsesLastDotAnywhere) {
    const struct {
        const wchar_t* name;
        const wchar_t* changed;
    } kCases[] = {{L"data.txt", L"data.bak"},
                  {L"dir.x/data", L"dir.bak"},
                  {L"noext", L"noext.bak"},
                  {L"a.b.c", L"a.b.bak"},
                  {L"", L".bak"}};
    for (const auto& c : kCases) {
        ALNameString name(c.name, NameCaseIgnore);
        name.ChangeExtension(L".bak");
        EXPECT_STREQ(name.GetName(), c.changed) << c.name;
        EXPECT_STREQ(name.GetPreviousName(), c.name);
    }
    ALNameString upper(L"data.txt", NameCaseUpper);
    upper.ChangeExtension(L".bak");
    EXPECT_STREQ(upper.GetName(), L"DATA.BAK");
}

TEST(NameString, StripPathKeepsLastComponent) {
    const struct {
        const wchar_t* name;
        const wchar_t* stripped;
    } kCases[] = {{L"a/b\\c.txt", L"c.txt"}, {L"a\\b/c.txt", L"b/c.txt"}, {L"C:name", L"name"},
                  {L"name", L"name"},        {L"dir/", L""},            {L"x/y/z", L"z"}};
    for (const auto& c : kCases) {
        ALNameString name(c.name, NameCaseExact);
        name.StripPath();
        EXPECT_STREQ(name.GetName(), c.stripped) << c.name;
    }
}

TEST(NameString, MakeArchivePathGivesRelativeSlashPath) {
    const struct {
        const wchar_t* name;
        const wchar_t* path;
    } kCases[] = {{L"C:\\dir\\f.txt", L"dir/f.txt"},
                  {L"\\\\server\\share\\dir\\f.txt", L"dir/f.txt"},
                  {L"//server/share/f.txt", L"f.txt"},
                  {L"/abs/f.txt", L"abs/f.txt"},
                  {L"d:f.txt", L"f.txt"},
                  {L"rel\\f.txt", L"rel/f.txt"},
                  {L"C:", L"C:"},
                  {L"1:\\x", L"1:/x"}};
    for (const auto& c : kCases) {
        ALNameString name(c.name, NameCaseExact);
        name.MakeArchivePath();
        EXPECT_STREQ(name.GetName(), c.path) << c.name;
    }
}

TEST(TimeDate, JulianDayAndUnixSecondsAgreeWithCalendarReference) {
    const ALTimeDate kDates[] = {{1970, 1, 1, 0, 0, 0},   {1980, 1, 1, 0, 0, 0},
                                 {2000, 2, 29, 23, 59, 58}, {2024, 12, 31, 12, 30, 45},
                                 {2038, 1, 19, 3, 14, 8},   {2100, 3, 1, 0, 0, 1}};
    for (const ALTimeDate& date : kDates) {
        const int64_t expected =
            NaiveSeconds(date.year, date.month, date.day, date.hour, date.minute, date.second);
        EXPECT_EQ(date.ToJulianDay(),
                  ALTimeDate::kUnixEpochJulianDay + static_cast<int32_t>(expected / 86400))
            << date.year;
        EXPECT_EQ(date.ToUnixSeconds(), static_cast<uint32_t>(expected)) << date.year;
        ALTimeDate back;
        back.FromUnixSeconds(date.ToUnixSeconds());
        EXPECT_EQ(back.year, date.year);
        EXPECT_EQ(back.month, date.month);
        EXPECT_EQ(back.day, date.day);
        EXPECT_EQ(back.hour, date.hour);
        EXPECT_EQ(back.minute, date.minute);
        EXPECT_EQ(back.second, date.second);
    }
}

TEST(TimeDate, FromTmCountsYearsFrom1900AndMonthsFromZero) {
    const struct {
        int tm_year, tm_mon, tm_mday, tm_hour, tm_min, tm_sec;
        ALTimeDate expected;
    } cases[] = {
        {124, 5, 15, 10, 30, 42, {2024, 6, 15, 10, 30, 42}},
        {99, 0, 1, 0, 0, 0, {1999, 1, 1, 0, 0, 0}},
        {100, 11, 31, 23, 59, 59, {2000, 12, 31, 23, 59, 59}},
        {138, 0, 19, 3, 14, 7, {2038, 1, 19, 3, 14, 7}},
    };
    for (const auto& c : cases) {
        std::tm broken = {};
        broken.tm_year = c.tm_year;
        broken.tm_mon = c.tm_mon;
        broken.tm_mday = c.tm_mday;
        broken.tm_hour = c.tm_hour;
        broken.tm_min = c.tm_min;
        broken.tm_sec = c.tm_sec;
        ALTimeDate date;
        date.FromTm(broken);
        EXPECT_EQ(date.year, c.expected.year);
        EXPECT_EQ(date.month, c.expected.month);
        EXPECT_EQ(date.day, c.expected.day);
        EXPECT_EQ(date.hour, c.expected.hour);
        EXPECT_EQ(date.minute, c.expected.minute);
        EXPECT_EQ(date.second, c.expected.second);
    }
}

TEST(TimeDate, UnixEpochAndEarlierDates) {
    EXPECT_EQ(ALTimeDate(1970, 1, 1, 0, 0, 0).ToJulianDay(), 2440588);
    EXPECT_EQ(ALTimeDate(1970, 1, 1, 0, 0, 0).ToUnixSeconds(), 0u);
    EXPECT_EQ(ALTimeDate(1969, 12, 31, 23, 59, 59).ToUnixSeconds(), 0u);
    EXPECT_EQ(ALTimeDate(1900, 6, 1, 12, 0, 0).ToUnixSeconds(), 0u);
}

TEST(TimeDate, JulianDayRoundTripOverFourCenturies) {
    for (int32_t day = 2305448; day < 2451545 + 36525; day += 97) {  // 1600 .. 2100
        ALTimeDate date;
        date.FromJulianDay(day);
        ASSERT_EQ(date.ToJulianDay(), day);
        ASSERT_GE(date.month, 1);
        ASSERT_LE(date.month, 12);
    }
}

TEST(TimeDate, DosPacking) {
    EXPECT_EQ(ALTimeDate(2025, 1, 1, 0, 0, 0).PackDosDate(), 0x5A21);
    EXPECT_EQ(ALTimeDate(2025, 1, 1, 12, 0, 0).PackDosTime(), 0x6000);
    EXPECT_EQ(ALTimeDate(1980, 1, 1, 23, 59, 59).PackDosTime(), (23 << 11) | (59 << 5) | 29);
    ALTimeDate unpacked;
    unpacked.FromDosDateTime(0x5A21, 0x6000);
    EXPECT_EQ(unpacked.year, 2025);
    EXPECT_EQ(unpacked.month, 1);
    EXPECT_EQ(unpacked.day, 1);
    EXPECT_EQ(unpacked.hour, 12);
    EXPECT_EQ(unpacked.minute, 0);
    EXPECT_EQ(unpacked.second, 0);
    ALTimeDate odd(2107, 12, 31, 23, 59, 59);
    unpacked.FromDosDateTime(odd.PackDosDate(), odd.PackDosTime());
    EXPECT_EQ(unpacked.year, 2107);
    EXPECT_EQ(unpacked.second, 58);
}

TEST(FileAttributes, WritesReplaceFifteenBitsOnly) {
    ALFileAttributes attributes;
    EXPECT_EQ(attributes.GetBits(), 0u);
    attributes.SetBits(0xFFFFFFFFu);
    EXPECT_EQ(attributes.GetBits(), 0x7FFFu);
    attributes.SetBits(ALFileAttributes::kHidden);
    EXPECT_EQ(attributes.GetBits(), ALFileAttributes::kHidden);
    EXPECT_TRUE(attributes.Hidden());
    EXPECT_FALSE(attributes.ReadOnly());
    attributes.SetReadOnly(true);
    attributes.SetDirectory(true);
    EXPECT_EQ(attributes.GetBits(), 0x4005u);
}

TEST(FileAttributes, DosAttributeMapping) {
    const struct {
        uint32_t dos;
        uint32_t bits;
    } kCases[] = {{0x10, 0x4000}, {0x21, 0x0009}, {0x02, 0x0004},
                  {0x04, 0x0002}, {0x08, 0x0000}, {0x37, 0x400F}};
    for (const auto& c : kCases) {
        ALFileAttributes attributes;
        attributes.SetBits(ALFileAttributes::kClearAll);
        attributes.SetFromDosAttributes(c.dos);
        EXPECT_EQ(attributes.GetBits(), c.bits) << c.dos;
    }
}
