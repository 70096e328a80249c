#include "core/chromium_bookmarks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>

#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using nlohmann::json;
using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

// Shaped the way a current Chromium-family browser writes its file.
const char* const kBrowserFile = R"({
   "checksum": "0123456789abcdef0123456789abcdef",
   "roots": {
      "bookmark_bar": {
         "children": [ {
            "date_added": "13345678901234567",
            "date_last_used": "0",
            "guid": "7a1d2c3e-0000-4000-8000-000000000001",
            "id": "5",
            "meta_info": { "power_bookmark_meta": "" },
            "name": "Example",
            "type": "url",
            "url": "https://Example.com/a/"
         }, {
            "children": [ {
               "date_added": "13345678901234567",
               "guid": "7a1d2c3e-0000-4000-8000-000000000003",
               "id": "7",
               "name": "Docs",
               "type": "url",
               "url": "https://docs.example.org/"
            } ],
            "date_added": "13345678901234567",
            "date_modified": "13345678901234567",
            "guid": "7a1d2c3e-0000-4000-8000-000000000002",
            "id": "6",
            "name": "Work",
            "type": "folder"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "guid": "0bc5d13f-2cba-5d74-951f-3f233fe6c908",
         "id": "1",
         "name": "Bookmarks bar",
         "type": "folder"
      },
      "other": {
         "children": [ {
            "date_added": "abc",
            "guid": "7a1d2c3e-0000-4000-8000-000000000004",
            "id": "9",
            "name": "Ohne Datum",
            "type": "url",
            "url": "https://news.example.net/"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "guid": "82b081ec-3dd3-529c-8475-ab6c344590dd",
         "id": "2",
         "name": "Other bookmarks",
         "type": "folder"
      },
      "synced": {
         "children": [ {
            "children": [ {
               "children": [ {
                  "date_added": "13345678901234567",
                  "id": "13",
                  "name": "Закладка",
                  "type": "url",
                  "url": "https://пример.рф/"
               } ],
               "id": "12",
               "name": "A",
               "type": "folder"
            } ],
            "id": "11",
            "name": "B",
            "type": "folder"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "guid": "4cf2e351-0e85-532b-bb37-df045d8f8d0f",
         "id": "3",
         "name": "Mobile bookmarks",
         "type": "folder"
      }
   },
   "sync_metadata": "CAESAggB",
   "version": 1
})";

class ChromiumStore : public ::testing::Test {
protected:
    TempDir dir;
    std::wstring file = dir / L"Bookmarks";

    json ReadJson() { return json::parse(ReadTextFile(file)); }
};

BookmarkRecord Record(const std::wstring& url, const std::wstring& title, const std::wstring& folder,
                      int64_t date = 1700000000) {
    BookmarkRecord r;
    r.url = url;
    r.title = title;
    r.folder_path = folder;
    r.date_added = date;
    return r;
}

TEST(ChromeTime, Conversion) {
    EXPECT_EQ(ChromeTimeToUnix("13345678901234567"), 1701205301);
    EXPECT_EQ(ChromeTimeToUnix("0"), -11644473600LL);
    EXPECT_EQ(ChromeTimeToUnix("  11644473600000000xyz"), 0);
    EXPECT_EQ(ChromeTimeToUnix("-1000000"), -11644473601LL);
    const int64_t now = std::time(nullptr);
    for (const char* bad : {"", "abc", "99999999999999999999999"}) {
        EXPECT_NEAR(static_cast<double>(ChromeTimeToUnix(bad)), static_cast<double>(now), 5.0) << bad;
    }
}

TEST_F(ChromiumStore, ReadsRootsInOrderWithFolderPaths) {
    WriteTextFile(file, kBrowserFile);
    std::wstring error = L"untouched";
    const auto records = ReadChromiumBookmarks(file, &error);
    EXPECT_EQ(error, L"untouched");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].url, L"https://Example.com/a/");
    EXPECT_EQ(records[0].title, L"Example");
    EXPECT_EQ(records[0].folder_path, L"Bookmarks bar");
    EXPECT_EQ(records[0].date_added, 1701205301);
    EXPECT_EQ(records[0].id, 0);
    EXPECT_EQ(records[1].folder_path, L"Bookmarks bar/Work");
    EXPECT_EQ(records[2].folder_path, L"Other bookmarks");
    EXPECT_NEAR(static_cast<double>(records[2].date_added), static_cast<double>(std::time(nullptr)), 5.0);
    EXPECT_EQ(records[3].folder_path, L"Mobile bookmarks/B/A");
    EXPECT_EQ(records[3].title, L"Закладка");
    EXPECT_EQ(records[3].url, L"https://пример.рф/");
}

TEST_F(ChromiumStore, ReaderOutcomesTable) {
    struct Case {
        const char* name;
        std::string content;
        size_t count;
        std::wstring errorPrefix;  // empty: no error expected
    };
    const std::string bom = "\xEF\xBB\xBF";
    const std::string oneUrl = R"({"roots":{"bookmark_bar":{"type":"folder","children":[{"type":"url","url":"u"}]}}})";
    const Case cases[] = {
        {"array", "[]", 0, L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        {"empty object", "{}", 0, L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        {"empty file", "", 0, L"Bookmarks file is empty: "},
        {"syntax error", "{\"roots\": ", 0, L"Bookmarks file is damaged: it ends too early, as if cut short, after 10 bytes."},
        {"invalid utf-8", "{\"roots\":{\"bookmark_bar\":{\"name\":\"\xFF\"}}}", 0,
         L"Bookmarks file is damaged: it holds text that is not valid UTF-8 at line 1, column 35."},
        {"roots empty", R"({"roots":{}})", 0, L""},
        {"roots array is an error",
         R"({"roots":[{"type":"folder","children":[{"type":"url","url":"u"}]}]})", 0,
         L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"roots null is an error", R"({"roots":null})", 0, L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"roots string is an error", R"({"roots":"bookmark_bar"})", 0, L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"roots number is an error", R"({"version":1,"roots":0})", 0, L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"bom accepted", bom + oneUrl, 1, L""},
        {"white space after document", oneUrl + " \r\n\t ", 1, L""},
        {"text after document", oneUrl + " trailing {garbage", 0,
         L"Bookmarks file is damaged: more text follows where its content ends, from line 1, column 86 on."},
        {"unknown root skipped beside the three",
         R"({"roots":{"workspace":{"type":"folder","children":[{"type":"url","url":"u"}]},
                      "custom_root":{"children":[{"type":"url","url":"v"}]},
                      "bookmark_bar":{"children":[]},"other":{"children":[]},"synced":{"children":[]}}})", 0, L""},
        {"unknown root in place of one of the three",
         R"({"roots":{"bookmark_bas":{"type":"folder","children":[{"type":"url","url":"u"}]},
                      "other":{"children":[]},"synced":{"children":[]}}})", 0,
         L"Bookmarks file is damaged: one of the bookmark roots every browser writes is missing or misnamed; it was not read."},
        {"toolbar alias read as bar",
         R"({"roots":{"toolbar":{"children":[{"type":"url","url":"u"}]},"bookmark_bar":{"children":[{"type":"url","url":"v"}]}}})",
         2, L""},
        {"missing name", R"({"roots":{"other":{"children":[{"type":"url","url":"x"}]}}})", 1, L""},
        {"missing url", R"({"roots":{"other":{"children":[{"type":"url"},{"type":"url","url":"x"}]}}})", 0,
         L"Bookmarks file is damaged: a bookmark in 'Other bookmarks' has no address; it was not read."},
        {"empty url", R"({"roots":{"other":{"children":[{"type":"url","url":""}]}}})", 0,
         L"Bookmarks file is damaged: a bookmark in 'Other bookmarks' has no address; it was not read."},
        {"folder without children",
         R"({"roots":{"other":{"children":[{"type":"folder","name":"f"}]}}})", 0,
         L"Bookmarks file is damaged: an entry in 'Other bookmarks' is neither a bookmark nor a folder as browsers "
         L"write them; it was not read."},
        {"unknown type", R"({"roots":{"bookmark_bar":{"children":[{"type":"urm","url":"x"}]}}})", 0,
         L"Bookmarks file is damaged: an entry in 'Bookmarks bar' is neither a bookmark nor a folder as browsers "
         L"write them; it was not read."},
    };
    for (const Case& c : cases) {
        WriteTextFile(file, c.content);
        std::wstring error;
        const auto records = ReadChromiumBookmarks(file, &error);
        EXPECT_EQ(records.size(), c.count) << c.name;
        if (c.errorPrefix.empty()) {
            EXPECT_EQ(error, L"") << c.name;
        } else {
            EXPECT_EQ(error.substr(0, c.errorPrefix.size()), c.errorPrefix) << c.name;
            EXPECT_GT(error.size(), c.errorPrefix.size() - (c.errorPrefix.back() == L' ' ? 0 : 1)) << c.name;
        }
    }
    std::wstring error;
    EXPECT_TRUE(ReadChromiumBookmarks(dir / L"missing", &error).empty());
    EXPECT_EQ(error, L"Bookmarks file was not found.");
    EXPECT_TRUE(ReadChromiumBookmarks(dir / L"missing", nullptr).empty());
}

