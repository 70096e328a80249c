// Round trips of small bookmark sets through every store the program writes: each folder must come
// back with its bookmarks and sub-folders in their order, every title byte for byte and every date.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/portable_export.h"
#include "tests/sync/sync_fixture.h"

namespace bm::test {
namespace {

// Root of a fixture bookmark, spelled by each store in its own way.
enum class Root { Bar, Menu, Other };

struct Bookmark {
    Root root;
    std::vector<std::wstring> folders;
    std::wstring title;
    std::wstring url;
    int64_t date;
};

struct Fixture {
    const char* name;
    std::vector<Bookmark> bookmarks;
    bool firefoxCanHoldIt = true;  // no URL Firefox refuses: it can be a Firefox source
};

constexpr size_t kFirefoxUrlMax = 65536;

std::wstring LongUrl() {
    const std::wstring head = L"https://long.example/";
    return head + std::wstring(kFirefoxUrlMax + 1 - head.size(), L'x');
}

std::vector<std::wstring> Chain(size_t levels) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < levels; ++i) names.push_back(L"F" + std::to_wstring(i));
    return names;
}

std::vector<Fixture> Fixtures() {
    using namespace std::string_literals;
    return {
        {"BarOrder",
         {{Root::Bar, {}, L"Zeta", L"https://zeta.example/", 1500000300},
          {Root::Bar, {}, L"alpha", L"https://alpha.example/", 1500000100},
          {Root::Bar, {L"Work"}, L"Yak", L"https://yak.example/", 1500000500},
          {Root::Bar, {L"Work"}, L"Bee", L"https://bee.example/", 1500000200},
          {Root::Bar, {}, L"Mango", L"https://mango.example/", 1500000400}}},
        {"NulInTitle",
         {{Root::Bar, {}, L"Be\0fore"s, L"https://nul.example/", 1500000000},
          {Root::Bar, {}, L"After", L"https://after.example/", 1500000001}}},
        {"SeventyFoldersUnderTheMenu",
         {{Root::Menu, Chain(70), L"Deep", L"https://deep.example/", 1500000000},
          {Root::Menu, {}, L"Shallow", L"https://shallow.example/", 1500000001}}},
        {"UrlOver65536Characters",
         {{Root::Bar, {}, L"Before", L"https://before.example/", 1500000000},
          {Root::Bar, {}, L"Long", LongUrl(), 1500000001},
          {Root::Bar, {}, L"After", L"https://after.example/", 1500000002}},
         false},
        {"FolderAndBookmarkDates",
         {{Root::Bar, {L"Old"}, L"Second", L"https://second.example/", 1000000000},
          {Root::Bar, {L"Old"}, L"First", L"https://first.example/", 900000000},
          {Root::Other, {L"New", L"Inner"}, L"Late", L"https://late.example/", 1700000000},
          {Root::Other, {L"New"}, L"Later", L"https://later.example/", 1750000000}}},
    };
}

// Root folder names as each store's reader gives them.
struct RootNames {
    std::wstring bar, menu, other;
    const std::wstring& operator()(Root root) const {
        return root == Root::Bar ? bar : root == Root::Menu ? menu : other;
    }
};
const RootNames kChromiumNames{L"Bookmarks bar", L"Other bookmarks", L"Other bookmarks"};
const RootNames kFirefoxNames{L"Bookmarks Toolbar", L"Bookmarks Menu", L"Other Bookmarks"};
// Firefox's menu has no place of its own in Chromium-family files: it comes back as "Other Bookmarks".
const RootNames kFirefoxAfterChromium{L"Bookmarks Toolbar", L"Other Bookmarks", L"Other Bookmarks"};

std::vector<BookmarkRecord> Records(const std::vector<Bookmark>& bookmarks, const RootNames& names) {
    std::vector<BookmarkRecord> records;
    for (const Bookmark& b : bookmarks) {
        BookmarkRecord r;
        std::vector<std::wstring> segments{names(b.root)};
        segments.insert(segments.end(), b.folders.begin(), b.folders.end());
        r.folder_path = JoinPath(segments);
        r.title = b.title;
        r.url = b.url;
        r.date_added = b.date;
        records.push_back(r);
    }
    return records;
}

