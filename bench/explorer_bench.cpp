// The explorer at N rows of a saved profile:
//   load:      the view filled from the profile's texts (what a reload costs the frame), against
//              reading the same three texts in the same order straight from SQLite; the records
//              GetBookmarks gives (what the sync reads) are timed beside it;
//   keystroke: each letter of a search typed one at a time (median over the letters), against the
//              same search done in full over texts lowered beforehand;
//   new search: one search that does not extend the last one, against the same floor.
// Targets: at most 1.5 times the floor; at 100k also a keystroke within 8 ms and a load within 150 ms.
#include "bench/explorer_bench.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/panels/explorer_view.h"
#include "bench/dataset.h"
#include "core/sql_statement.h"
#include "database/app_database.h"

namespace bm::bench {
namespace {

double MsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The three texts of every row, lowered once: the plain search with nothing to make first.
struct LoweredTexts {
    std::vector<std::string> title, url, folder;
};

size_t PlainSearch(const LoweredTexts& texts, const std::string& needle) {
    size_t shown = 0;
    for (size_t i = 0; i < texts.title.size(); ++i)
        if (texts.title[i].find(needle) != std::string::npos || texts.url[i].find(needle) != std::string::npos ||
            texts.folder[i].find(needle) != std::string::npos)
            ++shown;
    return shown;
}

// The same texts in the same order, read over a connection set up as the program's own.
void ReadTextsFloor(sqlite3* db, int64_t profileId, std::string& out) {
    {
        Statement select = PrepareOrThrow(
            db, "SELECT title, url, folder_path FROM bookmarks WHERE profile_id = ? ORDER BY id");
        BindInt64(select, 1, profileId);
        out.clear();
        while (StepRow(select)) {
            for (int column = 0; column < 3; ++column) {
                out += ColumnText(select, column);
                out.push_back('\0');
            }
        }
    }
}

}  // namespace

void BenchExplorer(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const std::wstring file = dir / L"app_data.explorer.db";
    AppDatabase database;
    if (!database.Open(file)) std::exit(1);
    const int64_t profileId = database.CreateProfile(L"Explorer");
    database.AddBookmarks(profileId, MakeBookmarks(n, 9));
    const int reps = n >= 100000 ? 5 : 9;

    ui::ExplorerView view;
    std::vector<BookmarkRecord> loaded;
    Row load{"explorer load", n};
    load.maxRatio = 1.5;
    load.ms = MedianMs(reps, nullptr, [&] {
        if (!view.LoadProfile(database, profileId)) std::exit(1);
    });
    std::string floorTexts;
    sqlite3* floorDb = nullptr;
    if (sqlite3_open16(file.c_str(), &floorDb) != SQLITE_OK) std::exit(1);
    sqlite3_exec(floorDb, kWriteCacheSizePragma, nullptr, nullptr, nullptr);
    ReadTextsFloor(floorDb, profileId, floorTexts);  // the same warm cache as the program's connection
    load.floorMs = MedianMs(reps, nullptr, [&] { ReadTextsFloor(floorDb, profileId, floorTexts); });
    sqlite3_close(floorDb);
    rows.push_back(load);
    // GetBookmarks has its own row with its own floor in the profile group; here it only gives the
    // records to check the view against.
    loaded = database.GetBookmarks(profileId);
    ui::ExplorerView fromRecords;
    fromRecords.Load(loaded);
    if (fromRecords.texts != view.texts || fromRecords.start != view.start) {
        std::fprintf(stderr, "bench: the explorer's profile texts differ from those of the records\n");
        std::exit(1);
    }

    LoweredTexts lowered;
    for (const BookmarkRecord& record : loaded) {
        lowered.title.push_back(ui::LowerAscii(ToUtf8(record.title)));
        lowered.url.push_back(ui::LowerAscii(ToUtf8(record.url)));
        lowered.folder.push_back(ui::LowerAscii(ToUtf8(record.folder_path)));
    }

    // Typed as a user would: a word of the titles, then a number.
    const std::string typed = "documentation 12";
    std::vector<double> keystrokes, plainKeystrokes;
    for (int rep = 0; rep < reps; ++rep) {
        view.Filter("");
        for (size_t length = 1; length <= typed.size(); ++length) {
            const std::string needle = typed.substr(0, length);
            keystrokes.push_back(MsOf([&] { view.Filter(needle); }));
            size_t plainShown = 0;
            plainKeystrokes.push_back(MsOf([&] { plainShown = PlainSearch(lowered, needle); }));
            if (plainShown != view.shown.size()) {
                std::fprintf(stderr, "bench: explorer search \"%s\" shows %zu rows, the plain search %zu\n",
                             needle.c_str(), view.shown.size(), plainShown);
                std::exit(1);
            }
        }
    }
    Row keystroke{"explorer filter per keystroke", n};
    keystroke.maxRatio = 1.5;
    keystroke.ms = Median(keystrokes);
    keystroke.floorMs = Median(plainKeystrokes);
    rows.push_back(keystroke);

    Row fresh{"explorer filter new search", n};
    fresh.maxRatio = 1.5;
    fresh.ms = MedianMs(reps, [&] { view.Filter("zz"); }, [&] { view.Filter("blog"); });
    size_t plainShown = 0;
    fresh.floorMs = MedianMs(reps, nullptr, [&] { plainShown += PlainSearch(lowered, "blog"); });
    if (plainShown == 0) std::exit(1);  // and the search is not optimised away
    rows.push_back(fresh);
}

}  // namespace bm::bench