TEST_F(ChromiumStore, FolderNamedWithEmptyTextAndObjectChildren) {
    WriteTextFile(file, R"({"roots":{"bookmark_bar":{"children":[
        {"type":"folder","name":"","children":[{"type":"url","url":"a"}]},
        {"type":"folder","name":"Obj","children":{"z":{"type":"url","url":"z"},"b":{"type":"url","url":"b"}}}]}}})");
    const auto records = ReadChromiumBookmarks(file, nullptr);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].folder_path, L"Bookmarks bar/");
    EXPECT_EQ(records[1].url, L"b");  // an object's members in key order
    EXPECT_EQ(records[2].url, L"z");
}

// Documents that parse but hold values browsers never write must neither throw nor end the process.
// Where the value would hide bookmarks (a node of no known kind, children that are no list) the
// reader refuses the file and the writer leaves it alone; other odd values are read around.
TEST_F(ChromiumStore, MalformedDocumentsTable) {
    struct Case {
        const char* name;
        const char* content;
        size_t readable;  // records the reader still finds
        bool writable;    // the writer writes (true) or refuses with -1 (false)
    };
    const Case cases[] = {
        {"roots is an array", R"({"roots":[1,2]})", 0, false},
        {"roots is a string", R"({"roots":"x"})", 0, false},
        {"bar root is a number", R"({"roots":{"bookmark_bar":5,"other":{"children":[{"type":"url","url":"o"}]}}})", 0, false},
        {"children is a string", R"({"roots":{"bookmark_bar":{"type":"folder","children":"oops"}}})", 0, false},
        {"name is a number", R"({"roots":{"bookmark_bar":{"type":"folder","children":[{"type":"folder","name":7,"children":[{"type":"url","url":"n","name":3}]}]}}})", 1, true},
        {"type is a number", R"({"roots":{"bookmark_bar":{"type":"folder","children":[{"type":1,"url":"t"}]}}})", 0, false},
        {"url is an object", R"({"roots":{"bookmark_bar":{"type":"folder","children":[{"type":"url","url":{"a":1}}]}}})", 0, false},
        {"date is a number", R"({"roots":{"bookmark_bar":{"type":"folder","children":[{"type":"url","url":"d","date_added":5}]}}})", 1, true},
        {"id is a number", R"({"roots":{"bookmark_bar":{"type":"folder","id":99,"children":[]}}})", 0, true},
        {"non-object children", R"({"roots":{"bookmark_bar":{"type":"folder","children":[1,"s",null,[],{"type":"folder","name":"Work","children":[]}]}}})", 0, false},
        {"root without type", R"({"roots":{"bookmark_bar":{"children":[{"type":"url","url":"kept"}]}}})", 1, true},
    };
    for (const Case& c : cases) {
        WriteTextFile(file, c.content);
        std::wstring readError;
        EXPECT_EQ(ReadChromiumBookmarks(file, &readError).size(), c.readable) << c.name;
        // What the writer refuses, the reader refuses too, in words.
        EXPECT_EQ(readError.empty(), c.writable) << c.name << ": " << ToUtf8(readError);

        std::wstring error;
        int skipped = -7;
        const int added = WriteChromiumBookmarks(file, {Record(L"https://new.example/", L"New", L"Work")}, &skipped,
                                                 &error, false);
        if (c.writable) {
            EXPECT_EQ(added, 1) << c.name;
            EXPECT_EQ(skipped, 0) << c.name;
            const auto after = ReadChromiumBookmarks(file, &readError);
            EXPECT_EQ(after.size(), c.readable + 1) << c.name;
            bool found = false;
            for (const auto& r : after) found = found || (r.url == L"https://new.example/" && r.folder_path == L"Bookmarks bar/Work");
            EXPECT_TRUE(found) << c.name;
        } else {
            EXPECT_EQ(added, -1) << c.name;
            EXPECT_EQ(skipped, -7) << c.name;
            EXPECT_FALSE(error.empty()) << c.name;
            EXPECT_EQ(ReadTextFile(file), c.content) << c.name;
        }
    }
}

