// A seeded mutation run over the Firefox places.sqlite reader: a damaged database ends in an error
// text, never in a crash, an escaping exception, or a part of the bookmarks read as the whole (a
// success must give every bookmark of the fixture).

#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>

#include "core/firefox_places.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/mutator.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::Mutant;
using test::Mutator;

constexpr size_t kPageSize = 1024;  // small pages: more of them in a small file, and cheap cases

std::string MakePlacesFixture(const test::TempDir& dir, size_t& bookmarks) {
    const std::wstring path = dir / L"fixture.sqlite";
    test::PlacesFixtureOptions options;
    options.wal = false;
    test::CreateFirefoxPlaces(path, options);
    {
        test::FirefoxPlaces places(path);
        bookmarks = 0;
        int64_t folder = test::kPlacesToolbarId;
        for (int level = 0; level < 4; ++level) {
            folder = places.AddFolder(folder, "Level " + std::to_string(level));
            for (int i = 0; i < 10; ++i) {
                places.AddBookmark(folder, "https://l" + std::to_string(level) + ".example/" + std::to_string(i),
                                   "Bookmark " + std::to_string(i) + " \xC3\xA4");
                ++bookmarks;
            }
        }
        for (int i = 0; i < 20; ++i, ++bookmarks)
            places.AddBookmark(test::kPlacesUnfiledId, "https://other.example/" + std::to_string(i), "Other");
        places.AddVisitedPlace("https://visited.example/", "Only visited");
        places.Exec("PRAGMA page_size = " + std::to_string(kPageSize) + "; VACUUM;");
    }
    return test::ReadTextFile(path);
}

TEST(MutationRun, FirefoxPlaces) {
    test::TempDir dir;
    size_t bookmarks = 0;
    const std::string original = MakePlacesFixture(dir, bookmarks);
    ASSERT_EQ(original.size() % kPageSize, 0u);
    const std::wstring file = dir / L"places.sqlite";
    test::WriteTextFile(file, original);
    {
        std::wstring error;
        ASSERT_EQ(ReadFirefoxBookmarks(file, &error).size(), bookmarks) << ToUtf8(error);
    }

    // Cuts at, just before and just after every page boundary, then seeded mutations of any byte.
    std::vector<Mutant> cases;
    for (size_t boundary = 0; boundary < original.size(); boundary += kPageSize) {
        for (size_t length : {boundary, boundary + 1, boundary + kPageSize / 2, boundary + kPageSize - 1})
            if (length < original.size()) cases.push_back(Mutator::CutAt(original, length));
    }
    Mutator mutator(0x5EED0004, {});
    for (int i = 0; i < 2000; ++i) cases.push_back(mutator.Next(original));

    test::MutationTally run;
    test::RunWithStack(test::kSmallStack, [&] {
        for (const Mutant& mutant : cases) {
            for (const wchar_t* side : {L"-journal", L"-wal", L"-shm"}) DeleteFileW((file + side).c_str());
            test::WriteTextFile(file, mutant.bytes);
            std::wstring error;
            std::vector<BookmarkRecord> records;
            run.Read(mutant, [&](std::wstring* e) { return ReadFirefoxBookmarks(file, e); }, records, error);
            // Damage refused is fine; damage read as fewer (or more) bookmarks is a part given as the whole.
            if (error.empty() && records.size() != bookmarks) run.Fault("damaged file read as another set", mutant);
        }
    });
    std::cout << run.Summary("places.sqlite") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("places.sqlite");
}

}  // namespace
}  // namespace bm
