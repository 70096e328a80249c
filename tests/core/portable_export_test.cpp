#include "core/portable_export.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "core/chromium_bookmarks.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

const std::wstring kShapeMessage = L"File does not look like a Orvellane export (no 'bookmarks' array).";

BookmarkRecord Record(const std::wstring& url, const std::wstring& title, const std::wstring& folder, int64_t date) {
    BookmarkRecord record;
    record.url = url;
    record.title = title;
    record.folder_path = folder;
    record.date_added = date;
    return record;
}

using Fields = std::tuple<std::wstring, std::wstring, std::wstring, int64_t>;

std::vector<Fields> FieldsOf(const std::vector<BookmarkRecord>& records) {
    std::vector<Fields> out;
    for (const BookmarkRecord& r : records) out.emplace_back(r.url, r.title, r.folder_path, r.date_added);
    return out;
}

// Replaces the value of "exported_at" by a marker after checking it lies in [before, after].
std::string WithoutExportTime(std::string text, int64_t before, int64_t after) {
    const std::string key = "\"exported_at\": ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return text;
    const size_t start = at + key.size();
    const size_t end = text.find(',', start);
    const int64_t value = std::stoll(text.substr(start, end - start));
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
    return text.replace(start, end - start, "TIME");
}

TEST(LowerExtension, TakesTheLastDotAnywhereInThePath) {
    const struct {
        std::wstring path, extension;
    } cases[] = {
        {L"C:\\x\\List.JSON", L".json"}, {L"list.json.bak", L".bak"}, {L"bookmarks", L""},
        {L"D:\\exports.old\\list", L".old\\list"}, {L"", L""}, {L"a.HtM", L".htm"}, {L"end.", L"."},
    };
    for (const auto& c : cases) EXPECT_EQ(LowerExtension(c.path), c.extension) << ToUtf8(c.path);
}

TEST(PortableExport, FormatFollowsTheExtension) {
    TempDir dir;
    const std::vector<BookmarkRecord> records = {Record(L"https://a/", L"A", L"Other bookmarks/Bar", 1)};
    const struct {
        std::wstring name;
        bool json;
    } cases[] = {
        {L"upper.JSON", true}, {L"plain.json", true}, {L"list.json.bak", false}, {L"nodot", false},
        {L"exports.old\\list", false}, {L"page.htm", false},
    };
    for (const auto& c : cases) {
        const std::wstring path = dir / c.name;
        test::MakeDirs(dir.path() + L"\\exports.old");
        std::wstring error;
        ASSERT_TRUE(ExportBookmarks(records, path, &error)) << ToUtf8(c.name) << ToUtf8(error);
        const std::string text = ReadTextFile(path);
        EXPECT_EQ(text.rfind(c.json ? "{\n  \"app\"" : "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n", 0), 0u)
            << ToUtf8(c.name);
        const std::vector<BookmarkRecord> back = ImportBookmarks(path, &error);
        ASSERT_EQ(back.size(), 1u) << ToUtf8(c.name);
        EXPECT_EQ(back[0].url, L"https://a/");
        EXPECT_EQ(back[0].folder_path, L"Other bookmarks/Bar");
    }
    // The contents are never sniffed: a JSON file under an HTML name is read as HTML.
    WriteTextFile(dir / L"export.html", ReadTextFile(dir / L"plain.json"));
    std::wstring error;
    EXPECT_TRUE(ImportBookmarks(dir / L"export.html", &error).empty());
    EXPECT_EQ(error, L"No <A HREF=...> bookmark entries found in this HTML file.");
}

