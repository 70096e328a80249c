// Small files made to need far more memory than their size: every record carries a copy of its whole
// folder path, so deep folders with long names above many links multiply the file. Each reader refuses
// what no browser writes, in words, and still reads deep files that browsers do write.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/chromium_bookmarks.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using Reader = std::function<std::vector<BookmarkRecord>(const std::string&, std::wstring*)>;

std::vector<BookmarkRecord> ReadHtml(const std::string& bytes, std::wstring* error) {
    return ParseHtmlBookmarks(bytes, error);
}
std::vector<BookmarkRecord> ReadChromium(const std::string& bytes, std::wstring* error) {
    return ReadChromiumBookmarksText(bytes, error);
}
std::vector<BookmarkRecord> ReadJson(const std::string& bytes, std::wstring* error) {
    return ImportJsonText(bytes, error);
}

// `levels` nested folders named `name`, with `links` links in the innermost.
std::string HtmlFile(size_t levels, const std::string& name, size_t links) {
    std::string out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    for (size_t i = 0; i < levels; ++i) out += "<DT><H3>" + name + "</H3>\n<DL><p>\n";
    for (size_t i = 0; i < links; ++i)
        out += "<DT><A HREF=\"https://x.example/" + std::to_string(i) + "\" ADD_DATE=\"1700000000\">L</A>\n";
    for (size_t i = 0; i < levels; ++i) out += "</DL><p>\n";
    out += "</DL><p>\n";
    return out;
}

std::string ChromiumFile(size_t levels, const std::string& name, size_t links) {
    std::string inner;
    for (size_t i = 0; i < links; ++i) {
        if (i) inner += ",";
        inner += R"({"type":"url","name":"L","url":"https://x.example/)" + std::to_string(i) +
                 R"(","date_added":"13345678901234567"})";
    }
    std::string tree = inner;
    for (size_t i = 0; i < levels; ++i) tree = R"({"type":"folder","name":")" + name + R"(","children":[)" + tree + "]}";
    return R"({"roots":{"bookmark_bar":{"type":"folder","name":"Bookmarks bar","children":[)" + tree +
           R"(]},"other":{"type":"folder","children":[]}},"version":1})";
}

std::string JsonFile(const std::string& folderPath, size_t links) {
    std::string out = R"({"bookmarks":[)";
    for (size_t i = 0; i < links; ++i) {
        if (i) out += ",";
        out += R"({"url":"https://x.example/)" + std::to_string(i) + R"(","title":"L","folder_path":")" + folderPath +
               R"(","date_added":1700000000})";
    }
    return out + "]}";
}

struct CraftedCase {
    const char* name;
    std::function<std::string()> make;
    Reader read;
    size_t records;           // when it reads
    const wchar_t* refusal;   // a part of the error text when it is refused
};

const wchar_t kTooLong[] = L"longer than 65536 characters, more than any browser keeps";
const wchar_t kTooMuch[] = L"folders so deep, with names so long, that its bookmarks would need far more memory";

class CraftedInput : public ::testing::TestWithParam<CraftedCase> {};

TEST_P(CraftedInput, IsRefusedInWordsOrReadWhole) {
    const CraftedCase& c = GetParam();
    const std::string bytes = c.make();
    std::wstring error;
    const std::vector<BookmarkRecord> records = c.read(bytes, &error);
    if (c.refusal) {
        EXPECT_TRUE(records.empty());
        EXPECT_NE(error.find(c.refusal), std::wstring::npos) << ToUtf8(error);
    } else {
        EXPECT_EQ(error, L"");
        EXPECT_EQ(records.size(), c.records);
    }
}

const std::string kKilobyteName(1000, 'n');

INSTANTIATE_TEST_SUITE_P(
    Readers, CraftedInput,
    ::testing::Values(
        // 998 levels of 1 KB names above 2000 links: 1.1 MB that once took gigabytes.
        CraftedCase{"HtmlDeepLongNames", [] { return HtmlFile(998, kKilobyteName, 2000); }, ReadHtml, 0, kTooLong},
        CraftedCase{"HtmlOneHugeName", [] { return HtmlFile(1, std::string(100000, 'n'), 2000); }, ReadHtml, 0,
                    kTooLong},
        // Just within the longest path, above so many links that the copies pass the budget.
        CraftedCase{"HtmlLongPathManyLinks", [] { return HtmlFile(60, kKilobyteName, 2000); }, ReadHtml, 0, kTooMuch},
        // What browsers write: a hundred levels of ordinary names.
        CraftedCase{"HtmlDeepOrdinary", [] { return HtmlFile(100, std::string(30, 'n'), 2000); }, ReadHtml, 2000,
                    nullptr},
        // One 100 KB folder name above 2000 links: 329 KB that once took 411 MB.
        CraftedCase{"ChromiumOneHugeName", [] { return ChromiumFile(1, std::string(100000, 'n'), 2000); },
                    ReadChromium, 0, kTooLong},
        CraftedCase{"ChromiumLongPathManyLinks", [] { return ChromiumFile(60, kKilobyteName, 2000); }, ReadChromium,
                    0, kTooMuch},
        CraftedCase{"ChromiumDeepOrdinary", [] { return ChromiumFile(98, std::string(30, 'n'), 2000); },
                    ReadChromium, 2000, nullptr},
        // The JSON export holds each path itself, so its size grows with them: only a path no browser
        // keeps is refused.
        CraftedCase{"JsonPathTooLong", [] { return JsonFile(std::string(70000, 'n'), 3); }, ReadJson, 0,
                    L"has a folder path longer than 65536 characters"},
        CraftedCase{"JsonLongPathsManyLinks", [] { return JsonFile(std::string(60000, 'n'), 200); }, ReadJson, 200,
                    nullptr}),
    [](const ::testing::TestParamInfo<CraftedCase>& info) { return std::string(info.param.name); });

TEST(CraftedWrite, ChromiumWriterRefusesAPathNoBrowserKeepsAndKeepsDeepOnesWhereChromiumLoadsThem) {
    test::TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    BookmarkRecord tooLong{0, 0, L"https://x.example/", L"X", L"Bookmarks bar/" + std::wstring(70000, L'n'), 1700000000};
    std::wstring error;
    EXPECT_EQ(WriteChromiumBookmarks(file, {tooLong}, nullptr, &error, false), -1);
    EXPECT_NE(error.find(L"longer than 65536 characters"), std::wstring::npos) << ToUtf8(error);
    EXPECT_FALSE(test::PathExists(file));

    // 900 levels of 60-character names: each record costs its own path, not its path times its depth,
    // and lands in the deepest of its folders that Chromium loads.
    std::wstring deep = L"Bookmarks bar";
    std::wstring kept;
    for (int i = 0; i < 900; ++i) {
        if (i == static_cast<int>(kChromiumDeepestFolderNesting)) kept = deep;
        deep += L"/" + std::wstring(60, static_cast<wchar_t>(L'a' + i % 26));
    }
    std::vector<BookmarkRecord> records;
    for (int i = 0; i < 300; ++i)
        records.push_back({0, 0, L"https://x.example/" + std::to_wstring(i), L"L", deep, 1700000000});
    error.clear();
    ASSERT_EQ(WriteChromiumBookmarks(file, records, nullptr, &error, false), 300) << ToUtf8(error);
    const std::vector<BookmarkRecord> back = ReadChromiumBookmarks(file, &error);
    ASSERT_EQ(back.size(), 300u) << ToUtf8(error);
    EXPECT_EQ(back[299].folder_path, kept);
}

}  // namespace
}  // namespace bm
