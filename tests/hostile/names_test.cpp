// Member names that try to leave the target directory or to mean something
// other than what they spell: traversal and absolute names in every
// spelling, Windows device names, streams and names Windows would trim,
// empty and odd names, names beyond the path limits, symbolic links.
//
// Every row is packed between two harmless members; the harmless ones are
// always extracted, the row's member is either refused (AL_CANT_OPEN_FILE,
// nothing created) or lands exactly where its name says below the target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile/hostile_support.h"
#include "hostile/hostile_zip.h"

namespace hostile {
namespace {

enum class Expect {
    kSafe,          // extracted, at `lands_as` (or nowhere, for a directory)
    kRefused,       // refused by the name check
    kUnsafeWindows, // refused on Windows, extracted on POSIX
    kFails,         // a per-member failure of the file system (AL_CANT_OPEN_FILE)
    kFailsOrExact,  // a per-member failure, or the file under its exact name
};

struct NameRow {
    std::string label;
    std::string name;      // raw bytes as stored
    Expect expect;
    std::string lands_as;  // relative path (generic) for kSafe/kUnsafeWindows; "" = the name
};

// Absolute spellings of <scratch>/outside/<leaf>, built from the scratch
// path so that a name that slipped through would land in the scratch
// directory and show there.
struct Spellings {
    explicit Spellings(const fs::path& outside) {
        native = outside.string() + static_cast<char>(kPathSeparator);
        generic = outside.generic_string() + "/";
        // Without its root name (drive): "/dir/outside/" and "\\dir\\outside\\".
        std::string rel = outside.relative_path().generic_string();
        rooted = "/" + rel + "/";
        backslashed = "\\" + rel + "\\";
        for (char& c : backslashed) c = c == '/' ? '\\' : c;
        drive = kWindows ? outside.root_name().string() : std::string("C:");
    }
    std::string native, generic, rooted, backslashed, drive;
};

std::vector<NameRow> Rows(const Spellings& abs) {
    std::string deep;  // 50 components of 100 characters: far beyond MAX_PATH and PATH_MAX
    for (int i = 0; i < 50; ++i) deep += "d" + std::string(99, static_cast<char>('a' + i % 26)) + "/";
    deep += "f.txt";
    std::string longest;  // the longest name a record can hold
    while (longest.size() + 201 <= 65535) longest += std::string(200, 'c') + "/";
    longest += std::string(65535 - longest.size(), 'e');

    return {
        // Traversal, in every spelling and after separators are normalised.
        {"dotdot slash", "../up1.txt", Expect::kRefused, ""},
        {"climbs past its own directory", "a/../../up2.txt", Expect::kRefused, ""},
        {"dotdot backslash", "..\\up3.txt", Expect::kRefused, ""},
        {"mixed separators", "safe/..\\..\\up4.txt", Expect::kRefused, ""},
        {"dot before dotdot", "./../up5.txt", Expect::kRefused, ""},
        {"dot components around", "a/./../.././up6.txt", Expect::kRefused, ""},
        {"backslash then slash", "a/b\\..\\../../up7.txt", Expect::kRefused, ""},
        {"bare dotdot", "..", Expect::kRefused, ""},
        {"dotdot directory", "../", Expect::kRefused, ""},
        {"trailing dotdot", "a/b/..", Expect::kRefused, ""},
        {"dotdot blank", "a/.. /up8.txt", Expect::kUnsafeWindows, "a/.. /up8.txt"},
        {"three dots", "a/.../up9.txt", Expect::kUnsafeWindows, "a/.../up9.txt"},
        // Absolute names.
        {"absolute native", abs.native + "abs1.txt", Expect::kRefused, ""},
        {"absolute generic", abs.generic + "abs2.txt", Expect::kRefused, ""},
        {"rooted slash", abs.rooted + "abs3.txt", Expect::kRefused, ""},
        {"rooted backslash", abs.backslashed + "abs4.txt", Expect::kRefused, ""},
        {"UNC slashes", "//hostile-server/share/x.txt", Expect::kRefused, ""},
        {"UNC backslashes", "\\\\hostile-server\\share\\x.txt", Expect::kRefused, ""},
        {"double slash onto the scratch", "/" + abs.rooted + "abs5.txt", Expect::kRefused, ""},
        {"drive backslash", abs.drive + abs.backslashed + "abs6.txt", Expect::kRefused, ""},
        {"drive slash", abs.drive + abs.rooted + "abs7.txt", Expect::kRefused, ""},
        {"drive relative", "C:abs8.txt", Expect::kRefused, ""},
        {"lower-case drive", "c:abs9.txt", Expect::kRefused, ""},
        {"long-path prefix", "\\\\?\\" + abs.native + "abs10.txt", Expect::kRefused, ""},
        {"device namespace", "\\\\.\\" + abs.native + "abs11.txt", Expect::kRefused, ""},
        {"drive later in the path", "a/C:/x.txt", Expect::kUnsafeWindows, "a/C:/x.txt"},
        // Windows devices, streams, trimmed and reserved characters.
        {"CON", "CON", Expect::kUnsafeWindows, ""},
        {"nul with extension", "nul.txt", Expect::kUnsafeWindows, ""},
        {"nul blank extension", "nul .txt", Expect::kUnsafeWindows, ""},
        {"COM1", "COM1", Expect::kUnsafeWindows, ""},
        {"com superscript one", "com\xC2\xB9.log", Expect::kUnsafeWindows, ""},
        {"LPT9", "lpt9.dat", Expect::kUnsafeWindows, ""},
        {"CONIN$", "CONIN$", Expect::kUnsafeWindows, ""},
        {"conout$ in a directory", "dir/conout$.txt", Expect::kUnsafeWindows, ""},
        {"device as a directory", "a/Aux/b.txt", Expect::kUnsafeWindows, ""},
        {"device with double extension", "prn.tar.gz", Expect::kUnsafeWindows, ""},
        {"trailing dot", "trailing.", Expect::kUnsafeWindows, ""},
        {"trailing blank", "trailing ", Expect::kUnsafeWindows, ""},
        {"directory with trailing dot", "dir./x.txt", Expect::kUnsafeWindows, ""},
        {"directory with trailing blank", "dir /x.txt", Expect::kUnsafeWindows, ""},
        {"less than", "a<b", Expect::kUnsafeWindows, ""},
        {"greater than", "a>b", Expect::kUnsafeWindows, ""},
        {"double quote", "a\"b", Expect::kUnsafeWindows, ""},
        {"pipe", "a|b", Expect::kUnsafeWindows, ""},
        {"question mark", "a?b", Expect::kUnsafeWindows, ""},
        {"asterisk", "a*b", Expect::kUnsafeWindows, ""},
        {"control character", "ctl\x01x", Expect::kUnsafeWindows, ""},
        {"tab", "tab\tx", Expect::kUnsafeWindows, ""},
        {"alternate data stream", "setup.exe:evil", Expect::kUnsafeWindows, ""},
        {"default stream", "setup.exe::$DATA", Expect::kUnsafeWindows, ""},
        // Empty, dot and doubled-separator names.
        {"empty name", "", Expect::kRefused, ""},
        {"leading dot component", "./x.txt", Expect::kSafe, "x.txt"},
        {"inner dot component", "a/./b.txt", Expect::kSafe, "a/b.txt"},
        {"doubled separator", "a//b.txt", Expect::kSafe, "a/b.txt"},
        {"dot alone", ".", Expect::kFails, ""},
        {"NUL byte", std::string("evil.txt\0.jpg", 13), Expect::kFails, ""},
        // Beyond the path limits: a failure of that member, never a
        // shortened name.
        {"component of 300 characters", std::string(300, 'n') + ".txt", Expect::kFails, ""},
        {"5,000 characters deep", deep, Expect::kFailsOrExact, deep},
        {"65,535 characters", longest, Expect::kFailsOrExact, longest},
    };
}

bool RefusedHere(Expect expect) {
    return expect == Expect::kRefused || (kWindows && expect == Expect::kUnsafeWindows);
}

using HostileNames = HostileTest;

TEST_F(HostileNames, EveryNameStaysInsideTheTargetOrIsRefused) {
    const Spellings abs(Outside());
    for (const NameRow& row : Rows(abs)) {
        SCOPED_TRACE(row.label);
        ResetTarget();
        Member hostile = File(row.name, "evil");
        for (unsigned char c : row.name) {
            if (c >= 0x80) hostile.flags = 0x0800;  // a UTF-8 name
        }
        std::vector<Member> members = {File("good/first.txt", "first"), hostile,
                                       File("good/last.txt", "last")};
        const Outcome out = Extract(row.label, Build(members));
        ASSERT_EQ(out.read, 3);
        Tree expected = {{"good/first.txt", 5}, {"good/last.txt", 4}};
        const Tree files = FilesIn(Target());

        if (RefusedHere(row.expect)) {
            EXPECT_EQ(out.code, AL_CANT_OPEN_FILE) << Narrow(out.detail);
            EXPECT_NE(out.detail.find(L": Refusing to create "), std::wstring::npos)
                << Narrow(out.detail);
            EXPECT_EQ(files, expected);
        } else if (row.expect == Expect::kFails) {
            EXPECT_EQ(out.code, AL_CANT_OPEN_FILE) << Narrow(out.detail);
            EXPECT_EQ(files, expected);
        } else if (row.expect == Expect::kFailsOrExact && out.code < 0) {
            EXPECT_EQ(out.code, AL_CANT_OPEN_FILE) << Narrow(out.detail);
            EXPECT_EQ(files, expected);
        } else {
            EXPECT_EQ(out.code, 3) << Narrow(out.detail);
            const std::string lands = row.lands_as.empty() ? row.name : row.lands_as;
            if (!lands.empty() && lands.back() != '/') expected[lands] = 4;
            EXPECT_EQ(files, expected);
        }
        EXPECT_TRUE(fs::is_empty(Outside()));
    }
}

// Entries marked as symbolic links (Unix mode 0120000 in the high half of
// the external attributes, version made by Unix) are extracted as plain
// files holding the link text; nothing is ever reached through them.
TEST_F(HostileNames, SymbolicLinksBecomePlainFiles) {
    const uint32_t kLinkAttributes = (0120777u << 16);
    const std::string outside = Outside().generic_string();
    const struct {
        std::string label;
        std::string link_text;
    } cases[] = {
        {"relative link out of the target", "../outside"},
        {"absolute link to the outside", outside},
        {"link to a file outside", "../outside/victim.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ResetTarget();
        Member link = File("link", c.link_text, 0);
        link.version_made_by = 0x031E;  // Unix, 3.0
        link.external = kLinkAttributes;
        Member through = File("link/escape.txt", "evil");
        Member victim = File("link", "overwritten", 0);  // the same name again
        const Outcome out =
            Extract(c.label, Build({link, through, File("good.txt", "good"), victim}));
        ASSERT_EQ(out.read, 4);
        // The path through the "link" needs a directory where a file is.
        EXPECT_EQ(out.code, AL_CANT_OPEN_FILE) << Narrow(out.detail);
        EXPECT_FALSE(fs::is_symlink(Target() / "link"));
        EXPECT_EQ(ReadBytes(Target() / "link"), "overwritten");
        EXPECT_EQ(FilesIn(Target()), (Tree{{"good.txt", 4}, {"link", 11}}));
        EXPECT_TRUE(fs::is_empty(Outside()));

        ResetTarget();
        const Outcome alone = Extract(c.label, Build({link}));
        EXPECT_EQ(alone.code, 1) << Narrow(alone.detail);
        EXPECT_FALSE(fs::is_symlink(Target() / "link"));
        EXPECT_EQ(ReadBytes(Target() / "link"), c.link_text);
    }
}

}  // namespace
}  // namespace hostile
