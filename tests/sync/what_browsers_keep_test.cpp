// What a sync writes into a browser is what that browser shows: a record whose URL the browser would
// refuse or drop is left out and counted by its reason, a record nested deeper than the browser loads
// goes into the deepest folder of its path that it does, and the log line says both.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/browser_urls.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "tests/sync/sync_fixture.h"

namespace bm::test {
namespace {

BookmarkRecord Rec(const std::wstring& url, const std::wstring& title, const std::wstring& folder) {
    return BookmarkRecord{0, 0, url, title, folder, 1700000000};
}

std::wstring Chain(const std::wstring& root, size_t folders) {
    std::wstring path = root;
    for (size_t i = 0; i < folders; ++i) path += L"/f";
    return path;
}

// Whether a browser keeps a URL: as the real browsers do, or, where the two parsers that judge it are
// still being matched to them, as the program's judgement says.
enum class Keeps { Yes, No, AsJudged };

struct UrlCase {
    const wchar_t* what;
    std::wstring url;
    Keeps firefox;
    Keeps chromium;
};

// The eleven URLs: six no browser's parser takes whole, five valid ones.
std::vector<UrlCase> ElevenUrls() {
    return {
        {L"a space in the host", L"https://exa mple.com/", Keeps::No, Keeps::AsJudged},
        {L"an unclosed IPv6 host", L"https://[::1/bad-ipv6", Keeps::No, Keeps::No},
        {L"no host", L"http://", Keeps::No, Keeps::No},
        {L"a port past 65535", L"http://example.com:99999/", Keeps::No, Keeps::No},
        {L"a bad escape in the host", L"http://%zz.example/", Keeps::No, Keeps::AsJudged},
        // In the host: both browsers escape a NUL in a path as %00 and keep the bookmark.
        {L"a NUL inside the host", std::wstring(L"https://nul") + L'\0' + L"host.example/", Keeps::No, Keeps::No},
        {L"plain", L"https://valid.example/page", Keeps::Yes, Keeps::Yes},
        {L"a browser page", L"edge://favorites/", Keeps::Yes, Keeps::Yes},
        {L"a port", L"http://example.com:8080/path?q=1", Keeps::Yes, Keeps::Yes},
        {L"a fragment", L"https://example.org/docs#part-2", Keeps::Yes, Keeps::Yes},
        {L"a file", L"file:///C:/notes/today.txt", Keeps::Yes, Keeps::Yes},
    };
}

bool Expected(Keeps keeps, bool judged) { return keeps == Keeps::AsJudged ? judged : keeps == Keeps::Yes; }

std::wstring LeftOutWords(int count, const std::wstring& browser) {
    return std::to_wstring(count) + L" left out (" + (count == 1 ? L"a URL " : L"URLs ") + browser + L" cannot open)";
}

class WhatBrowsersKeep : public SyncTree {
protected:
    DestinationResult Sync(const std::vector<BookmarkRecord>& records, BrowserKind kind, bool replace, bool backup) {
        lines.clear();
        return engine.SyncToBrowser(records, Browser(kind), replace, backup,
                                    [this](const std::wstring& line) { lines.push_back(line); });
    }
    std::vector<BookmarkRecord> Read(BrowserKind kind) {
        std::wstring error;
        std::vector<BookmarkRecord> records = kind == BrowserKind::Firefox ? ReadFirefoxBookmarks(firefoxPlaces, &error)
                                                                            : ReadChromiumBookmarks(chromeBookmarks, &error);
        EXPECT_EQ(error, L"");
        return records;
    }
    static bool Holds(const std::vector<BookmarkRecord>& records, const std::wstring& url) {
        for (const BookmarkRecord& r : records)
            if (r.url == url) return true;
        return false;
    }
};

// Each writer writes the URLs its browser keeps, and leaves out and counts the rest, in a merge and
// in a replace.
TEST_F(WhatBrowsersKeep, UrlsTheBrowserCannotOpenAreLeftOutCountedAndNamed) {
    const std::vector<UrlCase> cases = ElevenUrls();
    std::vector<BookmarkRecord> records;
    for (const UrlCase& c : cases) records.push_back(Rec(c.url, c.what, L"Bookmarks bar/Kinds"));

    for (const BrowserKind kind : {BrowserKind::Firefox, BrowserKind::Chrome}) {
        const bool firefox = kind == BrowserKind::Firefox;
        const std::wstring name = firefox ? L"Mozilla Firefox" : L"Google Chrome";
        for (const bool replace : {false, true}) {
            SCOPED_TRACE(ToUtf8(name) + (replace ? " replace" : " merge"));
            const size_t before = Read(kind).size();
            int kept = 0;
            const DestinationResult result = Sync(records, kind, replace, false);
            const std::vector<BookmarkRecord> after = Read(kind);
            for (const UrlCase& c : cases) {
                const bool keeps = firefox ? Expected(c.firefox, FirefoxKeepsUrl(c.url))
                                           : Expected(c.chromium, ChromiumKeepsUrl(c.url));
                EXPECT_EQ(Holds(after, c.url), keeps) << ToUtf8(c.what);
                kept += keeps ? 1 : 0;
            }
            const int leftOut = static_cast<int>(cases.size()) - kept;
            if (firefox) {
                EXPECT_EQ(leftOut, 6);  // exactly what Firefox's own insert refuses
            }
            EXPECT_TRUE(result.ok);
            EXPECT_EQ(result.added, kept);
            EXPECT_EQ(result.leftOut, leftOut);
            EXPECT_EQ(after.size(), (replace ? 0 : before) + static_cast<size_t>(kept));
            const std::wstring message = std::to_wstring(kept) + L" added, 0 duplicate(s) skipped, " +
                                         LeftOutWords(leftOut, name) + L".";
            EXPECT_EQ(result.message, message);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), L"[OK] " + name + L": " + message);
            // The same records again: what is there is a duplicate, what was left out is left out again.
            const DestinationResult again = Sync(records, kind, false, true);
            EXPECT_EQ(again.message, L"0 added, " + std::to_wstring(kept) + L" duplicate(s) skipped, " +
                                         LeftOutWords(leftOut, name) +
                                         L". Nothing to add: the file was left as it was and no backup was made.");
        }
    }
}

