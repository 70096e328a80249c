// Seeded mutation runs over the readers of files that other programs (or the user) hand us: every
// case must end in a result or an error text, never in a crash or an escaping exception, and an
// input cut short must never read as a success. Each run works on a thread with a small stack.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <tuple>

#include "core/chromium_bookmarks.h"
#include "core/firefox_profiles.h"
#include "core/portable_export.h"
#include "tests/support/mutator.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::Mutant;
using test::Mutator;
using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

// Tallies of one run; every field but the first three must stay zero.
struct RunFaults {
    size_t cases = 0;
    size_t readOk = 0;
    size_t refused = 0;
    size_t uncaught = 0;
    size_t cutShortAccepted = 0;
    size_t malformedResult = 0;
    size_t writerChangedRefusedFile = 0;
    size_t writerAcceptedDamaged = 0;
    size_t writerRefusedSound = 0;
    size_t bookmarksLost = 0;
    std::vector<std::string> examples;

    void Note(size_t& counter, const Mutant& mutant, const char* what) {
        ++counter;
        if (examples.size() < 8) examples.push_back(std::string(what) + ": " + mutant.description);
    }
    size_t Faults() const {
        return uncaught + cutShortAccepted + malformedResult + writerChangedRefusedFile + writerAcceptedDamaged +
               writerRefusedSound + bookmarksLost;
    }
    std::string Summary(const char* format) const {
        std::ostringstream out;
        out << format << ": " << cases << " cases, " << readOk << " read, " << refused << " refused; uncaught "
            << uncaught << ", cut short read as success " << cutShortAccepted << ", malformed results "
            << malformedResult << ", refused file changed " << writerChangedRefusedFile << ", damaged file written "
            << writerAcceptedDamaged << ", sound file refused " << writerRefusedSound << ", bookmarks lost "
            << bookmarksLost;
        for (const std::string& example : examples) out << "\n  " << example;
        return out.str();
    }
};

// Every cut of the original, then `random` seeded mutations.
std::vector<Mutant> Cases(const std::string& original, Mutator& mutator, size_t random) {
    std::vector<Mutant> cases;
    for (size_t length = 0; length < original.size(); ++length) cases.push_back(Mutator::CutAt(original, length));
    for (size_t i = 0; i < random; ++i) cases.push_back(mutator.Next(original));
    return cases;
}

using Entry = std::tuple<std::wstring, std::wstring, std::wstring>;

std::vector<Entry> Entries(const std::vector<BookmarkRecord>& records) {
    std::vector<Entry> entries;
    for (const BookmarkRecord& r : records) entries.emplace_back(r.url, r.title, r.folder_path);
    std::sort(entries.begin(), entries.end());
    return entries;
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
    const std::vector<Mutant> cases = Cases(original, mutator, 3000);
    const BookmarkRecord added{0, 0, L"https://added.example/", L"Added", L"Work", 1700000000};
    RunFaults run;
    size_t written = 0;
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            ++run.cases;
            // Every case is read from memory; every fourth also goes through a real file, to the
            // merge writer (or, one time in three, the replace writer).
            const bool throughFile = i % 4 == 0;
            if (throughFile) WriteTextFile(file, mutant.bytes);
            std::wstring error;
            std::vector<BookmarkRecord> before;
            try {
                before = throughFile ? ReadChromiumBookmarks(file, &error) : ReadChromiumBookmarksText(mutant.bytes, &error);
            } catch (...) {
                run.Note(run.uncaught, mutant, "reader threw");
                continue;
            }
            const bool readOk = error.empty();
            ++(readOk ? run.readOk : run.refused);
            if (readOk && mutant.cutShort) run.Note(run.cutShortAccepted, mutant, "cut short read");
            if (!readOk && !before.empty()) run.Note(run.malformedResult, mutant, "records with an error");
            for (const BookmarkRecord& r : before)
                if (r.url.empty()) run.Note(run.malformedResult, mutant, "empty url");

            if (!throughFile) continue;
            const bool replace = i % 3 == 2;
            ++written;
            std::wstring writeError;
            int result = 0;
            try {
                result = WriteChromiumBookmarks(file, {added}, nullptr, &writeError, replace);
            } catch (...) {
                run.Note(run.uncaught, mutant, "writer threw");
                continue;
            }
            const bool blank = IsBlankJsonText(mutant.bytes);
            if (result < 0) {
                if (ReadTextFile(file) != mutant.bytes) run.Note(run.writerChangedRefusedFile, mutant, "refused but changed");
                // The writer refuses, beyond what the reader refuses, only roots of the wrong type.
                if (readOk && writeError.find(L"unexpected structure") == std::wstring::npos)
                    run.Note(run.writerRefusedSound, mutant, "sound file refused");
                continue;
            }
            if (!readOk && !blank) {
                run.Note(run.writerAcceptedDamaged, mutant, "damaged file written");
                continue;
            }
            std::wstring afterError;
            const auto after = ReadChromiumBookmarks(file, &afterError);
            if (!afterError.empty()) run.Note(run.bookmarksLost, mutant, "written file unreadable");
            if (replace) continue;
            const auto was = Entries(before);
            const auto now = Entries(after);
            if (!std::includes(now.begin(), now.end(), was.begin(), was.end()))
                run.Note(run.bookmarksLost, mutant, "merge lost a bookmark");
        }
    });
    std::cout << run.Summary("Bookmarks") << ", " << written << " through the writer\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("Bookmarks");
    EXPECT_GT(run.readOk, 100u);  // the run also reaches the writer with sound files
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
    const std::vector<Mutant> cases = Cases(original, mutator, 4000);
    RunFaults run;
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            ++run.cases;
            // From memory, and every tenth case through a real file.
            const bool throughFile = i % 10 == 0;
            if (throughFile) WriteTextFile(file, mutant.bytes);
            std::wstring error;
            std::vector<BookmarkRecord> records;
            try {
                records = throughFile ? ImportJson(file, &error) : ImportJsonText(mutant.bytes, &error);
            } catch (...) {
                run.Note(run.uncaught, mutant, "import threw");
                continue;
            }
            const bool ok = error.empty();
            ++(ok ? run.readOk : run.refused);
            if (ok && mutant.cutShort) run.Note(run.cutShortAccepted, mutant, "cut short read");
            if (!ok && !records.empty()) run.Note(run.malformedResult, mutant, "records with an error");
            for (const BookmarkRecord& r : records)
                if (r.url.empty() || r.id != 0) run.Note(run.malformedResult, mutant, "malformed record");
        }
    });
    std::cout << run.Summary("JSON export") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("JSON export");
    EXPECT_GT(run.readOk, 100u);
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
    const std::vector<Mutant> cases = Cases(original, mutator, 4000);
    RunFaults run;
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
                run.Note(run.uncaught, mutant, "lookup threw");
                continue;
            }
            ++(found ? run.readOk : run.refused);
            if (!found) continue;
            const std::wstring& path = *found;
            if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
                run.Note(run.malformedResult, mutant, "not a places.sqlite path");
            for (wchar_t c : path)
                if (c < 0x20) {
                    run.Note(run.malformedResult, mutant, "control character in the path");
                    break;
                }
        }
    });
    std::cout << run.Summary("profiles.ini") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("profiles.ini");
    EXPECT_GT(run.readOk, 100u);
}

}  // namespace
}  // namespace bm