TEST_F(ChromiumStore, MergeSkipsKnownUrlsAndKeepsUnknownKeys) {
    WriteTextFile(file, kBrowserFile);
    const std::vector<BookmarkRecord> records = {
        Record(L"http://example.com/a", L"dup by case and slash? no: scheme differs", L""),
        Record(L"HTTPS://EXAMPLE.COM/A", L"Duplicate", L""),                  // known, at the bar's top
        Record(L"https://docs.example.org", L"Duplicate deep", L"Other bookmarks"),  // known, inside Work
        Record(L"https://пример.рф", L"Duplicate mobile", L""),                 // known, two levels deep in synced
        Record(L"https://new.example/", L"", L"Work"),                          // into the existing Work
        Record(L"https://new.example", L"Again", L"Work"),                      // duplicate within the list
        Record(L"https://menu.example/", L"Menu", L"Bookmarks Menu/X", 0),
    };
    int skipped = -1;
    std::wstring error;
    ASSERT_EQ(WriteChromiumBookmarks(file, records, &skipped, &error, false), 3) << ToUtf8(error);
    EXPECT_EQ(skipped, 4);
    EXPECT_TRUE(error.empty());

    const json doc = ReadJson();
    EXPECT_EQ(doc["checksum"], "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(doc["sync_metadata"], "CAESAggB");
    EXPECT_EQ(doc["version"], 1);
    const json& bar = doc["roots"]["bookmark_bar"];
    EXPECT_EQ(bar["guid"], "0bc5d13f-2cba-5d74-951f-3f233fe6c908");
    ASSERT_EQ(bar["children"].size(), 3u);
    EXPECT_EQ(bar["children"][0]["meta_info"]["power_bookmark_meta"], "");
    EXPECT_EQ(bar["children"][0]["url"], "https://Example.com/a/");  // the existing entry is unchanged
    EXPECT_EQ(bar["children"][0]["date_last_used"], "0");
    // "http://example.com/a" differs in its scheme, so it is a different key and is added to the bar itself.
    EXPECT_EQ(bar["children"][2]["url"], "http://example.com/a");
    EXPECT_EQ(bar["children"][2]["id"], "14");  // the file's highest id is 13
    const json& work = bar["children"][1];
    ASSERT_EQ(work["children"].size(), 2u);
    const json& added = work["children"][1];
    EXPECT_EQ(added["name"], "https://new.example/");  // empty title: the url is the name
    EXPECT_EQ(added["id"], "15");
    EXPECT_EQ(added.size(), 5u);  // type, name, url, id, date_added
    EXPECT_EQ(added["date_added"], "13344473600000000");

    const json& other = doc["roots"]["other"]["children"];
    ASSERT_EQ(other.size(), 2u);
    const json& x = other[1];
    EXPECT_EQ(x["type"], "folder");
    EXPECT_EQ(x["name"], "X");
    EXPECT_EQ(x["id"], "16");
    EXPECT_EQ(x.size(), 6u);
    const std::string stamp = x["date_added"];
    EXPECT_EQ(stamp.substr(stamp.size() - 6), "000000");
    const json& menu = x["children"][0];
    EXPECT_EQ(menu["id"], "17");
    const int64_t written = ChromeTimeToUnix(menu["date_added"]);
    EXPECT_NEAR(static_cast<double>(written), static_cast<double>(std::time(nullptr)), 5.0);
}

// A write that finds nothing to change leaves the file alone, but not what a killed write left beside it.
TEST_F(ChromiumStore, AWriteThatChangesNothingStillRemovesAKilledWritesTemporary) {
    WriteTextFile(file, kBrowserFile);
    const std::wstring leftover = file + L".orvtmp-99999-3";
    WriteTextFile(leftover, "{\"half\": ");
    int skipped = -1;
    std::wstring error;
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://Example.com/a/", L"Known", L"")}, &skipped, &error, false), 0)
        << ToUtf8(error);
    EXPECT_EQ(skipped, 1);
    EXPECT_EQ(ReadTextFile(file), kBrowserFile);
    EXPECT_EQ(GetFileAttributesW(leftover.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ChromiumStore, FolderReuseIsExactAndFirstMatchWins) {
    WriteTextFile(file, R"({"roots":{"bookmark_bar":{"type":"folder","id":"1","children":[
        {"type":"folder","name":"work","id":"2","children":[]},
        {"type":"folder","name":"Work","id":"3","children":[]},
        {"type":"folder","name":"Work","id":"4","children":[]}]},
        "other":{"type":"folder","id":"5","children":[]},"synced":{"type":"folder","id":"6","children":[]}}})");
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://a.example/", L"A", L"Work"), Record(L"https://b.example/", L"B", L"Bookmarks bar/work/Sub")},
                                     nullptr, nullptr, false),
              2);
    const json bar = ReadJson()["roots"]["bookmark_bar"]["children"];
    ASSERT_EQ(bar.size(), 3u);
    EXPECT_EQ(bar[1]["children"][0]["url"], "https://a.example/");
    EXPECT_TRUE(bar[2]["children"].empty());
    EXPECT_EQ(bar[0]["children"][0]["name"], "Sub");
    EXPECT_EQ(bar[0]["children"][0]["id"], "8");
    EXPECT_EQ(bar[0]["children"][0]["children"][0]["url"], "https://b.example/");
}