TEST(JsonExport, WritesTheDocumentByteForByte) {
    TempDir dir;
    std::vector<BookmarkRecord> records = {
        Record(L"https://a.example/\u00e9?q=1&r=2", L"Say \"hi\" \\ \u65e5\u672c\t<b>", L"Bookmarks bar/\u00dc", 1700000000),
        Record(L"https://b.example/", L"", L"", -11644473600),
    };
    records[0].id = 42;
    records[0].profile_id = 7;
    const std::wstring path = dir / L"out.json";
    std::wstring error = L"untouched";
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    ASSERT_TRUE(ExportJson(records, path, &error));
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(WithoutExportTime(ReadTextFile(path), before, after),
              "{\n"
              "  \"app\": \"Orvellane\",\n"
              "  \"bookmarks\": [\n"
              "    {\n"
              "      \"date_added\": 1700000000,\n"
              "      \"folder_path\": \"Bookmarks bar/\xC3\x9C\",\n"
              "      \"title\": \"Say \\\"hi\\\" \\\\ \xE6\x97\xA5\xE6\x9C\xAC\\t<b>\",\n"
              "      \"url\": \"https://a.example/\xC3\xA9?q=1&r=2\"\n"
              "    },\n"
              "    {\n"
              "      \"date_added\": -11644473600,\n"
              "      \"folder_path\": \"\",\n"
              "      \"title\": \"\",\n"
              "      \"url\": \"https://b.example/\"\n"
              "    }\n"
              "  ],\n"
              "  \"exported_at\": TIME,\n"
              "  \"format_version\": 1\n"
              "}");

    // Round trip: same fields in the same order, no ids.
    const std::vector<BookmarkRecord> back = ImportJson(path, &error);
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(FieldsOf(back), FieldsOf(records));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].id, 0);
    EXPECT_EQ(back[0].profile_id, 0);

    ASSERT_TRUE(ExportJson({}, path, &error));
    EXPECT_EQ(WithoutExportTime(ReadTextFile(path), before, static_cast<int64_t>(std::time(nullptr))),
              "{\n  \"app\": \"Orvellane\",\n  \"bookmarks\": [],\n  \"exported_at\": TIME,\n  \"format_version\": 1\n}");
}

