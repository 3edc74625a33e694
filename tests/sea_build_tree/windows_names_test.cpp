#include "tools/sea_build/tree/windows_names.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>
#include <vector>

#include "tools/sea_build/tree/shown_name.h"
#include "tools/sea_build/tree/upcase_table.h"

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// "path: reason" of every finding, warnings marked "warning: ".
std::vector<std::wstring> Findings(const std::vector<NameEntry>& entries) {
    std::vector<std::wstring> lines;
    for (const NameFinding& f : CheckWindowsNames(entries)) {
        lines.push_back((f.warning ? L"warning: " : L"") + f.path + L": " + f.reason);
    }
    return lines;
}

// The findings of a single file entry.
std::vector<NameFinding> Of(const std::wstring& path, bool directory = false) {
    return CheckWindowsNames({{path, directory}});
}

struct NameCase {
    const wchar_t* path;
    const wchar_t* failing;  // the path named in the finding; null: accepted
    const wchar_t* reason;   // a part of the reason
};

TEST(WindowsNames, CreatableNamesTable) {
    const NameCase cases[] = {
        {L"CON", L"CON", L"device name"},
        {L"con", L"con", L"device name"},
        {L"aux.txt", L"aux.txt", L"device name"},
        {L"Nul.tar.gz", L"Nul.tar.gz", L"device name"},
        {L"nul .txt", L"nul .txt", L"device name"},
        {L"COM0", L"COM0", L"device name"},
        {L"lpt9.log", L"lpt9.log", L"device name"},
        {L"COM\u00B9", L"COM\u00B9", L"device name"},
        {L"lpt\u00B3.txt", L"lpt\u00B3.txt", L"device name"},
        {L"prn/inside.txt", L"prn", L"device name"},
        {L"sub/CON/x.txt", L"sub/CON", L"device name"},
        {L"colon:name", L"colon:name", L"':'"},
        {L"q?mark", L"q?mark", L"'?'"},
        {L"a<b", L"a<b", L"'<'"},
        {L"a>b", L"a>b", L"'>'"},
        {L"a\"b", L"a\"b", L"'\"'"},
        {L"a|b", L"a|b", L"'|'"},
        {L"star*", L"star*", L"'*'"},
        {L"dir/tab\tname/file", L"dir/tab\tname", L"control character U+0009"},
        {L"trail.", L"trail.", L"ends in a dot or a blank"},
        {L"blank ", L"blank ", L"ends in a dot or a blank"},
        {L"dir./f.txt", L"dir.", L"ends in a dot or a blank"},
        {L"...", L"...", L"climbs out"},
        {L"a/../b", L"a/..", L"climbs out"},
        {L"/etc/passwd", L"/etc/passwd", L"absolute"},
        {L"C:x", L"C:x", L"absolute"},
        // Names that only look like the above.
        {L"CONSOLE", nullptr, nullptr},
        {L"con-x.txt", nullptr, nullptr},
        {L"COM10", nullptr, nullptr},
        {L"LPT", nullptr, nullptr},
        {L"xcon", nullptr, nullptr},
        {L".hidden", nullptr, nullptr},
        {L"a.b.c", nullptr, nullptr},
        {L"Donn\u00e9es/\u65e5\u672c.txt", nullptr, nullptr},
    };
    for (const NameCase& c : cases) {
        const std::vector<NameFinding> found = Of(c.path);
        if (!c.failing) {
            EXPECT_TRUE(found.empty()) << Narrow(c.path) << ": " << Narrow(found[0].reason);
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << Narrow(c.path);
        EXPECT_EQ(found[0].path, c.failing) << Narrow(c.path);
        EXPECT_FALSE(found[0].warning) << Narrow(c.path);
        EXPECT_NE(found[0].reason.find(c.reason), std::wstring::npos)
            << Narrow(c.path) << ": " << Narrow(found[0].reason);
    }
}

TEST(WindowsNames, EachFailingPathIsNamedOnceAndNothingBelowIt) {
    const std::vector<std::wstring> lines = Findings({
        {L"CON/a.txt", false},
        {L"CON/b.txt", false},
        {L"CON/q?.txt", false},
        {L"x/q?/1", false},
        {L"x/q?/2", false},
        {L"Dir/a", false},
        {L"DIR/a", false},
        {L"DIR/b", false},
        {L"dir/C", false},
    });
    const std::vector<std::wstring> expected = {
        L"CON: \"CON\" is a device name on Windows (CON, PRN, AUX, NUL, COM0-9, LPT0-9 in any "
        L"letter case and with any extension)",
        L"x/q?: holds '?', which Windows does not allow in names",
        L"DIR: the same name on Windows as Dir (Windows ignores letter case)",
        L"dir: the same name on Windows as Dir (Windows ignores letter case)",
    };
    EXPECT_EQ(lines, expected);
}

// A hostile archive's name of 32,766 characters, 16,383 folders deep, with
// a fault at its end: named by the first folder beyond the path budget,
// not walked down to the end.
TEST(WindowsNames, AHostileLongNameStopsAtTheBudget) {
    std::wstring name;
    while (name.size() < 32760) name += L"a/";
    name += L"CON";
    const std::vector<NameFinding> found = Of(name);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_TRUE(found[0].warning);  // the first folder beyond a typical temporary folder
    EXPECT_EQ(found[0].path.size(), 187u);
    EXPECT_FALSE(found[1].warning);
    EXPECT_EQ(found[1].path.size(), 233u);
    EXPECT_NE(found[1].reason.find(L"a folder path of 233 characters"), std::wstring::npos);
}

TEST(WindowsNames, CaseCollisionsUnderSimpleUpperCasing) {
    struct Pair {
        const wchar_t* first;
        const wchar_t* second;
        bool collide;
    };
    const Pair pairs[] = {
        {L"A.txt", L"a.txt", true},
        {L"README", L"ReadMe", true},
        {L"\u00c4rger", L"\u00e4rger", true},             // Ä ä
        {L"\u0178", L"\u00ff", true},                     // Ÿ ÿ
        {L"\u03a3\u03bf\u03c6", L"\u03c3\u03bf\u03c6", true},  // Σοφ σοφ
        {L"\u03a3", L"\u03c2", true},                     // final sigma
        {L"\u0416", L"\u0436", true},                     // Ж ж
        {L"\u01c4", L"\u01c6", true},                     // Ǆ ǆ
        {L"\u01c5", L"\u01c6", true},                     // ǅ ǆ (title case)
        {L"\u1f88", L"\u1f80", true},                     // ᾈ ᾀ (simple, not full mapping)
        {L"\uff21", L"\uff41", true},                     // fullwidth Ａ ａ
        {L"i", L"I", true},                               // in every locale, Turkish too
        {L"\u00df", L"SS", false},                        // ß: no simple upper case
        {L"\u00df", L"\u1e9e", false},                    // ß ẞ
        {L"\u0130", L"i", false},                         // İ i
        {L"e\u0301", L"\u00e9", false},                   // no normalisation
        {L"\U00010400", L"\U00010428", false},            // Deseret: beyond U+FFFF
        {L"a.txt", L"b.txt", false},
    };
    for (const Pair& p : pairs) {
        const std::vector<NameFinding> found = CheckWindowsNames({{p.first, false}, {p.second, false}});
        EXPECT_EQ(found.size(), p.collide ? 1u : 0u) << Narrow(p.first) << " / " << Narrow(p.second);
        if (p.collide && found.size() == 1) {
            EXPECT_EQ(found[0].path, p.second);
            EXPECT_NE(found[0].reason.find(p.first), std::wstring::npos);
        }
    }
    // Three spellings: the second and the third each name the first.
    EXPECT_EQ(Findings({{L"x/a", false}, {L"x/A", true}, {L"x/a/", false}}).size(), 1u);
    EXPECT_EQ(CheckWindowsNames({{L"s", false}, {L"S", false}, {L"\u017f", false}}).size(), 2u);
    // The same name twice is no collision with itself but an entry twice.
    const std::vector<NameFinding> twice = CheckWindowsNames({{L"d/f", false}, {L"d/f", false}});
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_NE(twice[0].reason.find(L"appears twice"), std::wstring::npos);
    // A folder entry and the files in it are one folder.
    EXPECT_TRUE(CheckWindowsNames({{L"d/", true}, {L"d/f", false}, {L"d/g", false}}).empty());
}

TEST(WindowsNames, UpcaseIgnoresTheLocale) {
    const char* const locales[] = {"tr_TR.UTF-8", "tr_TR.utf8", "C.UTF-8", "C"};
    for (const char* locale : locales) {
        if (!std::setlocale(LC_ALL, locale)) continue;
        EXPECT_EQ(WindowsUpcase(L"istanbul \u0131\u00e9"), L"ISTANBUL I\u00c9") << locale;
    }
    std::setlocale(LC_ALL, "C");
}

TEST(WindowsNames, UpcaseTableIsOrderedAndStaysInThePlane) {
    ASSERT_GT(kUpcaseRunCount, 100u);
    for (size_t i = 0; i < kUpcaseRunCount; ++i) {
        const UpcaseRun& r = kUpcaseRuns[i];
        EXPECT_LE(r.first, r.last);
        EXPECT_GE(r.step, 1);
        if (i > 0) {
            EXPECT_LT(kUpcaseRuns[i - 1].last, r.first) << i;
        }
        const int32_t mapped = static_cast<int32_t>(r.last) + r.delta;
        EXPECT_TRUE(mapped > 0 && mapped <= 0xFFFF) << i;
    }
    for (wchar_t c = L'a'; c <= L'z'; ++c) {
        EXPECT_EQ(WindowsUpcase(std::wstring(1, c)), std::wstring(1, static_cast<wchar_t>(c - 32)));
    }
    // Gaps inside a run of pairs stay unmapped: Ā ā Ă ă ... (U+0100 to U+012F).
    EXPECT_EQ(WindowsUpcase(L"\u0100\u0101\u0102\u0103"), L"\u0100\u0100\u0102\u0102");
}

// A path of 102 to 355 characters (UTF-16 units): a folder of 100, whose
// length fits everywhere, and a name.
std::wstring PathOf(size_t length) {
    return std::wstring(100, L'd') + L"/" + std::wstring(length - 101, L'f');
}

TEST(WindowsNames, PathBudget) {
    // Below C:\ and the working directory I0123456789\ (15 characters) a
    // file path may have 244 characters, a folder path 232; below a
    // typical temporary folder of 49 characters, 198 and 186.
    EXPECT_TRUE(Of(PathOf(198)).empty());
    const std::vector<NameFinding> warned = Of(PathOf(199));
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_TRUE(warned[0].warning);
    EXPECT_NE(warned[0].reason.find(L"at most 48 characters"), std::wstring::npos)
        << Narrow(warned[0].reason);
    const std::vector<NameFinding> fits = Of(PathOf(244));
    ASSERT_EQ(fits.size(), 1u);
    EXPECT_TRUE(fits[0].warning);
    const std::vector<NameFinding> too_long = Of(PathOf(245));
    ASSERT_EQ(too_long.size(), 1u);
    EXPECT_FALSE(too_long[0].warning);
    EXPECT_NE(too_long[0].reason.find(L"a file path of 245 characters"), std::wstring::npos);
    EXPECT_NE(too_long[0].reason.find(L"at most 244"), std::wstring::npos);

    EXPECT_TRUE(Of(PathOf(186), true).empty());
    EXPECT_TRUE(Of(PathOf(187), true)[0].warning);
    const std::vector<NameFinding> longest = Of(PathOf(232), true);
    ASSERT_EQ(longest.size(), 1u);
    EXPECT_TRUE(longest[0].warning);
    const std::vector<NameFinding> folder = Of(PathOf(233), true);
    ASSERT_EQ(folder.size(), 1u);
    EXPECT_FALSE(folder[0].warning);
    EXPECT_NE(folder[0].reason.find(L"a folder path of 233 characters"), std::wstring::npos);

    // The folder of a file counts as a folder: named instead of the file.
    const std::wstring deep = std::wstring(233, L'd');
    const std::vector<NameFinding> parent = Of(deep + L"/f");
    ASSERT_EQ(parent.size(), 1u);
    EXPECT_EQ(parent[0].path, deep);

    // One warning for a folder, none again for what lies below it.
    const std::wstring shared = std::wstring(190, L's');
    const std::vector<NameFinding> once =
        CheckWindowsNames({{shared + L"/aaaaaaaaaa", false}, {shared + L"/bbbbbbbbbb", false}});
    ASSERT_EQ(once.size(), 1u);
    EXPECT_EQ(once[0].path, shared);

    // A component of more than 255 characters, whatever the budget.
    const std::vector<NameFinding> component = Of(std::wstring(256, L'c'));
    ASSERT_EQ(component.size(), 1u);
    EXPECT_NE(component[0].reason.find(L"a name of 256 characters"), std::wstring::npos);

    // A character beyond U+FFFF takes two UTF-16 units on Windows.
    const std::wstring emoji = L"\U0001F600";
    std::wstring pairs_path = std::wstring(100, L'd') + L"/";
    for (int i = 0; i < 72; ++i) pairs_path += emoji;  // 101 + 144 = 245 units
    const std::vector<NameFinding> counted = Of(pairs_path);
    ASSERT_EQ(counted.size(), 1u);
    EXPECT_FALSE(counted[0].warning);
}

// Names as they are printed: nothing reaches the terminal that moves the
// cursor, ends the line or turns the text around, and bytes that are not
// UTF-8 show as themselves.
TEST(ShownNames, EscapesTable) {
    const std::pair<std::wstring, std::wstring> names[] = {
        {L"plain/\u00C4rger \u65E5.txt", L"plain/\u00C4rger \u65E5.txt"},
        {L"back\\slash", L"back\\slash"},
        {L"tab\tline\nend", L"tab\\x09line\\x0aend"},
        {L"esc\x1b[2J del\x7f", L"esc\\x1b[2J del\\x7f"},
        {L"c1\x85 rlo\u202Etxt.exe lrm\u200E sep\u2028", L"c1\\u0085 rlo\\u202etxt.exe lrm\\u200e sep\\u2028"},
        {L"\U0001F600", L"\U0001F600"},
        {std::wstring(L"lone") + wchar_t(0xD800) + L"x", L"lone\\ud800x"},
    };
    for (const auto& name : names) EXPECT_EQ(ShownName(name.first), name.second) << Narrow(name.second);
    EXPECT_EQ(ShownLine(L"a\tb\n"), L"a\\x09b\n");

    const std::pair<std::string, std::wstring> bytes[] = {
        {"caf\xC3\xA9", L"caf\u00E9"},
        {"emoji\xF0\x9F\x98\x80", L"emoji\U0001F600"},
        {"latin1-\xE9t\xE9", L"latin1-\\xe9t\\xe9"},
        {"cut\xE2\x82", L"cut\\xe2\\x82"},
        {"overlong\xC0\xAF", L"overlong\\xc0\\xaf"},
        {"surrogate\xED\xA0\x80", L"surrogate\\xed\\xa0\\x80"},
        {"beyond\xF4\x90\x80\x80", L"beyond\\xf4\\x90\\x80\\x80"},
        {"stray\x80 ctl\x1b\xFF", L"stray\\x80 ctl\\x1b\\xff"},
    };
    for (const auto& name : bytes) EXPECT_EQ(ShownBytes(name.first), name.second) << name.first;
}

}  // namespace