TEST_F(ChromiumStore, NewDocumentIsWrittenExactly) {
    const std::wstring missing = dir / L"Fresh";
    ASSERT_EQ(WriteChromiumBookmarks(missing, {Record(L"https://a.example/", L"Ä \"q\"", L"")}, nullptr, nullptr, false), 1);
    const std::string expected =
        "{\n"
        "   \"checksum\": \"\",\n"
        "   \"roots\": {\n"
        "      \"bookmark_bar\": {\n"
        "         \"children\": [\n"
        "            {\n"
        "               \"date_added\": \"13344473600000000\",\n"
        "               \"id\": \"2\",\n"
        "               \"name\": \"\xC3\x84 \\\"q\\\"\",\n"
        "               \"type\": \"url\",\n"
        "               \"url\": \"https://a.example/\"\n"
        "            }\n"
        "         ],\n"
        "         \"date_added\": \"0\",\n"
        "         \"date_modified\": \"0\",\n"
        "         \"id\": \"1\",\n"
        "         \"name\": \"Bookmarks bar\",\n"
        "         \"type\": \"folder\"\n"
        "      },\n"
        "      \"other\": {\n"
        "         \"children\": [],\n"
        "         \"date_added\": \"0\",\n"
        "         \"date_modified\": \"0\",\n"
        "         \"id\": \"1\",\n"
        "         \"name\": \"Other bookmarks\",\n"
        "         \"type\": \"folder\"\n"
        "      },\n"
        "      \"synced\": {\n"
        "         \"children\": [],\n"
        "         \"date_added\": \"0\",\n"
        "         \"date_modified\": \"0\",\n"
        "         \"id\": \"1\",\n"
        "         \"name\": \"Mobile bookmarks\",\n"
        "         \"type\": \"folder\"\n"
        "      }\n"
        "   },\n"
        "   \"version\": 1\n"
        "}";
    EXPECT_EQ(ReadTextFile(missing), expected);

    // A file that holds nothing at all starts a new document too, in either mode.
    for (const std::string content : {"", " ", "\r\n\t \n", "\xEF\xBB\xBF", "\xEF\xBB\xBF\n"}) {
        for (const bool replace : {false, true}) {
            WriteTextFile(file, content);
            ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://a.example/", L"A", L"")}, nullptr, nullptr, replace), 1)
                << testing::PrintToString(content);
            const json doc = ReadJson();
            EXPECT_EQ(doc["version"], 1);
            EXPECT_EQ(doc["roots"].size(), 3u);
            EXPECT_EQ(doc["roots"]["bookmark_bar"]["children"][0]["id"], "2");
        }
    }
}

