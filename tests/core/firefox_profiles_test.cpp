#include "core/firefox_profiles.h"

#include <gtest/gtest.h>

#include "core/bookmark_record.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::TempDir;

TEST(FirefoxProfilesIni, ChoosesTheProfileFirefoxStartsWith) {
    struct Case {
        const char* name;
        std::string ini;
        // The expected path below the root folder ("" = none), or an absolute one when it begins with '!'.
        std::wstring expected;
    };
    const Case cases[] = {
        {"only profile, forward slashes, no Default", "[Profile0]\nName=default\nIsRelative=1\nPath=Profiles/abc.default\n",
         L"Profiles\\abc.default"},
        {"Install wins over the default profile",
         "[Profile0]\nDefault=1\nIsRelative=1\nPath=Profiles/old\n[Profile1]\nIsRelative=1\nPath=Profiles/new\n\n"
         "[Install308046B0AF4A39CB]\nDefault=Profiles/new\n",
         L"Profiles\\new"},
        {"Install naming a profile no section lists falls to the default profile",
         "[Profile0]\nIsRelative=1\nPath=Profiles/other\n[Profile1]\nDefault=1\nIsRelative=1\nPath=Profiles/usable\n"
         "[Install308046B0AF4A39CB]\nDefault=Profiles/gone\n",
         L"Profiles\\usable"},
        // firefox-esr writes this for a profile made in a folder of the user's choice.
        {"Install naming a profile in a custom location, absolute",
         "[Profile0]\nName=default\nIsRelative=1\nPath=Profiles/abc.default\nDefault=1\n"
         "[Profile1]\nName=custom\nIsRelative=0\nPath=D:\\Custom\\Fox\n"
         "[Install308046B0AF4A39CB]\nDefault=D:\\Custom\\Fox\nLocked=1\n",
         L"!D:\\Custom\\Fox\\places.sqlite"},
        {"Install and profile written with other slashes still match",
         "[Profile0]\nDefault=1\nPath=Profiles/old\n[Profile1]\nPath=Profiles/new\n[Install1]\nDefault=Profiles\\new\n",
         L"Profiles\\new"},
        {"the last Install section decides; empty falls to the default profile",
         "[Install1]\nDefault=Profiles/a\n[Install2]\nDefault=\n[Profile0]\nPath=Profiles/b\n[Profile1]\nDefault=1\nPath=Profiles/c\n",
         L"Profiles\\c"},
        {"default profile without Path: the first profile", "[Profile0]\nPath=Profiles/first\n[Profile1]\nDefault=1\n",
         L"Profiles\\first"},
        {"only the first default counts", "[Profile0]\nPath=P/zero\n[Profile1]\nDefault=1\nPath=P/one\n[Profile2]\nDefault=1\nPath=P/two\n",
         L"P\\one"},
        {"absolute default profile", "[Profile0]\nDefault=1\nIsRelative=0\nPath=D:/Firefox/Profiles/x.default\n",
         L"!D:\\Firefox\\Profiles\\x.default\\places.sqlite"},
        {"IsRelative other than 1 is absolute", "[Profile0]\nIsRelative=true\nPath=E:/p\n", L"!E:\\p\\places.sqlite"},
        {"IsRelative missing is relative", "[Profile0]\nPath=Profiles\\win\n", L"Profiles\\win"},
        {"Default=1 with a blank is no default", "[Profile0]\nPath=P/zero\n[Profile1]\nDefault=1 \nPath=P/one\n", L"P\\zero"},
        // firefox-esr itself passes over a profile written "Path = x" / "Default = 1" and makes a new one.
        {"blanks around = make another key", "[Profile0]\nPath=P/zero\n[Profile1]\nDefault = 1\nPath=P/one\n", L"P\\zero"},
        {"value keeps further =", "[Profile0]\nPath=P/a=b\n", L"P\\a=b"},
        // firefox-esr takes "[Profile0" for the section Profile0 (it starts with that profile and writes
        // its line back closed), and passes over "[Profile0]x" and the keys under it.
        {"section line without closing bracket", "[Profile0\nPath=P/x\n", L"P\\x"},
        {"an unclosed section line names the default profile",
         "[Profile0]\nPath=P/a\n[Profile1\nDefault=1\nPath=P/b\n", L"P\\b"},
        {"an unclosed name keeps its blanks", "[Profile0 \nPath=P/x\n", L"P\\x"},
        {"section line with text after the bracket", "[Profile0] x\nPath=P/x\n", L""},
        {"keys under a malformed section line go nowhere", "[Profile0]\nPath=P/a\n[Profile1]x\nDefault=1\nPath=P/b\n",
         L"P\\a"},
        {"a line of brackets only is no section", "[Profile0]\nPath=P/a\n[]]\nDefault=1\nPath=P/b\n", L"P\\a"},
        {"brackets right after the opening one stay in the name", "[]Profile0\nPath=P/x\n", L""},
        {"blanks before a line and after the bracket", "  [Profile0]  \n\tPath=P/x\n", L"P\\x"},
        {"section name too short", "[Profil]\nPath=P/x\n", L""},
        {"prefix in another case", "[profile0]\nPath=P/x\n[install1]\nDefault=P/y\n", L""},
        {"lines before the first section", "Path=P/early\n[General]\nStartWithLastProfile=1\n", L""},
        {"a UTF-8 BOM before the first section", "\xEF\xBB\xBF[Profile0]\nPath=P/x\n", L"P\\x"},
        {"UTF-16 with its BOM", std::string("\xFF\xFE[\0P\0r\0o\0f\0i\0l\0e\0" "0\0]\0\n\0P\0a\0t\0h\0=\0P\0/\0\xF6\0\n\0", 42),
         L"P\\\u00f6"},
        {"BOM, then a later section", "\xEF\xBB\xBF[General]\nVersion=2\n[Profile0]\nPath=P/x\n", L"P\\x"},
        {"Windows line ends", "[Profile0]\r\nIsRelative=1\r\nPath=Profiles/crlf\r\n", L"Profiles\\crlf"},
        {"last line without line end", "[Profile0]\nPath=P/end", L"P\\end"},
        {"no Path anywhere", "[Profile0]\nName=default\nDefault=1\n", L""},
        {"comment lines", "[Profile0]\nPath=P/real\n;Path=P/commented\n#Path=P/hash\n", L"P\\real"},
        {"a key assigned twice keeps the last value", "[Profile0]\nPath=P/first\nPath=P/second\n", L"P\\second"},
        {"non-ASCII path", "[Profile0]\nPath=Profiles/J\xC3\xB6rg\n", L"Profiles\\J\u00f6rg"},
        {"dots and doubled separators stay", "[Profile0]\nPath=../x//y/\n", L"..\\x\\\\y\\"},
        {"empty file", "", L""},
        {"a NUL inside the path", std::string("[Profile0]\nPath=Profiles/a\0b\n", 29), L""},
        {"a control character inside the path", "[Profile0]\nPath=Profiles/a\tb\n", L""},
        {"a carriage return ends a line too", "[Profile0]\rPath=Profiles/a\r\r\n", L"Profiles\\a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        test::WriteTextFile(root / L"profiles.ini", c.ini);
        const std::optional<std::wstring> found = FindFirefoxPlaces(root.path());
        if (c.expected.empty()) {
            EXPECT_FALSE(found.has_value()) << ToUtf8(found.value_or(L""));
            continue;
        }
        const std::wstring expected =
            c.expected[0] == L'!' ? c.expected.substr(1) : root / (c.expected + L"\\places.sqlite");
        EXPECT_EQ(found.value_or(L"(none)"), expected);
    }
}

TEST(FirefoxProfilesIni, MissingFileGivesNothing) {
    TempDir root;
    EXPECT_FALSE(FindFirefoxPlaces(root.path()).has_value());
    test::MakeDirs(root / L"profiles.ini");  // a folder of that name cannot be read either
    EXPECT_FALSE(FindFirefoxPlaces(root.path()).has_value());
}

TEST(FirefoxProfilesIni, SectionsAreReadInFileOrder) {
    const std::vector<ProfilesIniSection> sections =
        ParseProfilesIni("a=1\n[Profile0]\nPath=x\n[\nlost=1\n[Profile0]\nk=v=w\n=a=b\n[Profile1 \nPath=y\n");
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].name, "Profile0");
    EXPECT_EQ(sections[0].values.at("Path"), "x");
    EXPECT_EQ(sections[0].values.count("lost"), 0u);
    EXPECT_EQ(sections[1].name, "Profile0");
    EXPECT_EQ(sections[1].values.at("k"), "v=w");
    EXPECT_EQ(sections[1].values.at("a"), "b");
    EXPECT_EQ(sections[2].name, "Profile1 ");
    EXPECT_EQ(sections[2].values.at("Path"), "y");
}

}  // namespace
}  // namespace bm
