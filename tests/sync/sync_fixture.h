#pragma once
// A small user tree for sync tests: a Chrome profile with a Bookmarks file, an Edge profile that has
// no Bookmarks file yet, a Firefox profile (profiles.ini + places.sqlite), the other browsers absent,
// and an app_data.db with saved profiles. The browser list comes from the real detection over it.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sync/sync_engine.h"
#include "core/bookmark_record.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "database/app_database.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm::test {

// Chrome: two bookmarks in the bar (one in a folder), one in "Other bookmarks".
inline const char* kChromeBookmarks = R"({
  "checksum": "",
  "roots": {
    "bookmark_bar": {"children": [
        {"date_added": "13300000000000000", "id": "2", "name": "Alpha", "type": "url", "url": "https://alpha.example/"},
        {"children": [
            {"date_added": "13300000000000000", "id": "4", "name": "Beta", "type": "url", "url": "https://beta.example/docs"}
          ], "date_added": "13300000000000000", "date_modified": "0", "id": "3", "name": "Dev", "type": "folder"}
      ], "date_added": "13300000000000000", "date_modified": "0", "id": "1", "name": "Bookmarks bar", "type": "folder"},
    "other": {"children": [
        {"date_added": "13300000000000000", "id": "6", "name": "Gamma", "type": "url", "url": "https://gamma.example/"}
      ], "date_added": "13300000000000000", "date_modified": "0", "id": "5", "name": "Other bookmarks", "type": "folder"},
    "synced": {"children": [], "date_added": "13300000000000000", "date_modified": "0", "id": "7", "name": "Mobile bookmarks", "type": "folder"}
  },
  "version": 1
})";

inline int32_t KindValue(BrowserKind kind) { return static_cast<int32_t>(kind); }