// Each folder (by path) with its entries in order: "folder <name>" where a sub-folder first holds
// something, "<title> | <url> | <date>" for a bookmark. Titles and names are kept byte for byte.
using Layout = std::map<std::wstring, std::vector<std::wstring>>;

Layout LayoutOf(const std::vector<BookmarkRecord>& records) {
    Layout layout;
    std::set<std::wstring> known;
    for (const BookmarkRecord& r : records) {
        const std::vector<std::wstring> segments = SplitPath(r.folder_path);
        std::wstring path = segments.empty() ? L"" : segments[0];
        for (size_t i = 1; i < segments.size(); ++i) {
            const std::wstring inner = path + L'/' + segments[i];
            if (known.insert(inner).second) layout[path].push_back(L"folder " + segments[i]);
            path = inner;
        }
        // Long URLs are shown by their start, length and hash, so that a failure stays readable.
        const std::wstring url = r.url.size() <= 200 ? r.url
                                                     : r.url.substr(0, 60) + L"... (" + std::to_wstring(r.url.size()) +
                                                           L" chars, hash " +
                                                           std::to_wstring(std::hash<std::wstring>{}(r.url)) + L")";
        layout[path].push_back(r.title + L" | " + url + L" | " + std::to_wstring(r.date_added));
    }
    return layout;
}

// The Bookmarks file Chromium would hold for the fixture.
std::string ChromiumFile(const std::vector<Bookmark>& bookmarks) {
    using nlohmann::json;
    int id = 10;
    auto folder = [&id](const std::string& name) {
        return json{{"children", json::array()}, {"date_added", "13300000000000000"}, {"date_modified", "0"},
                    {"id", std::to_string(++id)}, {"name", name}, {"type", "folder"}};
    };
    json roots{{"bookmark_bar", folder("Bookmarks bar")}, {"other", folder("Other bookmarks")},
               {"synced", folder("Mobile bookmarks")}};
    for (const Bookmark& b : bookmarks) {
        json* node = &roots[b.root == Root::Bar ? "bookmark_bar" : "other"];
        for (const std::wstring& name : b.folders) {
            json* found = nullptr;
            for (json& child : (*node)["children"])
                if (child["type"] == "folder" && child["name"] == ToUtf8(name)) found = &child;
            if (!found) {
                (*node)["children"].push_back(folder(ToUtf8(name)));
                found = &(*node)["children"].back();
            }
            node = found;
        }
        const int64_t stamp = (b.date + kChromeEpochOffsetSeconds) * 1000000;
        (*node)["children"].push_back({{"date_added", std::to_string(stamp)}, {"id", std::to_string(++id)},
                                       {"name", ToUtf8(b.title)}, {"type", "url"}, {"url", ToUtf8(b.url)}});
    }
    return json{{"checksum", ""}, {"roots", roots}, {"version", 1}}.dump(3);
}

// A new places.sqlite holding the fixture as Firefox would.
void FirefoxFile(const std::wstring& path, const std::vector<Bookmark>& bookmarks) {
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm"}) DeleteFileW((path + suffix).c_str());
    CreateFirefoxPlaces(path);
    FirefoxPlaces places(path);
    std::map<std::wstring, int64_t> folders;
    for (const Bookmark& b : bookmarks) {
        int64_t parent = b.root == Root::Bar ? kPlacesToolbarId : b.root == Root::Menu ? kPlacesMenuId : kPlacesUnfiledId;
        std::wstring path = std::to_wstring(parent);
        for (const std::wstring& name : b.folders) {
            path += L'/' + name;
            auto found = folders.find(path);
            if (found == folders.end()) found = folders.emplace(path, places.AddFolder(parent, ToUtf8(name))).first;
            parent = found->second;
        }
        const int64_t id = places.AddBookmark(parent, ToUtf8(b.url), ToUtf8(b.title));
        places.Exec("UPDATE moz_bookmarks SET dateAdded = " + std::to_string(b.date * 1000000) +
                    " WHERE id = " + std::to_string(id));
    }
}