// A merge whose only new records are left out changes nothing and makes no backup.
TEST_F(WhatBrowsersKeep, AMergeOfNothingTheBrowserKeepsMakesNoBackup) {
    const std::vector<BookmarkRecord> records{Rec(L"http://", L"no host", L""), Rec(L"https://[::1/bad-ipv6", L"v6", L"")};
    for (const BrowserKind kind : {BrowserKind::Firefox, BrowserKind::Chrome}) {
        const bool firefox = kind == BrowserKind::Firefox;
        const std::wstring name = firefox ? L"Mozilla Firefox" : L"Google Chrome";
        const std::wstring path = firefox ? firefoxPlaces : chromeBookmarks;
        const std::string bytes = ReadTextFile(path);
        const DestinationResult result = Sync(records, kind, false, true);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.leftOut, 2);
        ExpectLines(lines, {L"[OK] " + name + L": 0 added, 0 duplicate(s) skipped, 2 left out (URLs " + name +
                            L" cannot open). Nothing to add: the file was left as it was and no backup was made."});
        EXPECT_EQ(ReadTextFile(path), bytes);
        EXPECT_TRUE(ListFileBackups(path).empty());
    }
}

// Reasons counted together are each named with their count.
TEST_F(WhatBrowsersKeep, EveryReasonIsNamedWithItsCount) {
    const std::vector<BookmarkRecord> records{
        Rec(L"https://long.example/" + std::wstring(kFirefoxMaxUrlLength, L'a'), L"long", L""),
        Rec(L"http://", L"no host", L""), Rec(L"http://example.com:99999/", L"port", L""),
        Rec(L"https://fine.example/", L"fine", L"")};
    const DestinationResult result = Sync(records, BrowserKind::Firefox, false, false);
    EXPECT_EQ(result.leftOut, 3);
    ExpectLines(lines, {L"[OK] Mozilla Firefox: 1 added, 0 duplicate(s) skipped, 3 left out (1: a URL longer than the "
                        L"65536 characters Firefox keeps; 2: URLs Mozilla Firefox cannot open)."});
}

// Depth is counted in folders below the root. Chromium loads no bookmark at all of a file one level
// too deep, so what it is given lies at most kChromiumDeepestFolderNesting folders deep; Firefox gets
// what the program reads back.
TEST_F(WhatBrowsersKeep, RecordsDeeperThanTheBrowserHoldsGoIntoTheirDeepestFolderItDoes) {
    struct Case {
        BrowserKind kind;
        size_t folders;  // of the record's path
        size_t keptAt;   // where it lands
    };
    const Case cases[] = {
        {BrowserKind::Chrome, 96, 96},   {BrowserKind::Chrome, 97, 96},    {BrowserKind::Chrome, 98, 96},
        {BrowserKind::Chrome, 1000, 96}, {BrowserKind::Chrome, 1001, 96},  {BrowserKind::Firefox, 98, 98},
        {BrowserKind::Firefox, 1000, 1000}, {BrowserKind::Firefox, 1001, 1000},
    };
    for (const Case& c : cases) {
        const bool firefox = c.kind == BrowserKind::Firefox;
        const std::wstring name = firefox ? L"Mozilla Firefox" : L"Google Chrome";
        const std::wstring root = firefox ? L"Bookmarks Toolbar" : L"Bookmarks bar";
        SCOPED_TRACE(ToUtf8(name) + " " + std::to_string(c.folders));
        const std::wstring tag = std::to_wstring(c.folders) + (firefox ? L"f" : L"c");
        const std::wstring url = L"https://deep" + tag + L".example/";
        const DestinationResult result = Sync(
            {Rec(url, L"Deep", Chain(root, c.folders)), Rec(L"https://shallow" + tag + L".example/", L"S", L"")}, c.kind,
            false, false);
        ASSERT_TRUE(result.ok) << ToUtf8(result.message);
        EXPECT_EQ(result.added, 2);
        EXPECT_EQ(result.leftOut, 0);
        const bool moved = c.keptAt < c.folders;
        EXPECT_EQ(result.keptShallower, moved ? 1 : 0);
        std::vector<std::wstring> expected;
        std::wstring message = L"2 added, 0 duplicate(s) skipped";
        if (moved) {
            expected.push_back(name + L": 'Deep' (" + url + L") lies " + std::to_wstring(c.folders) +
                               L" folders deep; it was put in the deepest folder of its path kept there: '" +
                               Chain(root, c.keptAt) + L"'.");
            message += firefox ? L", 1 kept in a shallower folder (nested deeper than the 1000 folders any browser writes)"
                               : L", 1 kept in a shallower folder (nested deeper than the 96 folders Google Chrome loads)";
        }
        expected.push_back(L"[OK] " + name + L": " + message + L".");
        ExpectLines(lines, expected);

        bool found = false;
        for (const BookmarkRecord& r : Read(c.kind)) {
            if (r.url != url) continue;
            found = true;
            EXPECT_EQ(r.folder_path, Chain(root, c.keptAt));
        }
        EXPECT_TRUE(found);
        if (!firefox) {
            // Chromium's JSON reader takes at most 200 levels of nesting.
            const std::string text = ReadTextFile(chromeBookmarks);
            EXPECT_NO_THROW(ParseJsonDocument(text, 200));
        }
    }
}

