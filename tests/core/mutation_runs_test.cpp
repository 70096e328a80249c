// Seeded mutation runs over the readers of files that other programs (or the user) hand us: every
// case must end in a result or an error text, never in a crash or an escaping exception, an input
// cut short must never read as a success, and every read that succeeds is a sound file read exactly
// as a browser's own reading of it (or the export format's rules) reads it: the same addresses,
// titles and folders. Each run works on a thread with a small stack.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "core/chromium_bookmarks.h"
#include "core/firefox_profiles.h"
#include "core/portable_export.h"
#include "tests/support/mutator.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::Mutant;
using test::MutationTally;
using test::Mutator;
using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

using Entry = std::tuple<std::wstring, std::wstring, std::wstring>;

std::vector<Entry> Entries(const std::vector<BookmarkRecord>& records) {
    std::vector<Entry> entries;
    for (const BookmarkRecord& r : records) entries.emplace_back(r.url, r.title, r.folder_path);
    std::sort(entries.begin(), entries.end());
    return entries;
}

using nlohmann::json;

// In one order, for readings that walk a tree in another order.
std::vector<BookmarkRecord> Sorted(std::vector<BookmarkRecord> records) {
    std::sort(records.begin(), records.end(), [](const BookmarkRecord& a, const BookmarkRecord& b) {
        return std::tie(a.folder_path, a.url, a.title) < std::tie(b.folder_path, b.url, b.title);
    });
    return records;
}

// The deepest nesting of arrays and objects in a parsed value, walked without recursion.
size_t Nesting(const json& value) {
    size_t deepest = 0;
    std::vector<std::pair<const json*, size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        if (!node->is_structured()) continue;
        deepest = std::max(deepest, depth);
        for (const json& child : *node) pending.push_back({&child, depth + 1});
    }
    return deepest;
}

// The bookmarks a Chromium-family browser reads from a Bookmarks file (each root by the program's
// label for it, sorted), or nothing when it refuses the file, following the rules of its own reader:
// one JSON value with nothing but white space after it, at most 200 levels deep, the three roots
// present, every node a bookmark with an address text or a folder with a list of children.
std::optional<std::vector<BookmarkRecord>> BrowserReading(const std::string& bytes) {
    const json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object() || Nesting(document) > 200) return std::nullopt;
    auto roots = document.find("roots");
    if (roots == document.end() || !roots->is_object()) return std::nullopt;
    std::vector<BookmarkRecord> records;
    for (const char* key : {"bookmark_bar", "other", "synced"}) {
        auto root = roots->find(key);
        if (root == roots->end() || !root->is_object()) return std::nullopt;
        // The lists still to walk, each with its folder's path; the root by the program's own label.
        std::vector<std::pair<const json*, std::wstring>> lists;
        auto children = root->find("children");
        if (children == root->end() || !children->is_array()) return std::nullopt;
        lists.push_back({&*children, RootLabel(ToWide(key))});
        while (!lists.empty()) {
            const auto [list, path] = lists.back();
            lists.pop_back();
            for (const json& node : *list) {
                if (!node.is_object()) return std::nullopt;
                auto type = node.find("type");
                if (type == node.end() || !type->is_string()) return std::nullopt;
                if (*type == "url") {
                    auto url = node.find("url");
                    if (url == node.end() || !url->is_string()) return std::nullopt;
                    auto name = node.find("name");
                    records.push_back({0, 0, ToWide(url->get<std::string>()),
                                       name != node.end() && name->is_string() ? ToWide(name->get<std::string>()) : L"",
                                       path, 0});
                } else if (*type == "folder") {
                    auto inner = node.find("children");
                    if (inner == node.end() || !inner->is_array()) return std::nullopt;
                    auto name = node.find("name");
                    lists.push_back(
                        {&*inner, path + L"/" + (name != node.end() && name->is_string() ? ToWide(name->get<std::string>()) : L"")});
                } else {
                    return std::nullopt;
                }
            }
        }
    }
    return Sorted(std::move(records));
}

// The bookmarks a sound export holds, in order, or nothing when it is not one: one JSON value, an
// array of bookmarks or an object with one, each an object with an address and texts and a number
// where the format has them.
std::optional<std::vector<BookmarkRecord>> ExportReading(const std::string& bytes) {
    const json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    const json* list = document.is_array() ? &document : nullptr;
    if (document.is_object() && document.contains("bookmarks")) list = &document["bookmarks"];
    if (!list || !list->is_array()) return std::nullopt;
    for (const json& e : *list) {
        if (!e.is_object() || !e.contains("url") || !e["url"].is_string() || e["url"].get<std::string>().empty())
            return std::nullopt;
        for (const char* key : {"title", "folder_path"})
            if (e.contains(key) && !e[key].is_string() && !e[key].is_null()) return std::nullopt;
        if (e.contains("date_added") && !e["date_added"].is_number() && !e["date_added"].is_null()) return std::nullopt;
    }
    std::vector<BookmarkRecord> records;
    auto text = [](const json& e, const char* key) {
        return e.contains(key) && e[key].is_string() ? ToWide(e[key].get<std::string>()) : std::wstring();
    };
    for (const json& e : *list) records.push_back({0, 0, text(e, "url"), text(e, "title"), text(e, "folder_path"), 0});
    return records;
}

