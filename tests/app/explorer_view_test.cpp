// The explorer's search over its prepared texts, against the plain definition: a row is shown when
// the ASCII-lowered search text occurs in its ASCII-lowered title, url or folder. Typed one letter
// at a time (each search narrowing the last result), erased, replaced and cleared. A saved profile
// read straight from its database file gives the same view as its records do.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/panels/explorer_view.h"
#include "database/app_database.h"
#include "tests/support/temp_dir.h"

namespace bm::ui {
namespace {

BookmarkRecord Row(const std::wstring& title, const std::wstring& url, const std::wstring& folder) {
    BookmarkRecord record;
    record.title = title;
    record.url = url;
    record.folder_path = folder;
    return record;
}

std::vector<int32_t> Reference(const std::vector<BookmarkRecord>& rows, const std::string& needle) {
    std::vector<int32_t> shown;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string fields[3] = {LowerAscii(ToUtf8(rows[i].title)), LowerAscii(ToUtf8(rows[i].url)),
                                       LowerAscii(ToUtf8(rows[i].folder_path))};
        for (const std::string& field : fields) {
            if (field.find(needle) != std::string::npos) {
                shown.push_back(static_cast<int32_t>(i));
                break;
            }
        }
    }
    return shown;
}

const std::vector<BookmarkRecord> kRows = {
    Row(L"News", L"https://news.example/a", L"Bookmarks bar/Daily"),
    Row(L"", L"https://untitled.example", L""),
    Row(L"\u00c9cole", L"https://ecole.example", L"Reading"),
    Row(L"\u00e9cole NEWS", L"https://x.example", L"Other"),
    Row(L"xa", L"by.example", L"cz"),  // "ab" and "yc" span two fields: no match
    Row(L"NEWSLETTER", L"https://letters.example/NEWS", L"Bookmarks bar"),
    Row(L"\u65e5\u672c", L"https://jp.example", L"\u30d5\u30a9\u30eb\u30c0"),
    Row(L"Daily news", L"https://daily.example", L"Bookmarks bar/Daily"),
};

TEST(ExplorerViewTest, EverySearchShowsExactlyTheRowsThatContainIt) {
    ExplorerView view;
    view.Load(kRows);
    ASSERT_EQ(view.size(), kRows.size());
    const std::vector<std::string> typed = {
        "", "n", "ne", "new", "news", "newsl", "news", "ne", "",   // typed, then erased
        "e", "ex", "exa", "example", "xample", "ample/",            // narrowing and not
        "ab", "yc", "a", "by.e",                                    // never across two fields
        "\xc3\x89", "\xc3\xa9" "cole", "\xc3\x89" "COLE",           // outside ASCII: no folding
        "\xe6\x97\xa5", "\xe3\x83\x95\xe3\x82\xa9", "daily", "bookmarks bar/", "zzz", "zzzz", "",
    };
    for (const std::string& text : typed) {
        SCOPED_TRACE("search \"" + text + "\"");
        const std::string needle = LowerAscii(text);
        view.Filter(needle);
        EXPECT_EQ(view.shown, Reference(kRows, needle));
    }
}

TEST(ExplorerViewTest, TextsAreShownAsLoadedAndAReloadForgetsTheLastSearch) {
    ExplorerView view;
    view.Load(kRows);
    EXPECT_STREQ(view.Title(2), "\xc3\x89" "cole");
    EXPECT_STREQ(view.Url(5), "https://letters.example/NEWS");
    EXPECT_STREQ(view.Folder(6), "\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80");
    EXPECT_STREQ(view.Title(1), "");
    EXPECT_STREQ(view.Folder(1), "");

    view.Filter("news");
    ASSERT_EQ(view.shown, Reference(kRows, "news"));
    // New rows under the same search: the result is made again, not narrowed from the old rows.
    const std::vector<BookmarkRecord> other = {Row(L"Weather", L"https://w.example", L""),
                                               Row(L"More news", L"https://m.example", L"")};
    view.Load(other);
    view.Filter("news");
    EXPECT_EQ(view.shown, Reference(other, "news"));
    view.Filter("newsy");
    EXPECT_TRUE(view.shown.empty());
}

TEST(ExplorerViewTest, AProfileReadStraightFromTheDatabaseGivesTheViewOfItsRecords) {
    test::TempDir dir;
    const std::wstring file = dir / L"app_data.db";
    AppDatabase db;
    ASSERT_TRUE(db.Open(file));
    const int64_t profile = db.CreateProfile(L"Mixed");
    const int64_t other = db.CreateProfile(L"Other");
    std::wstring longTitle;
    for (int i = 0; i < 3000; ++i) longTitle += L"Long \u00fcber \U0001F516 ";
    std::vector<BookmarkRecord> records = {
        Row(L"\u0413\u043b\u0430\u0432\u043d\u0430\u044f", L"https://ru.example/\u043f", L"Bookmarks bar/\u0417\u0430\u043a\u043b\u0430\u0434\u043a\u0438"),
        Row(L"", L"https://untitled.example", L""),
        Row(L"", L"https://untitled2.example", L"Bookmarks bar"),
        Row(L"\u65e5\u672c\u8a9e\u306e\u8a18\u4e8b", L"https://jp.example", L"Other bookmarks/\u66f8\u7c64"),
        Row(longTitle, L"https://long.example/" + std::wstring(5000, L'q'), L"Bookmarks bar/" + longTitle),
        Row(L"Same", L"https://same1.example", L"Twice"),  // equal folder and title: the engine's order
        Row(L"Same", L"https://same2.example", L"Twice"),
        Row(L"Caf\u00e9 NEWS", L"https://cafe.example", L"Bookmarks bar"),
        Row(L"\U0001F600 emoji", L"https://emoji.example", L"\U0001F4C1"),
    };
    ASSERT_EQ(db.AddBookmarks(profile, records), static_cast<int>(records.size()));
    ASSERT_EQ(db.AddBookmarks(other, {Row(L"Elsewhere", L"https://elsewhere.example", L"")}), 1);

    // Texts no record writer would store: malformed UTF-8 (a cut sequence, an overlong form, a
    // surrogate, beyond U+10FFFF), a NUL inside a title, and numbers where texts belong.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open16(file.c_str(), &raw), SQLITE_OK);
    const std::string insert =
        "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(" + std::to_string(profile) + ", ";
    const char* rows[] = {
        "'https://cut.example', CAST(X'4361C3' AS TEXT), CAST(X'C3' AS TEXT), 1)",
        "'https://overlong.example', CAST(X'C0AF78' AS TEXT), 'Bookmarks bar', 1)",
        "CAST(X'68747470733A2F2F7375722EEDA0806578' AS TEXT), 'Surrogate', 'Other', 1)",
        "'https://big.example', CAST(X'F4908080' AS TEXT), CAST(X'E282' AS TEXT), 1)",
        "'https://nul.example', CAST(X'6100620063' AS TEXT), 'Bookmarks bar', 1)",
        "'https://number.example', 42, 7.5, 1)",
    };
    for (const char* row : rows) {
        SCOPED_TRACE(row);
        EXPECT_EQ(sqlite3_exec(raw, (insert + row).c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
    }
    sqlite3_close(raw);

    const std::vector<BookmarkRecord> stored = db.GetBookmarks(profile);
    ASSERT_EQ(stored.size(), records.size() + std::size(rows));
    ExplorerView fromRecords;
    fromRecords.Load(stored);
    ExplorerView direct;
    direct.Load({Row(L"stale", L"https://stale.example", L"")});
    direct.Filter("stale");
    ASSERT_TRUE(direct.LoadProfile(db, profile));

    ASSERT_EQ(direct.size(), stored.size());
    EXPECT_EQ(direct.start, fromRecords.start);
    EXPECT_EQ(direct.urlAt, fromRecords.urlAt);
    EXPECT_EQ(direct.folderAt, fromRecords.folderAt);
    EXPECT_TRUE(direct.texts == fromRecords.texts);  // megabytes: not printed
    EXPECT_TRUE(direct.lowered == fromRecords.lowered);
    for (size_t i = 0; i < stored.size(); ++i) {
        SCOPED_TRACE(i);
        // A title is drawn up to a NUL inside it; its whole text is searched.
        EXPECT_EQ(direct.Title(i), ToUtf8(stored[i].title).substr(0, ToUtf8(stored[i].title).find('\0')));
        EXPECT_EQ(std::string_view(direct.texts).substr(direct.start[i], direct.urlAt[i] - direct.start[i] - 1),
                  ToUtf8(stored[i].title));
        EXPECT_EQ(direct.Url(i), ToUtf8(stored[i].url));
        EXPECT_EQ(direct.Folder(i), ToUtf8(stored[i].folder_path));
    }
    for (const std::string needle : {"", "caf\xc3\xa9 news", "same", "\xef\xbf\xbd", "untitled", "long \xc3\xbc", "stale"}) {
        SCOPED_TRACE("search \"" + needle + "\"");
        direct.Filter(needle);
        fromRecords.Filter(needle);
        EXPECT_EQ(direct.shown, fromRecords.shown);
        EXPECT_EQ(direct.shown, Reference(stored, needle));
    }

    // A read that fails leaves an empty view, not the last rows.
    AppDatabase closed;
    EXPECT_FALSE(direct.LoadProfile(closed, profile));
    EXPECT_EQ(direct.size(), 0u);
    direct.Filter("");
    EXPECT_TRUE(direct.shown.empty());
}

}  // namespace
}  // namespace bm::ui