TEST(JsonImport, ShapesAndElements) {
    const std::wstring kEntryMessageStart = L"Bookmark entry ";
    const struct {
        const char* name;
        std::string text;
        std::vector<Fields> want;
        std::wstring error;  // expected error text, or the start of it for the words on a file that is not JSON
    } cases[] = {
        {"export document, other members ignored",
         R"({"app":"Other","format_version":9,"extra":{},"bookmarks":[{"url":"https://a/","title":"A","folder_path":"F/G","date_added":5}]})",
         {{L"https://a/", L"A", L"F/G", 5}}, L""},
        {"bare array (snapshot JSON)", R"([{"url":"https://b/","title":"B","folder_path":"","date_added":1}])",
         {{L"https://b/", L"B", L"", 1}}, L""},
        {"absent and null members",
         R"([{"url":"https://c/"},{"url":"https://d/","title":null,"date_added":null}])",
         {{L"https://c/", L"", L"", 0}, {L"https://d/", L"", L"", 0}}, L""},
        {"an entry without url is damage", R"([{"url":"https://c/"},{"title":"no url"}])", {}, kEntryMessageStart},
        {"an entry with an empty url is damage", R"([{"url":"","title":"empty"}])", {}, kEntryMessageStart},
        {"fractions cut toward zero, unsigned that fits",
         R"([{"url":"u1","date_added":1.9},{"url":"u2","date_added":-1.9},{"url":"u3","date_added":9223372036854775807}])",
         {{L"u1", L"", L"", 1}, {L"u2", L"", L"", -1}, {L"u3", L"", L"", 9223372036854775807LL}}, L""},
        {"BOM and white space around the document",
         "\xEF\xBB\xBF [{\"url\":\"https://first/\"}]\r\n", {{L"https://first/", L"", L"", 0}}, L""},
        {"two documents: more than one is damage", "[{\"url\":\"https://first/\"}]\n[{\"url\":\"https://second/\"}]",
         {}, L"The file is damaged: more text follows where its content ends, from line 2, column 1 on."},
        {"empty bookmarks array", R"({"bookmarks":[]})", {}, L""},
        {"object without bookmarks", R"({"app":"Orvellane"})", {}, kShapeMessage},
        {"bookmarks is an object", R"({"bookmarks":{"url":"https://a/"}})", {}, kShapeMessage},
        {"top-level string", R"("bookmarks")", {}, kShapeMessage},
        {"top-level number", "42", {}, kShapeMessage},
        {"top-level boolean", "true", {}, kShapeMessage},
        {"top-level null", "null", {}, kShapeMessage},
        {"empty file", "", {}, L"The file is empty: "},
        {"broken JSON", R"({"bookmarks":[{"url":)", {}, L"The file is damaged: it ends too early"},
        {"element that is not an object", R"([{"url":"https://a/"},"https://b/"])", {}, kEntryMessageStart},
        {"number as title", R"([{"url":"https://a/","title":5}])", {}, kEntryMessageStart},
        {"date as text", R"([{"url":"https://a/","date_added":"1700000000"}])", {}, kEntryMessageStart},
        {"url as array", R"({"bookmarks":[{"url":["https://a/"]}]})", {}, kEntryMessageStart},
        {"folder_path as object", R"([{"url":"https://a/","folder_path":{}}])", {}, kEntryMessageStart},
        {"date beyond 64 bits", R"([{"url":"https://a/","date_added":1e30}])", {}, kEntryMessageStart},
        {"unsigned date beyond 64 bits", R"([{"url":"https://a/","date_added":18446744073709551615}])", {},
         kEntryMessageStart},
        {"wrong element without url still rejects", R"([{"url":"https://a/"},{"title":false}])", {},
         kEntryMessageStart},
    };
    TempDir dir;
    for (const auto& c : cases) {
        WriteTextFile(dir / L"in.json", c.text);
        std::wstring error = L"untouched";
        EXPECT_EQ(FieldsOf(ImportJson(dir / L"in.json", &error)), c.want) << c.name;
        if (c.error.empty())
            EXPECT_EQ(error, L"untouched") << c.name;
        else if (c.error == kShapeMessage)
            EXPECT_EQ(error, kShapeMessage) << c.name;
        else
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << ToUtf8(error);
        EXPECT_EQ(FieldsOf(ImportJson(dir / L"in.json", nullptr)), c.want) << c.name;
    }
}

TEST(JsonImport, RejectionNamesTheEntry) {
    TempDir dir;
    WriteTextFile(dir / L"in.json", R"([{"url":"https://a/"},{"url":"https://b/"},{"url":"https://c/","title":1}])");
    std::wstring error;
    EXPECT_TRUE(ImportJson(dir / L"in.json", &error).empty());
    EXPECT_EQ(error,
              L"Bookmark entry 3 of 3 is not a valid bookmark (an object whose url, title and folder_path are text "
              L"and whose date_added is a number); nothing was imported.");
}

TEST(JsonImport, DeepInputIsRefusedOnASmallStack) {
    TempDir dir;
    const std::wstring path = dir / L"in.json";
    const std::wstring tooDeep = L"JSON file is nested deeper than " + std::to_wstring(kMaxJsonNesting) +
                                 L" levels, far more than an export ever is; nothing was imported.";
    std::string deepMember = R"({"bookmarks":[{"url":"https://a/"}],"extra":)";
    for (int i = 0; i < 100000; ++i) deepMember += R"({"a":)";
    deepMember += "1" + std::string(100000, '}') + "}";
    std::string folders(2 * kDeepestFolderNesting, '/');
    for (size_t i = 0; i < folders.size(); i += 2) folders[i] = 'f';
    struct Case {
        const char* name;
        std::string content;
        size_t count;
        std::wstring error;
    };
    const Case cases[] = {
        {"arrays 100k deep", std::string(100000, '['), 0, tooDeep},
        {"a member 100k deep", deepMember, 0, tooDeep},
        {"folders at the bound", R"([{"url":"https://a/","folder_path":")" + folders + R"("}])", 1, L""},
        {"folders past the bound", R"([{"url":"https://a/"},{"url":"https://b/","folder_path":")" + folders + R"(f"}])", 0,
         L"Bookmark entry 2 of 2 has a folder path nested deeper than 1000 folders below its root; nothing was "
         L"imported."},
    };
    for (const Case& c : cases) {
        WriteTextFile(path, c.content);
        std::wstring error;
        size_t count = 99;
        test::RunWithStack(test::kSmallStack, [&] { count = ImportJson(path, &error).size(); });
        EXPECT_EQ(count, c.count) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

// What the stores read, the program exports in either format and imports back: folders nested as
// deep as any store keeps (kDeepestFolderNesting below a root, under each root and under none), and
// one more is refused in words.
TEST(PortableExport, TheDeepestChainAnyStoreKeepsComesBackAndOneMoreIsRefused) {
    TempDir dir;
    auto chain = [](const std::wstring& root, size_t folders) {
        std::wstring path = root;
        for (size_t i = 0; i < folders; ++i) path += (path.empty() ? L"" : L"/") + std::wstring(L"F") + std::to_wstring(i);
        return path;
    };
    const wchar_t* roots[] = {L"Bookmarks Menu", L"Bookmarks Toolbar", L"Bookmarks bar", L"Other bookmarks",
                              L"Mobile bookmarks", L""};
    for (const wchar_t* extension : {L".json", L".html"}) {
        const std::wstring file = dir / (std::wstring(L"chain") + extension);
        for (const wchar_t* root : roots) {
            const std::string name = ToUtf8(std::wstring(extension) + L" under '" + root + L"'");
            const std::vector<BookmarkRecord> deepest = {
                Record(L"https://top.example/", L"Top", root, 1700000000),
                Record(L"https://deep.example/", L"Deep", chain(root, kDeepestFolderNesting), 1700000001)};
            ASSERT_EQ(FoldersBelowRoot(deepest[1].folder_path), kDeepestFolderNesting) << name;
            std::wstring error;
            ASSERT_TRUE(ExportBookmarks(deepest, file, &error)) << name << ": " << ToUtf8(error);
            std::wstring warning;
            const std::vector<BookmarkRecord> back = ImportBookmarks(file, &error, &warning);
            EXPECT_EQ(error, L"") << name;
            EXPECT_EQ(warning, L"") << name;
            ASSERT_EQ(back.size(), 2u) << name;
            // An HTML file names no root for a path without one; it comes back under the bookmarks bar.
            std::wstring deepPath = back[1].folder_path;
            EXPECT_EQ(FoldersBelowRoot(deepPath), kDeepestFolderNesting) << name;
            EXPECT_EQ(ParseFolderPath(deepPath).segments, ParseFolderPath(deepest[1].folder_path).segments) << name;
            EXPECT_EQ(ParseFolderPath(deepPath).root_key, ParseFolderPath(deepest[1].folder_path).root_key) << name;

            const std::vector<BookmarkRecord> deeper = {
                Record(L"https://top.example/", L"Top", root, 1700000000),
                Record(L"https://deep.example/", L"Deep", chain(root, kDeepestFolderNesting + 1), 1700000001)};
            ASSERT_TRUE(ExportBookmarks(deeper, file, &error)) << name;
            error.clear();
            EXPECT_TRUE(ImportBookmarks(file, &error).empty()) << name;
            EXPECT_EQ(error, std::wstring(extension) == L".json"
                                 ? L"Bookmark entry 2 of 2 has a folder path nested deeper than 1000 folders below its "
                                   L"root; nothing was imported."
                                 : L"The file nests folders more than 1000 levels below a root, deeper than any "
                                   L"browser writes; nothing was imported.")
                << name;
        }
    }
}

TEST(PortableExport, FailuresLeaveAnExistingFileAsItWas) {
    TempDir dir;
    const std::vector<BookmarkRecord> records = {Record(L"https://a/", L"A", L"", 1)};
    for (const std::wstring name : {L"list.json", L"list.html"}) {
        std::wstring error;
        EXPECT_FALSE(ExportBookmarks(records, dir / (L"missing folder\\" + name), &error));
        EXPECT_EQ(error, L"Could not open destination file for writing.");
        EXPECT_FALSE(ExportBookmarks(records, dir / (L"missing folder\\" + name), nullptr));

        const std::wstring target = dir / name;
        WriteTextFile(target, "earlier export");
        test::SetReadOnly(target, true);
        error.clear();
        EXPECT_FALSE(ExportBookmarks(records, target, &error));
        EXPECT_EQ(error, L"Could not open destination file for writing.");
        test::SetReadOnly(target, false);
        EXPECT_EQ(ReadTextFile(target), "earlier export");

        // A folder where the file should be is not replaced either.
        test::MakeDirs(dir / (name + L".d"));
        EXPECT_FALSE(ExportBookmarks(records, dir / (name + L".d"), &error));
        EXPECT_TRUE(test::PathExists(dir / (name + L".d")));
    }
    std::wstring error;
    EXPECT_TRUE(ImportBookmarks(dir / L"absent.json", &error).empty());
    EXPECT_EQ(error, L"The file was not found.");
    EXPECT_TRUE(ImportBookmarks(dir / L"absent.json", nullptr).empty());
}

}  // namespace
}  // namespace bm