// "url | title | folder_path" lines, sorted, for comparing stores whatever order they return.
inline std::vector<std::string> Describe(const std::vector<BookmarkRecord>& records) {
    std::vector<std::string> lines;
    for (const BookmarkRecord& r : records) lines.push_back(ToUtf8(r.url + L" | " + r.title + L" | " + r.folder_path));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Matches log lines against expectations in which "{stamp}" stands for a backup time stamp
// (YYYYMMDD_HHMMSS).
inline bool LineMatches(const std::wstring& line, const std::wstring& pattern) {
    const std::wstring marker = L"{stamp}";
    const size_t at = pattern.find(marker);
    if (at == std::wstring::npos) return line == pattern;
    const std::wstring head = pattern.substr(0, at), tail = pattern.substr(at + marker.size());
    if (line.size() != head.size() + 15 + tail.size()) return false;
    if (line.compare(0, head.size(), head) != 0 || line.compare(head.size() + 15, tail.size(), tail) != 0)
        return false;
    for (size_t i = 0; i < 15; ++i) {
        const wchar_t c = line[head.size() + i];
        if (i == 8 ? c != L'_' : (c < L'0' || c > L'9')) return false;
    }
    return true;
}

inline void ExpectLines(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& expected) {
    std::string shown;
    for (const std::wstring& line : lines) shown += "  " + ToUtf8(line) + "\n";
    ASSERT_EQ(lines.size(), expected.size()) << shown;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(LineMatches(lines[i], expected[i])) << "line " << i << ": " << ToUtf8(lines[i])
                                                        << "\nexpected: " << ToUtf8(expected[i]);
}

class SyncTree : public ::testing::Test {
protected:
    void SetUp() override {
        local = dir / L"Local";
        roaming = dir / L"Roaming";
        chromeBookmarks = local + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks";
        WriteTextFile(local + L"\\Google\\Chrome\\User Data\\Default\\Preferences", "{}");
        WriteTextFile(chromeBookmarks, kChromeBookmarks);
        edgeBookmarks = local + L"\\Microsoft\\Edge\\User Data\\Default\\Bookmarks";
        WriteTextFile(local + L"\\Microsoft\\Edge\\User Data\\Default\\Preferences", "{}");

        const std::wstring firefoxRoot = roaming + L"\\Mozilla\\Firefox";
        WriteTextFile(firefoxRoot + L"\\profiles.ini",
                      "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/abcd.default\r\nDefault=1\r\n");
        MakeDirs(firefoxRoot + L"\\Profiles\\abcd.default");
        firefoxPlaces = firefoxRoot + L"\\Profiles\\abcd.default\\places.sqlite";
        CreateFirefoxPlaces(firefoxPlaces);
        {
            FirefoxPlaces places(firefoxPlaces);
            const int64_t news = places.AddFolder(kPlacesMenuId, "News");
            places.AddBookmark(news, "https://news.example/", "News site");
            places.AddBookmark(kPlacesToolbarId, "https://ALPHA.example", "Alpha again");
            places.AddBookmark(kPlacesToolbarId, "https://fox.example/", "Fox");
            places.AddVisitedPlace("https://gamma.example", "Only visited");
        }

        browsers = DetectBrowsersIn(local, roaming);
        ASSERT_EQ(browsers.size(), 7u);
        ASSERT_TRUE(db.Open(dir / L"app_data.db"));
        work = db.CreateProfile(L"Work");
        empty = db.CreateProfile(L"Empty");
        BookmarkRecord saved;
        saved.url = L"https://saved.example/";
        saved.title = L"Saved";
        saved.folder_path = L"Bookmarks bar/Kept";
        saved.date_added = 1700000000;
        BookmarkRecord alpha;
        alpha.url = L"https://alpha.example";
        alpha.title = L"Alpha in profile";
        alpha.folder_path = L"Bookmarks bar";
        alpha.date_added = 1700000001;
        db.AddBookmarks(work, {saved, alpha});
    }

    const BrowserInfo& Browser(BrowserKind kind) const {
        for (const BrowserInfo& b : browsers)
            if (b.kind == kind) return b;
        throw std::runtime_error("no such browser");
    }

    SyncRequest FromBrowser(BrowserKind kind) const {
        SyncRequest request;
        request.sourceType = 0;
        request.sourceBrowserKind = KindValue(kind);
        request.sourceName = BrowserDisplayName(kind);
        return request;
    }
    SyncRequest FromProfile(int64_t id, const std::wstring& name) const {
        SyncRequest request;
        request.sourceType = 1;
        request.sourceProfileId = id;
        request.sourceName = name;
        return request;
    }
    static SyncRequest ToBrowser(SyncRequest request, BrowserKind kind, int writeMode) {
        request.destMode = 0;
        request.destBrowserKind = KindValue(kind);
        request.writeMode = writeMode;
        return request;
    }
    static SyncRequest ToAll(SyncRequest request, int writeMode) {
        request.destMode = 1;
        request.writeMode = writeMode;
        return request;
    }
    static SyncRequest ToProfile(SyncRequest request, int64_t id, int writeMode) {
        request.destMode = 2;
        request.destProfileId = id;
        request.writeMode = writeMode;
        return request;
    }

    SyncResult Run(const SyncRequest& request) {
        lines.clear();
        return engine.RunSync(request, browsers, db, [this](const std::wstring& line) { lines.push_back(line); });
    }

    std::vector<std::string> Chromium(const std::wstring& path) {
        std::wstring error;
        auto records = ReadChromiumBookmarks(path, &error);
        EXPECT_EQ(error, L"");
        return Describe(records);
    }
    std::vector<std::string> Firefox() {
        std::wstring error;
        auto records = ReadFirefoxBookmarks(firefoxPlaces, &error);
        EXPECT_EQ(error, L"");
        return Describe(records);
    }
    std::vector<std::string> Profile(int64_t id) { return Describe(db.GetBookmarks(id)); }
    std::vector<SnapshotInfo> Snapshots(int64_t id) { return db.ListSnapshots(id); }

    TempDir dir;
    std::wstring local, roaming, chromeBookmarks, edgeBookmarks, firefoxPlaces;
    std::vector<BrowserInfo> browsers;
    AppDatabase db;
    int64_t work = 0, empty = 0;
    SyncEngine engine;
    std::vector<std::wstring> lines;
};

}  // namespace bm::test
