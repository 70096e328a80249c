#include "core/bookmark_record.h"

#include <gtest/gtest.h>

#include <string>

namespace bm {
namespace {

TEST(TextConversion, RoundTripsAndEmpty) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToWide(""), L"");
    const std::wstring samples[] = {L"plain", L"Café", L"Закладки", L"書籤", L"\U0001F600 emoji", L"a\0b"};
    for (const std::wstring& text : samples) EXPECT_EQ(ToWide(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(L"Café"), "Caf\xC3\xA9");
    // A surrogate pair is one code point: four UTF-8 bytes.
    EXPECT_EQ(ToUtf8(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");
}

TEST(TextConversion, BrokenInputBecomesReplacementCharacter) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(ToUtf8(std::wstring{L'a', wchar_t(0xD800), L'b'}), "a" + replacement + "b");  // lone high surrogate
    EXPECT_EQ(ToUtf8(std::wstring{wchar_t(0xDC00)}), replacement);                          // lone low surrogate
    EXPECT_EQ(ToWide("a\xFF" "b"), (std::wstring{L'a', wchar_t(0xFFFD), L'b'}));
    EXPECT_EQ(ToWide("\xC3"), std::wstring(1, wchar_t(0xFFFD)));  // truncated sequence
}

// The edges of well-formed UTF-8: the shortest forms only, no surrogates, nothing past U+10FFFF.
TEST(TextConversion, WellFormedUtf8KnowsTheEdgesOfEachSequenceLength) {
    struct Case {
        const char* what;
        std::string text;
        size_t length;  // of the sequence the text starts with
    };
    const Case cases[] = {
        {"ASCII", "a", 1},
        {"empty", "", 0},
        {"U+0080", "\xC2\x80", 2},
        {"overlong two-byte form", "\xC1\xBF", 0},
        {"U+0800", "\xE0\xA0\x80", 3},
        {"overlong three-byte form", "\xE0\x9F\xBF", 0},
        {"last before the surrogates", "\xED\x9F\xBF", 3},
        {"a surrogate", "\xED\xA0\x80", 0},
        {"U+10000", "\xF0\x90\x80\x80", 4},
        {"overlong four-byte form", "\xF0\x8F\xBF\xBF", 0},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", 4},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"a lone continuation byte", "\x80", 0},
        {"cut short", "\xE2\x82", 0},
        {"a bad third byte", "\xE2\x82\x41", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8SequenceLength(c.text), c.length);
        EXPECT_EQ(IsWellFormedUtf8(c.text), c.length == c.text.size());
        EXPECT_EQ(IsWellFormedUtf8("ok " + c.text + " ok"), c.length == c.text.size());
    }
}

TEST(TextOperations, LowerCaseChangesAsciiOnly) {
    EXPECT_EQ(ToLower(L"ÄBC"), L"Äbc");
    EXPECT_EQ(ToLower(L"ПРИВЕТ"), L"ПРИВЕТ");
    EXPECT_EQ(ToLower(L"MiXeD-09_Z"), L"mixed-09_z");
}

TEST(TextOperations, NormalizeUrl) {
    EXPECT_EQ(NormalizeUrl(L"Example.COM/Docs///"), L"example.com/docs");
    EXPECT_EQ(NormalizeUrl(L"/"), L"");
    EXPECT_EQ(NormalizeUrl(L"a.b/?q=X"), L"a.b/?q=x");
    EXPECT_NE(NormalizeUrl(L"http://a.b"), NormalizeUrl(L"https://a.b"));
    EXPECT_EQ(NormalizeUrl(L"http://a.b/ "), L"http://a.b/ ");
    EXPECT_EQ(NormalizeUrl(L"HTTP://ÉTÉ.fr/"), L"http://ÉtÉ.fr");
}

TEST(FolderPaths, SplitAndJoin) {
    EXPECT_TRUE(SplitPath(L"").empty());
    EXPECT_TRUE(SplitPath(L"/").empty());
    EXPECT_TRUE(SplitPath(L"//").empty());
    EXPECT_EQ(SplitPath(L"/a//b/"), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(SplitPath(L" a / b "), (std::vector<std::wstring>{L" a ", L" b "}));
    EXPECT_EQ(JoinPath({L"a", L"", L"b"}), L"a//b");
    EXPECT_EQ(JoinPath({L"only"}), L"only");
    EXPECT_EQ(JoinPath({}), L"");
}

TEST(FolderPaths, CanonicalRootKeyKnowsWholeRootNamesOnly) {
    struct Case {
        const wchar_t* name;
        const wchar_t* key;
    };
    const Case cases[] = {
        // Chromium's keys and names, Firefox's identifiers and names, Edge's names, any letter case.
        {L"bookmark_bar", L"bookmark_bar"},   {L"toolbar_____", L"bookmark_bar"},
        {L"TOOLBAR", L"bookmark_bar"},        {L"Favorites bar", L"bookmark_bar"},
        {L"Bookmarks bar", L"bookmark_bar"},  {L"BOOKMARKS BAR", L"bookmark_bar"},
        {L"Bookmarks Toolbar", L"bookmark_bar"}, {L"synced", L"synced"},
        {L"mobile______", L"synced"},         {L"Mobile Bookmarks", L"synced"},
        {L"mobile bookmarks", L"synced"},     {L"other", L"other"},
        {L"OTHER", L"other"},                 {L"unfiled_____", L"other"},
        {L"menu________", L"other"},          {L"Other favorites", L"other"},
        {L"Other Bookmarks", L"other"},       {L"Bookmarks Menu", L"other"},
        // A name that merely holds a root word is an ordinary folder.
        {L"Barbecue bookmarks", L""},         {L"Mobile apps (menu)", L""},
        {L"mobile bookmarks bar", L""},       {L"My other bookmarks", L""},
        {L"Bookmarks menu items", L""},       {L" Bookmarks bar", L""},
        {L"toolbars", L""},                   {L"others", L""},
        {L"Menu", L""},                       {L"", L""},
        {L"Work", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(CanonicalRootKey(c.name), c.key) << ToUtf8(c.name);
    EXPECT_TRUE(IsMenuRootName(L"Bookmarks Menu"));
    EXPECT_TRUE(IsMenuRootName(L"MENU________"));
    EXPECT_FALSE(IsMenuRootName(L"Other bookmarks"));
    EXPECT_FALSE(IsMenuRootName(L"Menu"));
}

TEST(FolderPaths, ParseFolderPath) {
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
        std::vector<std::wstring> segments;
    };
    const Case cases[] = {
        {L"", L"bookmark_bar", {}},
        {L"Other bookmarks/Work/Docs", L"other", {L"Work", L"Docs"}},
        {L"Bookmarks Menu/X", L"other", {L"X"}},
        {L"Work/Docs", L"bookmark_bar", {L"Work", L"Docs"}},
        {L"Mobile bookmarks", L"synced", {}},
        {L"/Bookmarks bar//A/", L"bookmark_bar", {L"A"}},
        {L"Mobile apps (menu)/X", L"bookmark_bar", {L"Mobile apps (menu)", L"X"}},
        {L"OTHER BOOKMARKS/X", L"other", {L"X"}},
    };
    for (const Case& c : cases) {
        const ParsedFolderPath parsed = ParseFolderPath(c.path);
        EXPECT_EQ(parsed.root_key, c.root) << ToUtf8(c.path);
        EXPECT_EQ(parsed.segments, c.segments) << ToUtf8(c.path);
        // The count every store holds to the nesting bound is that of these segments.
        EXPECT_EQ(FoldersBelowRoot(c.path), c.segments.size()) << ToUtf8(c.path);
    }
}

}  // namespace
}  // namespace bm
