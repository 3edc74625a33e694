// The bounded wide formatter: the house conversions on every platform and
// cutting instead of overflowing.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/format.h"

namespace {

// Formats through FormatBoundedV into a roomy buffer; the returned count
// must match the stored text.
std::wstring Bounded(const wchar_t* format, ...) {
    wchar_t out[128];
    va_list args;
    va_start(args, format);
    const size_t n = FormatBoundedV(out, 128, format, args);
    va_end(args);
    EXPECT_EQ(n, std::wstring(out).size()) << out;
    return out;
}

TEST(FormatBounded, HouseConversions) {
    const struct {
        std::wstring actual;
        const wchar_t* expected;
    } cases[] = {
        {Bounded(L"%s|%s", L"wide", L""), L"wide|"},
        {Bounded(L"%ld %ld", static_cast<int32_t>(-1), static_cast<int32_t>(INT32_MIN)), L"-1 -2147483648"},
        {Bounded(L"%08lx %lx %lX", static_cast<uint32_t>(0xABC), static_cast<uint32_t>(0xFFFFFFFFu),
                 static_cast<uint32_t>(0xBEEF)),
         L"00000abc ffffffff BEEF"},
        {Bounded(L"%d%%", 100), L"100%"},
        {Bounded(L"%%s %%ld"), L"%s %ld"},
        {Bounded(L"%lld", static_cast<long long>(-9000000000LL)), L"-9000000000"},
        {Bounded(L"[%5s][%-5s]", L"ab", L"cd"), L"[   ab][cd   ]"},
        {Bounded(L"%c%c", static_cast<wint_t>(L'\u00e9'), static_cast<wint_t>(L'x')), L"\u00e9x"},
        {Bounded(L"Code %ld = '%s'", static_cast<int32_t>(-104), L"CRC Error"), L"Code -104 = 'CRC Error'"},
        {Bounded(L"%s", L"100% sure %s"), L"100% sure %s"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(FormatString, MatchesFormatBounded) {
    const std::wstring text = FormatString(100, L"%s=%ld (%08lx) %%", L"name", static_cast<int32_t>(42),
                                           static_cast<uint32_t>(42));
    EXPECT_EQ(text, L"name=42 (0000002a) %");
}

TEST(FormatBounded, CutsAtCapacityWithoutOverflow) {
    wchar_t out[32];
    for (wchar_t& c : out) c = L'#';
    // Capacity 8 of a 32-character array: seven characters and the terminator.
    const size_t n = FormatBounded(out, 8, L"%s-%ld", L"abcdefghijkl", static_cast<int32_t>(12345));
    EXPECT_EQ(n, 7u);
    EXPECT_STREQ(out, L"abcdefg");
    for (size_t i = 8; i < 32; ++i) EXPECT_EQ(out[i], L'#') << "written past capacity at " << i;

    for (wchar_t& c : out) c = L'#';
    EXPECT_EQ(FormatBounded(out, 1, L"%s", L"x"), 0u);
    EXPECT_EQ(out[0], L'\0');
    EXPECT_EQ(out[1], L'#');
    out[0] = L'#';
    EXPECT_EQ(FormatBounded(out, 0, L"%s", L"x"), 0u);
    EXPECT_EQ(out[0], L'#');
}

TEST(FormatBounded, LongNames) {
    const std::wstring name = L"dir\\" + std::wstring(330, L'n') + L"\\file.ext";
    wchar_t big[512];
    EXPECT_EQ(FormatBounded(big, 512, L"Extracting '%s'", name.c_str()), name.size() + 13);
    EXPECT_EQ(std::wstring(big), L"Extracting '" + name + L"'");

    wchar_t path[256 + 8];
    for (wchar_t& c : path) c = L'#';
    EXPECT_EQ(FormatBounded(path, 256, L"%s\\%s", name.c_str(), L"sea.log"), 255u);
    EXPECT_EQ(std::wstring(path), name.substr(0, 255));
    for (size_t i = 256; i < 264; ++i) EXPECT_EQ(path[i], L'#');

    // Text far beyond any internal work buffer still comes back cut.
    const std::wstring huge(200000, L'h');
    EXPECT_EQ(FormatString(300, L"%s%s", huge.c_str(), L"tail"), std::wstring(300, L'h'));
}

}  // namespace
