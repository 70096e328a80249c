// The explorer at N rows of a saved profile, each row against a floor that makes the same output
// the straightest way, timed in pairs and compared once outside the timing:
//   load:       the view filled from the profile on the explorer's loader thread, against reading the
//               three texts in the same order straight from SQLite and making what the view keeps:
//               the texts one after another with a NUL after each, the offsets of each row's three,
//               and the copy with the ASCII letters lowered;
//   keystroke:  a search typed one letter at a time, against the same done over texts lowered
//               beforehand: a full search for the first letter, then each search looking again only
//               at the rows the last one found (the view's way);
//   new search: one search that does not extend the last one, against one plain find per text over
//               the texts lowered beforehand.
// Targets: a load and a keystroke at most 1.5 times the floor, a new search at most 1.2 times; at
// 100k also a load within 150 ms and every keystroke within 8 ms.
#include "bench/explorer_bench.h"

#include <windows.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "app/explorer_loader.h"
#include "app/panels/explorer_view.h"
#include "bench/dataset.h"
#include "bench/floors.h"
#include "core/sql_statement.h"
#include "database/app_database.h"

namespace bm::bench {
namespace {

// What the view keeps after a load, made the straightest way.
struct LoadedTexts {
    std::string texts, lowered;
    std::vector<uint32_t> start, urlAt, folderAt;
};

// A text as the records would show it: well-formed UTF-8 as it is, anything else through UTF-16 (where
// malformed bytes become U+FFFD), then its NUL.
void AppendText(std::string& out, const char* text, size_t size) {
    bool ascii = true;
    for (size_t i = 0; i < size && ascii; ++i) ascii = static_cast<unsigned char>(text[i]) < 0x80;
    if (ascii || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(size), nullptr, 0) > 0) {
        out.append(text, size);
    } else {
        out += ToUtf8(ToWide(std::string(text, size)));
    }
    out.push_back('\0');
}

// The profile's rows in GetBookmarks' order, over a connection set up as the program's own.
void LoadFloor(sqlite3* db, int64_t profileId, LoadedTexts& out) {
    out = LoadedTexts{};
    Statement select =
        PrepareOrThrow(db, "SELECT title, url, folder_path FROM bookmarks WHERE profile_id = ? ORDER BY id");
    BindInt64(select, 1, profileId);
    // Each text taken with its length from the engine, as the view takes it.
    sqlite3_stmt* row = select.get();
    auto append = [&out, row](int column) {
        AppendText(out.texts, reinterpret_cast<const char*>(sqlite3_column_text(row, column)),
                   static_cast<size_t>(sqlite3_column_bytes(row, column)));
    };
    while (StepRow(select)) {
        out.start.push_back(static_cast<uint32_t>(out.texts.size()));
        append(0);
        out.urlAt.push_back(static_cast<uint32_t>(out.texts.size()));
        append(1);
        out.folderAt.push_back(static_cast<uint32_t>(out.texts.size()));
        append(2);
    }
    out.start.push_back(static_cast<uint32_t>(out.texts.size()));
    out.lowered = out.texts;
    for (char& c : out.lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// The three texts of every row, lowered once: the plain search with nothing to make first.
struct LoweredTexts {
    std::vector<std::string> title, url, folder;
};

bool Holds(const LoweredTexts& texts, size_t row, const std::string& needle) {
    return texts.title[row].find(needle) != std::string::npos || texts.url[row].find(needle) != std::string::npos ||
           texts.folder[row].find(needle) != std::string::npos;
}

// The view's search done plainly: every row for nothing, the last rows again for a search that
// contains the last one, all rows otherwise.
struct PlainSearch {
    std::vector<int32_t> shown;
    std::string last;
    bool valid = false;

    void Search(const LoweredTexts& texts, const std::string& needle) {
        if (needle.empty()) {
            shown.resize(texts.title.size());
            for (size_t row = 0; row < shown.size(); ++row) shown[row] = static_cast<int32_t>(row);
        } else if (valid && !last.empty() && needle.find(last) != std::string::npos) {
            size_t kept = 0;
            for (const int32_t row : shown)
                if (Holds(texts, static_cast<size_t>(row), needle)) shown[kept++] = row;
            shown.resize(kept);
        } else {
            shown.clear();
            for (size_t row = 0; row < texts.title.size(); ++row)
                if (Holds(texts, row, needle)) shown.push_back(static_cast<int32_t>(row));
        }
        last = needle;
        valid = true;
    }
};

bool SameShown(const ui::ExplorerView& view, const PlainSearch& plain, const std::string& needle) {
    if (view.shown == plain.shown) return true;
    std::fprintf(stderr, "bench: explorer search \"%s\" shows %zu rows, the plain search %zu\n", needle.c_str(),
                 view.shown.size(), plain.shown.size());
    return false;
}

double Now() { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

}  // namespace

void BenchExplorer(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const std::wstring file = dir / L"app_data.explorer.db";
    AppDatabase database;
    Require(database.Open(file), "open app_data");
    const int64_t profileId = database.CreateProfile(L"Explorer");
    database.AddBookmarks(profileId, MakeBookmarks(n, 9));
    const int reps = n >= 100000 ? 16 : 24;

    ui::ExplorerView view;
    {
        Row load{"explorer load", n};
        load.maxRatio = 1.5;
        sqlite3* floorDb = nullptr;
        Require(sqlite3_open16(file.c_str(), &floorDb) == SQLITE_OK, "open app_data");
        ExecSql(floorDb, kWriteCacheSizePragma);
        LoadedTexts floor;
        bool loaded = true;
        // The load as the explorer has it made: on the loader's thread, with its count and its
        // progress, the finished view handed over.
        ui::ExplorerLoader loader;
        ui::ExplorerLoader::Source source;
        source.kind = ui::ExplorerLoader::Source::Kind::Profile;
        source.profileId = profileId;
        std::shared_ptr<ui::ExplorerView> made;
        TimePair(reps, nullptr, [&] {
            made.reset();  // the explorer drops the rows it showed when it asks for a load
            loader.Start(source, database);
            loader.WaitIdle();
            made = loader.Take();
            loaded = loaded && made;
        },
                 nullptr, [&] { LoadFloor(floorDb, profileId, floor); }, load);
        sqlite3_close(floorDb);
        if (made) view = *made;
        load.sameOutput = loaded && view.texts == floor.texts && view.lowered == floor.lowered && view.start == floor.start &&
                          view.urlAt == floor.urlAt && view.folderAt == floor.folderAt;
        if (!load.sameOutput) std::fprintf(stderr, "bench: the floor of the explorer load makes another view\n");
        load.limitWhat = "a load";
        load.limitMs = 150;
        load.limitTimes = load.times;
        rows.push_back(load);
    }
    // The view read straight from the database must be the one the records GetBookmarks gives make.
    const std::vector<BookmarkRecord> records = database.GetBookmarks(profileId);
    {
        ui::ExplorerView fromRecords;
        fromRecords.Load(records);
        Require(fromRecords.texts == view.texts && fromRecords.start == view.start, "the explorer's profile texts");
    }
    LoweredTexts lowered;
    for (const BookmarkRecord& record : records) {
        lowered.title.push_back(ui::LowerAscii(ToUtf8(record.title)));
        lowered.url.push_back(ui::LowerAscii(ToUtf8(record.url)));
        lowered.folder.push_back(ui::LowerAscii(ToUtf8(record.folder_path)));
    }
    PlainSearch plain;

    {
        // Typed as a user would: a word of the titles, then a number. Each search's rows are compared
        // once, outside the timing.
        const std::string typed = "documentation 12";
        Row keystroke{"explorer filter per keystroke", n};
        keystroke.maxRatio = 1.5;
        bool same = true;
        view.Filter("");
        plain.Search(lowered, "");
        for (size_t length = 1; length <= typed.size(); ++length) {
            const std::string needle = typed.substr(0, length);
            view.Filter(needle);
            plain.Search(lowered, needle);
            same = same && SameShown(view, plain, needle);
        }
        // Each letter timed on its own, the same way on both sides; the slowest letter of each run is
        // what the absolute target holds.
        auto type = [&typed](const std::function<void(const std::string&)>& search) {
            double slowest = 0;
            for (size_t length = 1; length <= typed.size(); ++length) {
                const std::string needle = typed.substr(0, length);
                const double start = Now();
                search(needle);
                slowest = std::max(slowest, Now() - start);
            }
            return slowest;
        };
        std::vector<double> floorSlowest;
        const auto times = TimeTogether(
            reps, {{[&] { view.Filter(""); },
                    [&] { keystroke.limitTimes.push_back(type([&](const std::string& needle) { view.Filter(needle); })); }},
                   {[&] { plain.Search(lowered, ""); },
                    [&] { floorSlowest.push_back(type([&](const std::string& needle) { plain.Search(lowered, needle); })); }}});
        for (size_t k = 0; k < 2; ++k) {
            std::vector<double> perKeystroke = times[k];
            for (double& ms : perKeystroke) ms /= static_cast<double>(typed.size());
            (k == 0 ? keystroke.times : keystroke.floorTimes) = perKeystroke;
        }
        keystroke.ms = Median(keystroke.times);
        keystroke.floorMs = Median(keystroke.floorTimes);
        keystroke.sameOutput = same;
        keystroke.limitWhat = "every keystroke";
        keystroke.limitMs = 8;
        rows.push_back(keystroke);
    }
    {
        Row fresh{"explorer filter new search", n};
        fresh.maxRatio = 1.2;
        TimePair(reps, [&] { view.Filter("zz"); }, [&] { view.Filter("blog"); }, [&] { plain.Search(lowered, "zz"); },
                 [&] { plain.Search(lowered, "blog"); }, fresh);
        fresh.sameOutput = !view.shown.empty() && SameShown(view, plain, "blog");
        rows.push_back(fresh);
    }
}

}  // namespace bm::bench