// What the trip should bring back: the fixture in the destination's root names; a NUL in a title
// when the path goes through HTML, which cannot hold one, is left out; URLs Firefox refuses are left
// out of Firefox.
struct Trip {
    const char* name;
    RootNames expectedNames;
    bool throughHtml;
    bool intoFirefox;
    bool fromFirefox;
};

const Trip kTrips[] = {
    {"ChromiumThroughProfileToChromium", kChromiumNames, false, false, false},
    {"FirefoxThroughProfileToFirefox", kFirefoxNames, false, true, true},
    {"JsonExportImport", kFirefoxNames, false, false, false},
    {"HtmlExportImport", kFirefoxNames, true, false, false},
    {"FirefoxToChromiumToFirefox", kFirefoxAfterChromium, false, true, true},
    {"ChromiumToFirefox", kFirefoxAfterChromium, false, true, false},
};

struct Case {
    Fixture fixture;
    Trip trip;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.fixture.name << " through " << c.trip.name; }

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Trip& trip : kTrips)
        for (const Fixture& fixture : Fixtures())
            if (fixture.firefoxCanHoldIt || !trip.fromFirefox) cases.push_back({fixture, trip});
    return cases;
}

std::vector<BookmarkRecord> Expected(const Case& c, size_t* leftOut) {
    std::vector<BookmarkRecord> records = Records(c.fixture.bookmarks, c.trip.expectedNames);
    if (c.trip.throughHtml)
        for (BookmarkRecord& r : records) r.title.erase(std::remove(r.title.begin(), r.title.end(), L'\0'), r.title.end());
    const auto refused = [&c](const BookmarkRecord& r) { return c.trip.intoFirefox && r.url.size() > kFirefoxUrlMax; };
    *leftOut = static_cast<size_t>(std::count_if(records.begin(), records.end(), refused));
    records.erase(std::remove_if(records.begin(), records.end(), refused), records.end());
    return records;
}

// Each <H3> of an exported HTML file with its ADD_DATE (-1 for none) and the earliest ADD_DATE of a
// link below it.
struct HtmlFolderDate {
    std::string name;
    int64_t written = -1;
    int64_t earliest = INT64_MAX;
};

// The number in ADD_DATE="..." inside `tag`, or -1.
int64_t AddDate(const std::string& tag) {
    const size_t at = tag.find("ADD_DATE=\"");
    if (at == std::string::npos) return -1;
    return std::stoll(tag.substr(at + 10, tag.find('"', at + 10) - at - 10));
}

std::vector<HtmlFolderDate> FolderDatesOf(const std::string& html) {
    std::vector<HtmlFolderDate> done, open;
    HtmlFolderDate pending;
    bool headingPending = false;
    size_t start = 0;
    while (start < html.size()) {
        size_t end = html.find('\n', start);
        if (end == std::string::npos) end = html.size();
        const std::string line = html.substr(start, end - start);
        start = end + 1;
        const size_t heading = line.find("<H3");
        const size_t link = line.find("<A ");
        if (heading != std::string::npos) {
            const size_t close = line.find('>', heading);
            pending.written = AddDate(line.substr(heading, close - heading));
            pending.name = line.substr(close + 1, line.find("</H3>") - close - 1);
            headingPending = true;
        } else if (link != std::string::npos) {
            const int64_t date = AddDate(line.substr(link, line.find('>', link) - link));
            for (HtmlFolderDate& f : open) f.earliest = std::min(f.earliest, date);
        } else if (line.find("</DL>") != std::string::npos) {
            if (!open.empty()) {
                done.push_back(open.back());
                open.pop_back();
            }
        } else if (line.find("<DL>") != std::string::npos && headingPending) {
            open.push_back(pending);
            headingPending = false;
        }
    }
    return done;
}