// The depth check above can fail: a Chromium file one folder deeper than the bound is nested as deep
// as Chromium's reader takes, and two deeper it takes none of it.
TEST(ChromiumNesting, TheBoundIsWhereChromiumsReaderStops) {
    auto file = [](size_t folders) {
        std::string text = R"({"roots":{"bookmark_bar":{"type":"folder","children":[)";
        for (size_t i = 0; i < folders; ++i) text += R"({"type":"folder","name":"f","children":[)";
        text += R"({"type":"url","url":"https://deep.example/","name":"Deep"})";
        for (size_t i = 0; i < folders; ++i) text += "]}";
        return text + "]}}}";
    };
    EXPECT_NO_THROW(ParseJsonDocument(file(kChromiumDeepestFolderNesting), 200));
    EXPECT_THROW(ParseJsonDocument(file(kChromiumDeepestFolderNesting + 2), 200), JsonNestingTooDeep);
}

// A write into Firefox that the writer would refuse is refused before the backup, in either mode, so
// that no older backup is pushed out of those kept for a write that does not happen.
TEST_F(WhatBrowsersKeep, AFirefoxWriteTheWriterWouldRefuseMakesNoBackup) {
    const std::string bytes = ReadTextFile(firefoxPlaces);
    for (const bool replace : {false, true}) {
        const DestinationResult result =
            Sync({Rec(L"https://a.example/", L"A", L"Bookmarks Menu/" + std::wstring(70000, L'n'))}, BrowserKind::Firefox,
                 replace, true);
        EXPECT_FALSE(result.ok);
        ExpectLines(lines, {L"[ERROR] Mozilla Firefox: Write failed: A bookmark's folder path is longer than 65536 "
                            L"characters, more than any browser keeps; places.sqlite was not changed."});
        EXPECT_TRUE(ListFileBackups(firefoxPlaces).empty());
        EXPECT_EQ(ReadTextFile(firefoxPlaces), bytes);
    }
}

// A Bookmarks file changed by another program after the write was planned (here: while the backup
// is logged) is not written over: the write is planned and backed up again from what it holds now.
TEST_F(WhatBrowsersKeep, AChromiumFileChangedBeforeTheCommitIsPlannedAgain) {
    const std::string changed = std::string(kChromeBookmarks).replace(std::string(kChromeBookmarks).find("Gamma"), 5, "Delta");
    int changes = 0;
    lines.clear();
    const DestinationResult result = engine.SyncToBrowser(
        {Rec(L"https://new.example/", L"New", L"")}, Browser(BrowserKind::Chrome), false, true,
        [&](const std::wstring& line) {
            lines.push_back(line);
            if (line.rfind(L"Backup created: ", 0) == 0 && changes++ == 0) WriteTextFile(chromeBookmarks, changed);
        });
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.added, 1);
    ExpectLines(lines, {L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak",
                        L"Google Chrome: its bookmarks file changed while this write was prepared; planning it again.",
                        L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak",
                        L"[OK] Google Chrome: 1 added, 0 duplicate(s) skipped."});
    const std::vector<std::string> after = Describe(Read(BrowserKind::Chrome));
    EXPECT_EQ(after, (std::vector<std::string>{"https://alpha.example/ | Alpha | Bookmarks bar",
                                               "https://beta.example/docs | Beta | Bookmarks bar/Dev",
                                               "https://gamma.example/ | Delta | Other bookmarks",
                                               "https://new.example/ | New | Bookmarks bar"}));
}

}  // namespace
}  // namespace bm::test