// A file that is there but that the reader cannot use is refused, in merge and in replace mode, with
// the reader's own message, and it stays exactly as it was: writing a new document over it would
// lose every bookmark it still holds.
TEST_F(ChromiumStore, DamagedFileIsRefusedAndKept) {
    const std::string browser = kBrowserFile;
    const std::wstring cut = L"Bookmarks file is damaged: ";
    struct Case {
        const char* name;
        std::string content;
        std::wstring error;  // the whole message, or its start when it ends in ": "
    };
    const Case cases[] = {
        {"cut after the first brace", browser.substr(0, 1), cut},
        {"cut inside a url", browser.substr(0, browser.find("Example.com") + 4), cut},
        {"cut between two nodes", browser.substr(0, browser.find("}, {") + 1), cut},
        {"cut before the last brace", browser.substr(0, browser.size() - 1), cut},
        {"cut after a key", browser.substr(0, browser.find("\"roots\"") + 8), cut},
        {"not json", "not json", cut},
        {"zeros", std::string(64, '\0'), cut},
        {"invalid utf-8", "{\"roots\":{\"bookmark_bar\":{\"name\":\"\xC3\"}}}", cut},
        {"array", "[]", L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        {"string", "\"roots\"", L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        {"no roots", "{\"version\": 3, \"checksum\": \"x\"}", L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        {"roots array", "{\"roots\":[{\"children\":[]}]}", L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"roots null", "{\"roots\":null}", L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"roots number", "{\"roots\":7,\"version\":1}", L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        {"nested too deep", std::string(kMaxJsonNesting + 1, '['),
         L"Bookmarks file is nested deeper than any browser writes (more than " + std::to_wstring(kMaxJsonNesting) +
             L" levels of JSON, about 1000 folders); it was not read."},
    };
    for (const Case& c : cases) {
        WriteTextFile(file, c.content);
        std::wstring readError;
        EXPECT_TRUE(ReadChromiumBookmarks(file, &readError).empty()) << c.name;
        const bool prefix = c.error.size() >= 2 && c.error.substr(c.error.size() - 2) == L": ";
        if (prefix) {
            EXPECT_EQ(readError.substr(0, c.error.size()), c.error) << c.name;
            EXPECT_GT(readError.size(), c.error.size()) << c.name;
        } else {
            EXPECT_EQ(readError, c.error) << c.name;
        }
        for (const bool replace : {false, true}) {
            std::wstring error;
            int skipped = -5;
            EXPECT_EQ(WriteChromiumBookmarks(file, {Record(L"https://new.example/", L"N", L"")}, &skipped, &error, replace), -1)
                << c.name << (replace ? " (replace)" : " (merge)");
            EXPECT_EQ(error, readError) << c.name;
            EXPECT_EQ(skipped, -5) << c.name;
            EXPECT_EQ(ReadTextFile(file), c.content) << c.name;
        }
    }

    // A file that is there but cannot be read is not taken for a missing one.
    WriteTextFile(file, kBrowserFile);
    HANDLE held = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring error;
    EXPECT_EQ(WriteChromiumBookmarks(file, {Record(L"https://new.example/", L"N", L"")}, nullptr, &error, true), -1);
    EXPECT_EQ(error, L"Bookmarks file is in use by another program and cannot be read; close that program and try "
                     L"again.");
    CloseHandle(held);
    EXPECT_EQ(ReadTextFile(file), kBrowserFile);

    // Nothing was left beside it.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir.path() + L"\\*").c_str(), &data);
    std::vector<std::wstring> names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(names, std::vector<std::wstring>{L"Bookmarks"});
}

// The readers walk the members of an object under a folder's "children"; the writer turns such an
// object into the array of its members when it adds there, so none of them is lost. A root's
// children that are no list make the file unreadable, as they do for browsers.
TEST_F(ChromiumStore, ObjectChildrenKeepTheirBookmarksWhenAddedTo) {
    const std::string rootObject = R"({"roots":{"bookmark_bar":{"type":"folder","id":"1","children":[]},
        "other":{"type":"folder","id":"5","children":{"x":{"type":"url","url":"https://x.example/","id":"6"}}}}})";
    WriteTextFile(file, rootObject);
    std::wstring error;
    EXPECT_TRUE(ReadChromiumBookmarks(file, &error).empty());
    EXPECT_NE(error.find(L"is damaged"), std::wstring::npos);
    EXPECT_EQ(WriteChromiumBookmarks(file, {Record(L"https://c.example/", L"C", L"")}, nullptr, nullptr, false), -1);
    EXPECT_EQ(ReadTextFile(file), rootObject);

    WriteTextFile(file, R"({"roots":{"bookmark_bar":{"type":"folder","id":"1","children":[
        {"type":"folder","name":"Work","id":"2","children":{"b":{"type":"url","url":"https://b.example/","id":"3"},
                                                              "a":{"type":"url","url":"https://a.example/","id":"4"}}}]},
        "other":{"type":"folder","id":"5","children":[{"type":"url","url":"https://x.example/","id":"6"}]}}})");
    ASSERT_EQ(ReadChromiumBookmarks(file, nullptr).size(), 3u);
    int skipped = -1;
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://c.example/", L"C", L"Work"),
                                            Record(L"https://a.example", L"dup", L"Work"),
                                            Record(L"https://o.example/", L"O", L"Other bookmarks")},
                                     &skipped, nullptr, false),
              2);
    EXPECT_EQ(skipped, 1);
    const auto after = ReadChromiumBookmarks(file, nullptr);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[0].url, L"https://a.example/");
    EXPECT_EQ(after[1].url, L"https://b.example/");
    EXPECT_EQ(after[2].url, L"https://c.example/");
    EXPECT_EQ(after[2].folder_path, L"Bookmarks bar/Work");
    EXPECT_EQ(after[3].url, L"https://x.example/");
    EXPECT_EQ(after[4].url, L"https://o.example/");
}