const char kBookmarksFixture[] = R"({
   "checksum": "5d41402abc4b2a76b9719d911017c592",
   "roots": {
      "bookmark_bar": {
         "children": [ {
            "date_added": "13345678901234567",
            "guid": "00000000-0000-4000-8000-000000000001",
            "id": "4",
            "meta_info": { "last_visited_desktop": "13345678901234567" },
            "name": "Docs \"quoted\" \\ back",
            "type": "url",
            "url": "https://docs.example.org/a?b=c&d"
         }, {
            "children": [ {
               "children": [ {
                  "date_added": "13345678901234567",
                  "id": "7",
                  "name": "Tief",
                  "type": "url",
                  "url": "https://deep.example/\u00e4"
               } ],
               "date_added": "13345678901234567",
               "date_modified": "0",
               "id": "6",
               "name": "Inner",
               "type": "folder"
            }, {
               "date_added": "13345678901234567",
               "id": "8",
               "name": "Work item",
               "type": "url",
               "url": "https://work.example/"
            } ],
            "date_added": "13345678901234567",
            "date_modified": "0",
            "id": "5",
            "name": "Work",
            "type": "folder"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "id": "1",
         "name": "Bookmarks bar",
         "type": "folder"
      },
      "other": {
         "children": [ {
            "date_added": "13345678901234567",
            "id": "9",
            "name": "Закладка",
            "type": "url",
            "url": "https://пример.рф/"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "id": "2",
         "name": "Other bookmarks",
         "type": "folder"
      },
      "synced": {
         "children": [ {
            "date_added": "13345678901234567",
            "id": "10",
            "name": "Phone",
            "type": "url",
            "url": "https://m.example/"
         } ],
         "date_added": "13345678901234567",
         "date_modified": "0",
         "id": "3",
         "name": "Mobile bookmarks",
         "type": "folder"
      }
   },
   "version": 1
})";

const test::MutationAlphabet kJsonAlphabet = {
    "{}[],:\"\\ 0-eE.tfn\n",
    {{"[", "]"}, {"{\"a\":", "}"}, {R"({"type":"folder","name":"n","children":[)", "]}"}}};

TEST(MutationRun, ChromiumBookmarksReaderAndMergeWriter) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    const std::string original = kBookmarksFixture;
    WriteTextFile(file, original);
    ASSERT_EQ(ReadChromiumBookmarks(file, nullptr).size(), 5u);

    Mutator mutator(0x5EED0001, kJsonAlphabet);
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 3000);
    const BookmarkRecord added{0, 0, L"https://added.example/", L"Added", L"Work", 1700000000};
    MutationTally run;
    size_t written = 0;
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            // Every case is read from memory; every fourth also goes through a real file, to the
            // merge writer (or, one time in three, the replace writer).
            const bool throughFile = i % 4 == 0;
            if (throughFile) WriteTextFile(file, mutant.bytes);
            std::wstring error;
            std::vector<BookmarkRecord> before;
            if (!run.Read(mutant,
                          [&](std::wstring* e) {
                              return throughFile ? ReadChromiumBookmarks(file, e) : ReadChromiumBookmarksText(mutant.bytes, e);
                          },
                          before, error))
                continue;
            const bool readOk = error.empty();
            if (readOk) run.CheckSame(mutant, Sorted(before), 5, BrowserReading(mutant.bytes));

            if (!throughFile) continue;
            const bool replace = i % 3 == 2;
            ++written;
            std::wstring writeError;
            int result = 0;
            try {
                result = WriteChromiumBookmarks(file, {added}, nullptr, &writeError, replace);
            } catch (...) {
                run.Fault("writer threw", mutant);
                continue;
            }
            const bool blank = IsBlankJsonText(mutant.bytes);
            if (result < 0) {
                if (ReadTextFile(file) != mutant.bytes) run.Fault("refused but changed", mutant);
                // The writer refuses, beyond what the reader refuses, only roots of the wrong type.
                if (readOk && writeError.find(L"unexpected structure") == std::wstring::npos)
                    run.Fault("sound file refused", mutant);
                continue;
            }
            if (!readOk && !blank) {
                run.Fault("damaged file written", mutant);
                continue;
            }
            std::wstring afterError;
            const auto after = ReadChromiumBookmarks(file, &afterError);
            if (!afterError.empty()) run.Fault("written file unreadable", mutant);
            if (replace) continue;
            const auto was = Entries(before);
            const auto now = Entries(after);
            if (!std::includes(now.begin(), now.end(), was.begin(), was.end()))
                run.Fault("merge lost a bookmark", mutant);
        }
    });
    std::cout << run.Summary("Bookmarks") << "\n  (" << written << " of the cases also went through the writers)\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("Bookmarks");
    EXPECT_GT(run.accepted, 100u);  // the run also reaches the writer with sound files
}

