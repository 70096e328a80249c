// The explorer's search over its prepared texts, against the plain definition: a row is shown when
// the ASCII-lowered search text occurs in its ASCII-lowered title, url or folder. Typed one letter
// at a time (each search narrowing the last result), erased, replaced and cleared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panels/explorer_view.h"

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

}  // namespace
}  // namespace bm::ui