// A bookmark `folders` folders below the bookmarks bar, each folder named "f".
std::string NestedBookmarksFile(size_t folders) {
    std::string text = R"({"roots":{"bookmark_bar":{"type":"folder","id":"1","children":[)";
    for (size_t i = 0; i < folders; ++i) text += R"({"type":"folder","name":"f","id":"2","children":[)";
    text += R"({"type":"url","url":"https://deep.example/","name":"Deep","id":"3"})";
    for (size_t i = 0; i < folders; ++i) text += "]}";
    return text + "]}}}";
}

std::wstring NestedPath(const std::wstring& root, size_t folders) {
    std::wstring path = root;
    for (size_t i = 0; i < folders; ++i) path += L"/f";
    return path;
}

// A file another program wrote as deep as the reader goes is read whole and can be merged into; what
// the merge adds lands no deeper than Chromium loads.
TEST_F(ChromiumStore, NestingAtTheReadersBoundIsReadAndMergedIntoOnASmallStack) {
    WriteTextFile(file, NestedBookmarksFile(kDeepestFolderNesting));
    const std::wstring deepest = NestedPath(L"Bookmarks bar", kDeepestFolderNesting);
    std::vector<BookmarkRecord> before, after;
    int added = -2;
    std::wstring error;
    WriteShortfall shortfall;
    test::RunWithStack(test::kSmallStack, [&] {
        before = ReadChromiumBookmarks(file, &error);
        added = WriteChromiumBookmarks(file, {Record(L"https://deeper.example/", L"D", deepest),
                                              Record(L"https://fresh.example/", L"F", NestedPath(L"Other bookmarks", kDeepestFolderNesting))},
                                       nullptr, &error, false, &shortfall);
        after = ReadChromiumBookmarks(file, &error);
    });
    EXPECT_EQ(error, L"");
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].folder_path, deepest);
    EXPECT_EQ(added, 2);
    EXPECT_EQ(shortfall.moved.size(), 2u);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].folder_path, deepest);
    EXPECT_EQ(after[1].url, L"https://deeper.example/");
    EXPECT_EQ(after[1].folder_path, NestedPath(L"Bookmarks bar", kChromiumDeepestFolderNesting));
    EXPECT_EQ(after[2].folder_path, NestedPath(L"Other bookmarks", kChromiumDeepestFolderNesting));
}