const char kExportFixture[] = R"({
  "app": "Orvellane",
  "bookmarks": [
    {
      "date_added": 1700000000,
      "folder_path": "Bookmarks bar/Work",
      "title": "Work \"quoted\" \\ back",
      "url": "https://work.example/a?b=c&d"
    },
    {
      "date_added": 0,
      "folder_path": "",
      "title": "",
      "url": "https://no-title.example/"
    },
    {
      "date_added": -11644473600,
      "folder_path": "Other bookmarks/Ärger/Tief",
      "title": "Закладка",
      "url": "https://пример.рф/"
    },
    {
      "date_added": 1699999999,
      "folder_path": "Mobile bookmarks",
      "title": "Phone\u0007",
      "url": "https://m.example/"
    }
  ],
  "exported_at": 1700000001,
  "format_version": 1
})";

TEST(MutationRun, JsonExportImport) {
    TempDir dir;
    const std::wstring file = dir / L"export.json";
    const std::string original = kExportFixture;
    WriteTextFile(file, original);
    ASSERT_EQ(ImportJson(file, nullptr).size(), 4u);

    Mutator mutator(0x5EED0002, kJsonAlphabet);
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 4000);
    MutationTally run;
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            // From memory, and every tenth case through a real file.
            const bool throughFile = i % 10 == 0;
            if (throughFile) WriteTextFile(file, mutant.bytes);
            std::wstring error;
            std::vector<BookmarkRecord> records;
            if (!run.Read(mutant,
                          [&](std::wstring* e) { return throughFile ? ImportJson(file, e) : ImportJsonText(mutant.bytes, e); },
                          records, error))
                continue;
            if (error.empty()) run.CheckSame(mutant, records, 4, ExportReading(mutant.bytes));
            for (const BookmarkRecord& r : records)
                if (r.id != 0) run.Fault("record with an id", mutant);
        }
    });
    std::cout << run.Summary("JSON export") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("JSON export");
    EXPECT_GT(run.accepted, 100u);
}

const char kProfilesFixture[] =
    "[Install308046B0AF4A39CB]\r\nDefault=Profiles/abcd1234.default-release\r\nLocked=1\r\n\r\n"
    "[Profile1]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/efgh5678.default\r\nDefault=1\r\n\r\n"
    "[Profile0]\r\nName=default-release\r\nIsRelative=1\r\nPath=Profiles/abcd1234.default-release\r\n\r\n"
    "[Profile2]\r\nName=work\r\nIsRelative=0\r\nPath=D:/Mozilla/Work\u00e4\r\n\r\n"
    "[General]\r\nStartWithLastProfile=1\r\nVersion=2\r\n";

TEST(MutationRun, ProfilesIni) {
    // profiles.ini has no closing mark, so a cut file cannot be told from a shorter one: the run asks
    // for no crash, no exception, and a result that is a places.sqlite path without control characters.
    TempDir dir;
    const std::wstring file = dir / L"profiles.ini";
    const std::string original = kProfilesFixture;
    WriteTextFile(file, original);
    ASSERT_EQ(FindFirefoxPlaces(dir.path()).value_or(L""), dir / L"Profiles\\abcd1234.default-release\\places.sqlite");

    Mutator mutator(0x5EED0003, {std::string("[]=\r\n;#/\\\0", 10), {{"[", "]"}, {"[Profile", "\n"}}});
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 4000);
    MutationTally run;
    const std::wstring suffix = L"\\places.sqlite";
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            ++run.cases;
            const bool throughFile = i % 10 == 0;
            if (throughFile) WriteTextFile(file, mutant.bytes);
            std::optional<std::wstring> found;
            try {
                found = throughFile ? FindFirefoxPlaces(dir.path()) : ChooseFirefoxPlaces(mutant.bytes, dir.path());
            } catch (...) {
                run.Fault("lookup threw", mutant);
                continue;
            }
            ++(found ? run.accepted : run.refused);
            if (!found) continue;
            const std::wstring& path = *found;
            if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
                run.Fault("not a places.sqlite path", mutant);
            for (wchar_t c : path)
                if (c < 0x20) {
                    run.Fault("control character in the path", mutant);
                    break;
                }
        }
    });
    std::cout << run.Summary("profiles.ini") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("profiles.ini");
    EXPECT_GT(run.accepted, 100u);
}

}  // namespace
}  // namespace bm
