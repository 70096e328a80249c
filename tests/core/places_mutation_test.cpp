// A seeded mutation run over the Firefox places.sqlite reader: a damaged database ends in an error
// text, never in a crash, an escaping exception, or a part of the bookmarks read as the whole (a
// success must give every bookmark of the fixture), and a success gives what an independent reading
// of the same file by SQL gives, address, title and folder of every bookmark.

#include <windows.h>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <tuple>

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

// In one order, so that two readings compare whatever order each walks the tree in.
std::vector<BookmarkRecord> Sorted(std::vector<BookmarkRecord> records) {
    std::sort(records.begin(), records.end(), [](const BookmarkRecord& a, const BookmarkRecord& b) {
        return std::tie(a.folder_path, a.url, a.title) < std::tie(b.folder_path, b.url, b.title);
    });
    return records;
}

// An independent reading of the bookmarks of a places.sqlite, by SQL alone: the folder tree walked
// down from the root with a recursive query (the four roots by their fixed names, the tags root
// left out), each bookmark with its page's address, its title and its folder's path. The tables are
// read whole, without their indexes, as the reader reads them. Nothing when SQLite finds the file
// damaged on the way, or when a bookmark has no page or its page no address.
std::optional<std::vector<BookmarkRecord>> IndependentReading(const std::wstring& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return std::nullopt;
    }
    const char* sql =
        "WITH RECURSIVE tree(id, path, tags, depth) AS ("
        "  SELECT id, NULL, 0, 0 FROM moz_bookmarks NOT INDEXED WHERE guid = 'root________' AND type = 2"
        "  UNION ALL"
        "  SELECT b.id,"
        "    CASE WHEN t.path IS NULL THEN '' ELSE t.path || '/' END ||"
        "      CASE b.guid WHEN 'menu________' THEN 'Bookmarks Menu' WHEN 'toolbar_____' THEN 'Bookmarks Toolbar'"
        "      WHEN 'unfiled_____' THEN 'Other Bookmarks' WHEN 'mobile______' THEN 'Mobile Bookmarks'"
        "      ELSE IFNULL(b.title, '') END,"
        "    t.tags OR b.guid = 'tags________', t.depth + 1"
        "  FROM moz_bookmarks b NOT INDEXED JOIN tree t ON b.parent = t.id WHERE b.type = 2 AND t.depth < 2000)"
        "SELECT p.url, IFNULL(b.title, ''), t.path, p.id IS NULL FROM moz_bookmarks b NOT INDEXED JOIN tree t ON b.parent = t.id"
        "  LEFT JOIN moz_places p ON p.id = b.fk WHERE b.type = 1 AND NOT t.tags";
    sqlite3_stmt* statement = nullptr;
    std::optional<std::vector<BookmarkRecord>> result;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
        auto text = [&](int column) {
            const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            return ToWide(std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, column))));
        };
        result.emplace();
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            const std::wstring url = text(0);
            if (sqlite3_column_int(statement, 3) != 0 || url.empty()) {
                rc = SQLITE_CORRUPT;  // a bookmark without its page or address is damage, not a drop
                break;
            }
            result->push_back({0, 0, url, text(1), text(2), 0});
        }
        if (rc != SQLITE_DONE) result.reset();
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (result) *result = Sorted(std::move(*result));
    return result;
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
        const std::vector<BookmarkRecord> records = ReadFirefoxBookmarks(file, &error);
        ASSERT_EQ(records.size(), bookmarks) << ToUtf8(error);
        // The judge reads the fixture as the reader does.
        test::MutationTally check;
        check.CheckSame({}, Sorted(records), bookmarks, IndependentReading(file));
        ASSERT_EQ(check.Faults(), 0u) << check.Summary("fixture");
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
            // Damage refused is fine; damage read as fewer (or more) bookmarks is a part given as the whole,
            // and a read must give what the file holds, each bookmark with its own address, title and folder.
            if (error.empty() && records.size() != bookmarks) run.Fault("damaged file read as another set", mutant);
            if (error.empty()) run.CheckSame(mutant, Sorted(records), bookmarks, IndependentReading(file));
        }
    });
    std::cout << run.Summary("places.sqlite") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("places.sqlite");
}

}  // namespace
}  // namespace bm