class RoundTrip : public SyncTree, public ::testing::WithParamInterface<Case> {
protected:
    void ExpectOk(const SyncResult& result) {
        ASSERT_TRUE(result.ok) << ToUtf8(result.error);
        ASSERT_EQ(result.destinations.size(), 1u);
        ASSERT_TRUE(result.destinations[0].ok) << ToUtf8(result.destinations[0].message);
    }
    std::vector<BookmarkRecord> Read(BrowserKind kind) {
        std::wstring error;
        std::vector<BookmarkRecord> records = kind == BrowserKind::Firefox ? ReadFirefoxBookmarks(firefoxPlaces, &error)
                                              : kind == BrowserKind::Edge  ? ReadChromiumBookmarks(edgeBookmarks, &error)
                                                                           : ReadChromiumBookmarks(chromeBookmarks, &error);
        EXPECT_EQ(error, L"");
        return records;
    }
    std::vector<BookmarkRecord> Portable(const std::vector<BookmarkRecord>& records, const std::wstring& file) {
        std::wstring error;
        EXPECT_TRUE(ExportBookmarks(records, dir / file, &error)) << ToUtf8(error);
        std::vector<BookmarkRecord> back = ImportBookmarks(dir / file, &error);
        EXPECT_EQ(error, L"");
        return back;
    }
};

TEST_P(RoundTrip, KeepsEachFolderOrderEveryTitleByteAndEveryDate) {
    const Case& c = GetParam();
    const std::string trip = c.trip.name;
    std::vector<BookmarkRecord> back;
    DestinationResult last;
    if (trip == "ChromiumThroughProfileToChromium") {
        WriteTextFile(chromeBookmarks, ChromiumFile(c.fixture.bookmarks));
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToProfile(FromBrowser(BrowserKind::Chrome), empty, 1))));
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToBrowser(FromProfile(empty, L"Empty"), BrowserKind::Edge, 1))));
        back = Read(BrowserKind::Edge);
    } else if (trip == "FirefoxThroughProfileToFirefox") {
        FirefoxFile(firefoxPlaces, c.fixture.bookmarks);
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToProfile(FromBrowser(BrowserKind::Firefox), empty, 1))));
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToBrowser(FromProfile(empty, L"Empty"), BrowserKind::Firefox, 1))));
        back = Read(BrowserKind::Firefox);
    } else if (trip == "JsonExportImport") {
        back = Portable(Records(c.fixture.bookmarks, kFirefoxNames), L"export.json");
    } else if (trip == "HtmlExportImport") {
        const std::vector<BookmarkRecord> records = Records(c.fixture.bookmarks, kFirefoxNames);
        back = Portable(records, L"export.html");
        std::string html;
        ASSERT_TRUE(ReadFileBytes(dir / L"export.html", html));
        EXPECT_EQ(html.find('\0'), std::string::npos) << "a NUL written into the HTML file";
        // Each folder is dated by the earliest bookmark it holds.
        std::string misdated;
        for (const HtmlFolderDate& folder : FolderDatesOf(html))
            if (folder.written != folder.earliest)
                misdated += " " + folder.name + " (" + std::to_string(folder.written) + ", expected " +
                            std::to_string(folder.earliest) + ")";
        EXPECT_EQ(misdated, "") << "folders whose ADD_DATE is not the earliest date they hold";
    } else if (trip == "FirefoxToChromiumToFirefox") {
        FirefoxFile(firefoxPlaces, c.fixture.bookmarks);
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, 1))));
        ASSERT_NO_FATAL_FAILURE(ExpectOk(Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Firefox, 1))));
        back = Read(BrowserKind::Firefox);
    } else {
        WriteTextFile(chromeBookmarks, ChromiumFile(c.fixture.bookmarks));
        const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Firefox, 1));
        ASSERT_NO_FATAL_FAILURE(ExpectOk(result));
        last = result.destinations[0];
        back = Read(BrowserKind::Firefox);
    }

    size_t leftOut = 0;
    const std::vector<BookmarkRecord> expected = Expected(c, &leftOut);
    EXPECT_EQ(LayoutOf(back), LayoutOf(expected));
    if (trip == "ChromiumToFirefox") {
        // A URL Firefox refuses is not written, and counted as left out, apart from the duplicates.
        EXPECT_EQ(last.added, static_cast<int32_t>(expected.size()));
        EXPECT_EQ(last.duplicatesSkipped, 0);
        EXPECT_EQ(last.leftOut, static_cast<int32_t>(leftOut));
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.fixture.name) + "_" + info.param.trip.name;
                         });

}  // namespace
}  // namespace bm::test