TEST_F(ChromiumStore, DeeperNestingIsRefusedWholeOnASmallStack) {
    const std::string deep = NestedBookmarksFile(100000);
    WriteTextFile(file, deep);
    std::wstring readError, mergeError, replaceError;
    size_t read = 99;
    int merged = 0, replaced = 0;
    test::RunWithStack(test::kSmallStack, [&] {
        read = ReadChromiumBookmarks(file, &readError).size();
        merged = WriteChromiumBookmarks(file, {Record(L"https://n.example/", L"N", L"")}, nullptr, &mergeError, false);
        replaced = WriteChromiumBookmarks(file, {Record(L"https://n.example/", L"N", L"")}, nullptr, &replaceError, true);
    });
    EXPECT_EQ(read, 0u);
    EXPECT_NE(readError.find(L"deeper than any browser writes"), std::wstring::npos) << ToUtf8(readError);
    EXPECT_EQ(merged, -1);
    EXPECT_EQ(replaced, -1);
    EXPECT_EQ(mergeError, readError);
    EXPECT_EQ(replaceError, readError);
    EXPECT_EQ(ReadTextFile(file), deep);

    // Just past the bound.
    WriteTextFile(file, NestedBookmarksFile(kDeepestFolderNesting + 30));
    EXPECT_TRUE(ReadChromiumBookmarks(file, &readError).empty());
    EXPECT_NE(readError.find(L"deeper than any browser writes"), std::wstring::npos);

}

// The walks over a tree (the reader's, the duplicate keys', the ids', the comparison of a replace)
// take no stack per level: a file at the reader's bound is read, merged into and replaced on a stack
// far too small for one frame per folder.
TEST_F(ChromiumStore, DeepTreesOnATinyStack) {
    constexpr size_t kTinyStack = 64 * 1024;
    const std::string deep = NestedBookmarksFile(kDeepestFolderNesting);
    WriteTextFile(file, deep);
    size_t read = 0;
    int merged = -2, replaced = -2;
    std::wstring error;
    test::RunWithStack(kTinyStack, [&] {
        read = ReadChromiumBookmarks(file, &error).size();
        merged = WriteChromiumBookmarks(file, {Record(L"https://deep.example/", L"Deep", L"")}, nullptr, &error, false);
        replaced = WriteChromiumBookmarks(file, {Record(L"https://n.example/", L"N", L"")}, nullptr, &error, true);
    });
    EXPECT_EQ(error, L"");
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(merged, 0);  // already there, however deep
    EXPECT_EQ(replaced, 1);
}

TEST_F(ChromiumStore, MissingRootGetsNextIdWithoutDates) {
    WriteTextFile(file, R"({"checksum":"c","roots":{"bookmark_bar":{"type":"folder","id":"1","children":[]},
        "other":{"type":"folder","id":"41","children":[]}},"version":1})");
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://m.example/", L"M", L"Mobile bookmarks")}, nullptr, nullptr, false), 1);
    const json synced = ReadJson()["roots"]["synced"];
    EXPECT_EQ(synced["id"], "42");
    EXPECT_EQ(synced["name"], "Mobile bookmarks");
    EXPECT_FALSE(synced.contains("date_added"));
    EXPECT_FALSE(synced.contains("date_modified"));
    EXPECT_EQ(synced["children"][0]["id"], "43");
}

TEST_F(ChromiumStore, ReplaceEmptiesEveryRootBeforeAdding) {
    std::string withCustomRoot = kBrowserFile;
    withCustomRoot.replace(withCustomRoot.find("\"sync_metadata\""), 0,
                           "\"workspace\": {\"type\":\"folder\",\"children\":[{\"type\":\"url\",\"url\":\"w\"}]},\n");
    // The custom root belongs inside "roots": move it there.
    json doc = json::parse(withCustomRoot);
    doc["roots"]["workspace"] = doc["workspace"];
    doc.erase("workspace");
    doc["roots"]["broken"] = 5;  // not an object: left alone
    WriteTextFile(file, doc.dump());

    int skipped = -1;
    ASSERT_EQ(WriteChromiumBookmarks(file,
                                     {Record(L"https://Example.com/a", L"Back", L""), Record(L"https://example.com/a/", L"Twice", L"")},
                                     &skipped, nullptr, true),
              1);
    EXPECT_EQ(skipped, 1);
    const json after = ReadJson();
    EXPECT_EQ(after["roots"]["bookmark_bar"]["children"].size(), 1u);
    EXPECT_EQ(after["roots"]["bookmark_bar"]["children"][0]["name"], "Back");
    // Ids continue after the highest id left once the roots were emptied.
    EXPECT_EQ(after["roots"]["bookmark_bar"]["children"][0]["id"], "4");
    EXPECT_TRUE(after["roots"]["other"]["children"].empty());
    EXPECT_TRUE(after["roots"]["synced"]["children"].empty());
    EXPECT_TRUE(after["roots"]["workspace"]["children"].empty());
    EXPECT_EQ(after["roots"]["broken"], 5);
    EXPECT_EQ(after["roots"]["bookmark_bar"]["guid"], "0bc5d13f-2cba-5d74-951f-3f233fe6c908");

    ASSERT_EQ(WriteChromiumBookmarks(file, {}, &skipped, nullptr, true), 0);
    EXPECT_EQ(skipped, 0);
    EXPECT_TRUE(ReadJson()["roots"]["bookmark_bar"]["children"].empty());
}

// Chromium drops a bookmark without an address when it loads the file: such records are left out
// and counted apart from duplicates, and a merge of nothing else leaves no file behind.
TEST_F(ChromiumStore, EmptyUrlsAreLeftOutAndCounted) {
    int skipped = -1;
    WriteShortfall shortfall;
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"", L"", L""), Record(L"", L"Second", L"")}, &skipped, nullptr, false,
                                     &shortfall),
              0);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(shortfall.urlUnusable, 2);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A plan is committed only over the file it was made from: a file changed or created since is left as
// it is, and the caller is told so that it plans again.
TEST_F(ChromiumStore, APlanIsNotCommittedOverAFileChangedSince) {
    const std::string changed = R"({"roots":{"bookmark_bar":{"type":"folder","children":[]},"other":{"type":"folder",
        "children":[]},"synced":{"type":"folder","children":[]}}})";
    for (const bool existed : {true, false}) {
        SCOPED_TRACE(existed ? "file there" : "no file");
        DeleteFileW(file.c_str());
        if (existed) WriteTextFile(file, kBrowserFile);
        ChromiumWritePlan plan;
        std::wstring error;
        ASSERT_TRUE(PlanChromiumWrite(file, {Record(L"https://new.example/", L"New", L"")}, false, plan, &error));
        ASSERT_TRUE(plan.changes);
        WriteTextFile(file, changed);
        bool fileChanged = false;
        EXPECT_FALSE(CommitChromiumWrite(file, plan, &error, &fileChanged));
        EXPECT_TRUE(fileChanged);
        EXPECT_EQ(error, L"Bookmarks file was changed by another program while this write was prepared; it was left as it is.");
        EXPECT_EQ(ReadTextFile(file), changed);
        // Planned again from what it holds now, it is written.
        ASSERT_TRUE(PlanChromiumWrite(file, {Record(L"https://new.example/", L"New", L"")}, false, plan, &error));
        EXPECT_TRUE(CommitChromiumWrite(file, plan, &error, &fileChanged)) << ToUtf8(error);
        EXPECT_FALSE(fileChanged);
        EXPECT_EQ(ReadChromiumBookmarks(file, &error).size(), 1u);
    }
}

TEST_F(ChromiumStore, OutputFormatting) {
    WriteTextFile(file, kBrowserFile);
    ASSERT_EQ(WriteChromiumBookmarks(file, {Record(L"https://書籤.example/", L"書籤", L"")}, nullptr, nullptr, false), 1);
    const std::string text = ReadTextFile(file);
    EXPECT_EQ(text.back(), '}');
    EXPECT_EQ(text.substr(0, 5), "{\n   ");
    EXPECT_NE(text.find("\"name\": \"\xE6\x9B\xB8\xE7\xB1\xA4\""), std::string::npos);  // raw UTF-8, not \u escapes
    EXPECT_EQ(text, json::parse(text).dump(3));  // keys sorted, indent 3
}

TEST_F(ChromiumStore, RoundTripThroughReader) {
    const std::vector<BookmarkRecord> records = {
        Record(L"https://a.example/", L"A", L"Bookmarks bar"),
        Record(L"https://b.example/", L"B", L"Bookmarks bar/Work/Deep"),
        Record(L"https://c.example/", L"C", L"Other bookmarks/Ärger"),
        Record(L"https://d.example/", L"D", L"Mobile bookmarks"),
    };
    ASSERT_EQ(WriteChromiumBookmarks(file, records, nullptr, nullptr, true), 4);
    const auto back = ReadChromiumBookmarks(file, nullptr);
    ASSERT_EQ(back.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(back[i].url, records[i].url);
        EXPECT_EQ(back[i].title, records[i].title);
        EXPECT_EQ(back[i].folder_path, records[i].folder_path);
        EXPECT_EQ(back[i].date_added, records[i].date_added);
    }
}

TEST_F(ChromiumStore, UnwritableTargetKeepsOriginal) {
    WriteTextFile(file, kBrowserFile);
    const auto records = std::vector<BookmarkRecord>{Record(L"https://x.example/", L"X", L"")};

    test::SetReadOnly(file, true);
    std::wstring error;
    int skipped = -3;
    EXPECT_EQ(WriteChromiumBookmarks(file, records, &skipped, &error, true), -1);
    EXPECT_EQ(error, L"Could not open Bookmarks file for writing.");
    EXPECT_EQ(skipped, -3);
    test::SetReadOnly(file, false);
    EXPECT_EQ(ReadTextFile(file), kBrowserFile);

    // Held open by another program without sharing.
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    error.clear();
    EXPECT_EQ(WriteChromiumBookmarks(file, records, &skipped, &error, true), -1);
    EXPECT_FALSE(error.empty());
    CloseHandle(held);
    EXPECT_EQ(ReadTextFile(file), kBrowserFile);

    // No temporary file is left behind.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir.path() + L"\\*").c_str(), &data);
    int entries = 0;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") ++entries;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace bm
