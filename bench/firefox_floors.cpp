// Floors of the Firefox places reader and writer.
#include <windows.h>

#include <algorithm>
#include <ctime>
#include <unordered_map>
#include <unordered_set>

#include "bench/floors.h"
#include "core/firefox_places.h"
#include "core/places_url.h"
#include "core/sql_statement.h"

namespace bm::bench {
namespace {

const wchar_t* FixedRootName(const std::string& guid) {
    if (guid == "menu________") return L"Bookmarks Menu";
    if (guid == "toolbar_____") return L"Bookmarks Toolbar";
    if (guid == "unfiled_____") return L"Other Bookmarks";
    if (guid == "mobile______") return L"Mobile Bookmarks";
    return nullptr;
}

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<size_t>(units));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

// Trailing '/' removed and ASCII letters lowered, on the UTF-8 bytes: the same key as NormalizeUrl.
std::string UrlKey(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    for (char& c : url)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return url;
}

int64_t RootId(sqlite3* db, const char* guid) {
    Statement query = PrepareOrThrow(db, "SELECT id FROM moz_bookmarks WHERE guid = ?");
    BindText(query, 1, guid);
    Require(StepRow(query), "places root");
    return ColumnInt64(query, 0);
}

}  // namespace

std::vector<BookmarkRecord> FirefoxReadFloor(const std::wstring& path) {
    // SQLite's own check of the two tables read, with their indexes (the reader refuses a damaged file,
    // so that a part is never taken for the whole), then every folder and bookmark with its place's URL in one query in
    // Firefox's order (children by position, then id) sorted as small keys, then one walk depth first from the root, the
    // tags root left out, each folder's path made once from its parent's on the way down and each
    // bookmark's texts converted once. Not included: what the reader does for a file that is no tree
    // (items whose parent is gone, cycles), which the bench's files never hold.
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "open places");
    std::vector<BookmarkRecord> records;
    {
        for (const char* table : {"moz_bookmarks", "moz_places"}) {
            Statement check = PrepareOrThrow(db, std::string("PRAGMA quick_check(") + table + ")");
            Require(StepRow(check) && Utf8Column(check.get(), 0) == "ok", "places check");
        }
        struct Item {
            int64_t id, parent, type, position, dateAdded;
            std::string title, guid, url;
        };
        std::vector<Item> items;
        Statement query = PrepareOrThrow(db,
                                         "SELECT b.id, b.parent, b.type, IFNULL(b.position, 0), IFNULL(b.dateAdded, 0), "
                                         "IFNULL(b.title, ''), IFNULL(b.guid, ''), IFNULL(p.url, '') FROM moz_bookmarks b "
                                         "LEFT JOIN moz_places p ON b.type = 1 AND p.id = b.fk WHERE b.type IN (1, 2)");
        while (StepRow(query)) {
            Item& item = items.emplace_back();
            item.id = sqlite3_column_int64(query.get(), 0);
            item.parent = sqlite3_column_int64(query.get(), 1);
            item.type = sqlite3_column_int64(query.get(), 2);
            item.position = sqlite3_column_int64(query.get(), 3);
            item.dateAdded = sqlite3_column_int64(query.get(), 4);
            item.title = Utf8Column(query.get(), 5);
            item.guid = Utf8Column(query.get(), 6);
            item.url = Utf8Column(query.get(), 7);
        }
        // Firefox's order sorted here, on the items' places in `items`: an ORDER BY makes SQLite sort
        // the rows, texts and all, and at 100k that spills out of its cache.
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&items](size_t a, size_t b) {
            const Item& x = items[a];
            const Item& y = items[b];
            return x.parent != y.parent ? x.parent < y.parent : x.position != y.position ? x.position < y.position : x.id < y.id;
        });
        // Each folder's children: a range of `order`.
        std::unordered_map<int64_t, std::pair<size_t, size_t>> children;
        for (size_t i = 0; i < order.size();) {
            size_t end = i;
            while (end < order.size() && items[order[end]].parent == items[order[i]].parent) ++end;
            children.emplace(items[order[i]].parent, std::make_pair(i, end));
            i = end;
        }
        struct Level {
            std::pair<size_t, size_t> range;
            std::wstring path;
            bool root;  // the root's children start the paths
        };
        std::vector<Level> stack;
        auto enter = [&](int64_t folder, std::wstring path, bool root) {
            const auto range = children.find(folder);
            if (range != children.end()) stack.push_back({range->second, std::move(path), root});
        };
        for (const Item& item : items)
            if (item.guid == "root________") enter(item.id, L"", true);
        while (!stack.empty()) {
            Level& top = stack.back();
            if (top.range.first == top.range.second) {
                stack.pop_back();
                continue;
            }
            const Item& item = items[order[top.range.first++]];
            if (item.type == 2) {
                if (item.guid == "tags________") continue;  // labels of bookmarks that live elsewhere
                const wchar_t* fixed = FixedRootName(item.guid);
                const std::wstring name = fixed ? std::wstring(fixed) : Wide(item.title);
                enter(item.id, top.root ? name : top.path + L'/' + name, false);  // may move `top`
            } else if (!item.url.empty()) {
                BookmarkRecord& record = records.emplace_back();
                record.title = Wide(item.title);
                record.url = Wide(item.url);
                record.folder_path = top.path;
                record.date_added = item.dateAdded / 1000000;
            }
        }
    }
    sqlite3_close(db);
    return records;
}

void FirefoxWriteFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace) {
    // One transaction, after SQLite's check of the two tables. Replace: the items below the roots removed with their places released and the
    // roots' change counts moved (the bench's files hold no tags, keywords, annotations or synced
    // items). Merge: the bookmarked URLs' keys through one join. Then the folders and the next
    // positions read once, each URL in the form Firefox stores it, its place found through the
    // url_hash index or inserted with its origin and frecency state, every statement prepared once,
    // and each changed folder's lastModified and change counter set once at the end.
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "open places");
    ExecSql(db, kWriteCacheSizePragma);
    {
        const int64_t toolbar = RootId(db, "toolbar_____");
        const int64_t unfiled = RootId(db, "unfiled_____");
        const int64_t menu = RootId(db, "menu________");
        const int64_t mobile = RootId(db, "mobile______");
        const int64_t now = static_cast<int64_t>(std::time(nullptr)) * 1000000;
        ExecSql(db, "BEGIN IMMEDIATE;");
        // The writer refuses a damaged file before it changes anything, as the reader does.
        for (const char* table : {"moz_bookmarks", "moz_places"}) {
            Statement check = PrepareOrThrow(db, std::string("PRAGMA quick_check(") + table + ")");
            Require(StepRow(check) && Utf8Column(check.get(), 0) == "ok", "places check");
        }
        std::unordered_set<std::string> present;
        std::unordered_map<int64_t, int64_t> changes;  // folder -> children added or removed
        if (replace) {
            const char* removed = "guid NOT IN ('root________','menu________','toolbar_____','unfiled_____','mobile______','tags________')";
            {
                Statement parents = PrepareOrThrow(db, std::string("SELECT parent, COUNT(*) FROM moz_bookmarks WHERE ") + removed +
                                                           " AND parent IN (SELECT id FROM moz_bookmarks WHERE guid IN ('root________',"
                                                           "'menu________','toolbar_____','unfiled_____','mobile______')) GROUP BY parent");
                while (StepRow(parents)) changes[ColumnInt64(parents, 0)] += ColumnInt64(parents, 1);
            }
            ExecSql(db, (std::string("UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_bookmarks b "
                                     "WHERE b.type = 1 AND b.fk = moz_places.id)) WHERE id IN (SELECT fk FROM moz_bookmarks WHERE type = 1 AND ") +
                         removed + ")").c_str());
            ExecSql(db, (std::string("DELETE FROM moz_bookmarks WHERE ") + removed).c_str());
        } else {
            Statement query =
                PrepareOrThrow(db, "SELECT p.url FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE b.type = 1");
            while (StepRow(query)) present.insert(UrlKey(CanonicalPlacesUrl(Utf8Column(query.get(), 0))));
        }

        std::unordered_map<int64_t, std::unordered_map<std::string, int64_t>> folderIds;
        {
            Statement query = PrepareOrThrow(db, "SELECT id, parent, title FROM moz_bookmarks WHERE type = 2 ORDER BY id");
            while (StepRow(query))
                folderIds[sqlite3_column_int64(query.get(), 1)].emplace(Utf8Column(query.get(), 2),
                                                                        sqlite3_column_int64(query.get(), 0));
        }
        std::unordered_map<int64_t, int64_t> nextPosition;
        {
            Statement query = PrepareOrThrow(db, "SELECT parent, MAX(position) + 1 FROM moz_bookmarks GROUP BY parent");
            while (StepRow(query)) nextPosition[sqlite3_column_int64(query.get(), 0)] = sqlite3_column_int64(query.get(), 1);
        }
        std::unordered_map<std::string, int64_t> origins;
        {
            Statement query = PrepareOrThrow(db, "SELECT id, prefix || ' ' || host FROM moz_origins");
            while (StepRow(query)) origins.emplace(Utf8Column(query.get(), 1), sqlite3_column_int64(query.get(), 0));
        }

        Statement itemInsert = PrepareOrThrow(db,
                                              "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, lastModified, "
                                              "guid, syncStatus, syncChangeCounter) VALUES(?, ?, ?, ?, ?, ?, ?, ?, 1, 1)");
        Statement placeQuery = PrepareOrThrow(db, "SELECT id FROM moz_places WHERE url_hash = ? AND url = ? ORDER BY id LIMIT 1");
        Statement placeInsert = PrepareOrThrow(db,
                                               "INSERT INTO moz_places(url, title, rev_host, hidden, typed, frecency, guid, url_hash, "
                                               "foreign_count, recalc_frecency, recalc_alt_frecency, origin_id) "
                                               "VALUES(?, ?, ?, ?, 0, ?, ?, ?, 1, ?, 1, ?)");
        // An existing place that gets a bookmark is flagged for Firefox to compute its frecency again.
        Statement placeCount = PrepareOrThrow(db,
                                              "UPDATE moz_places SET foreign_count = foreign_count + 1, recalc_frecency = CASE WHEN "
                                              "substr(url, 1, 6) = 'place:' THEN recalc_frecency ELSE 1 END, recalc_alt_frecency = "
                                              "CASE WHEN substr(url, 1, 6) = 'place:' THEN recalc_alt_frecency ELSE 1 END WHERE id = ?");
        Statement originInsert = PrepareOrThrow(db,
                                                "INSERT INTO moz_origins(prefix, host, frecency, recalc_frecency, recalc_alt_frecency) "
                                                "VALUES(?, ?, ?, 1, 1)");
        Statement originRecalc = PrepareOrThrow(db, "UPDATE moz_origins SET recalc_frecency = 1 WHERE id = ?");

        auto insertItem = [&](int type, int64_t fk, int64_t parent, const std::string& title, int64_t stamp) {
            BindInt64(itemInsert, 1, type);
            if (fk > 0) BindInt64(itemInsert, 2, fk);
            else sqlite3_bind_null(itemInsert.get(), 2);
            BindInt64(itemInsert, 3, parent);
            BindInt64(itemInsert, 4, nextPosition[parent]++);
            BindText(itemInsert, 5, title);
            BindInt64(itemInsert, 6, stamp);
            BindInt64(itemInsert, 7, stamp);
            BindText(itemInsert, 8, NewPlacesGuid());
            StepRow(itemInsert);
            sqlite3_reset(itemInsert.get());
            ++changes[parent];
            return sqlite3_last_insert_rowid(db);
        };
        auto folder = [&](int64_t parent, const std::wstring& title) {
            std::string name = ToUtf8(title);
            auto& byName = folderIds[parent];
            const auto known = byName.find(name);
            if (known != byName.end()) return known->second;
            const int64_t id = insertItem(2, 0, parent, name, now);
            byName.emplace(std::move(name), id);
            return id;
        };
        std::unordered_map<std::wstring, int64_t> parents;  // by a record's folder path
        auto parentOf = [&](const std::wstring& folderPath) {
            const auto known = parents.find(folderPath);
            if (known != parents.end()) return known->second;
            const ParsedFolderPath parsed = ParseFolderPath(folderPath);
            int64_t parent = toolbar;
            if (parsed.root_key == L"synced") {
                parent = mobile;
            } else if (parsed.root_key == L"other") {
                const std::vector<std::wstring> pieces = SplitPath(folderPath);
                parent = IsMenuRootName(pieces.front()) ? menu : unfiled;
            }
            for (const std::wstring& name : parsed.segments) parent = folder(parent, name);
            parents.emplace(folderPath, parent);
            return parent;
        };
        auto origin = [&](const std::string& stored, bool query) {
            const PlacesOrigin found = PlacesOriginOf(stored);
            const std::string key = found.prefix + ' ' + found.host;
            const auto known = origins.find(key);
            if (known != origins.end()) {
                BindInt64(originRecalc, 1, known->second);
                StepRow(originRecalc);
                sqlite3_reset(originRecalc.get());
                return known->second;
            }
            BindText(originInsert, 1, found.prefix);
            BindText(originInsert, 2, found.host);
            BindInt64(originInsert, 3, query ? 0 : -1);
            StepRow(originInsert);
            sqlite3_reset(originInsert.get());
            const int64_t id = sqlite3_last_insert_rowid(db);
            origins.emplace(key, id);
            return id;
        };

        for (const BookmarkRecord& record : records) {
            const std::string stored = CanonicalPlacesUrl(ToUtf8(record.url));
            if (!present.insert(UrlKey(stored)).second) continue;
            const int64_t parent = parentOf(record.folder_path);
            const std::string title = ToUtf8(record.title);
            const int64_t hash = PlacesUrlHash(stored);
            BindInt64(placeQuery, 1, hash);
            BindText(placeQuery, 2, stored);
            int64_t place = 0;
            if (StepRow(placeQuery)) {
                place = sqlite3_column_int64(placeQuery.get(), 0);
                sqlite3_reset(placeQuery.get());
                BindInt64(placeCount, 1, place);
                StepRow(placeCount);
                sqlite3_reset(placeCount.get());
            } else {
                sqlite3_reset(placeQuery.get());
                const bool query = stored.compare(0, 6, "place:") == 0;
                BindText(placeInsert, 1, stored);
                sqlite3_bind_null(placeInsert.get(), 2);  // new pages have no title, as Firefox makes them
                BindText(placeInsert, 3, PlacesReversedHost(stored));
                BindInt64(placeInsert, 4, query ? 1 : 0);
                BindInt64(placeInsert, 5, query ? 0 : 1);
                BindText(placeInsert, 6, NewPlacesGuid());
                BindInt64(placeInsert, 7, hash);
                BindInt64(placeInsert, 8, query ? 0 : 1);
                BindInt64(placeInsert, 9, origin(stored, query));
                StepRow(placeInsert);
                sqlite3_reset(placeInsert.get());
                place = sqlite3_last_insert_rowid(db);
            }
            const int64_t stamp = (record.date_added != 0 ? record.date_added : now / 1000000) * 1000000;
            insertItem(1, place, parent, title, stamp);
        }

        Statement touch = PrepareOrThrow(db,
                                         "UPDATE moz_bookmarks SET lastModified = MAX(IFNULL(lastModified, 0), ?), "
                                         "syncChangeCounter = syncChangeCounter + ? WHERE id = ?");
        for (const auto& [id, count] : changes) {
            BindInt64(touch, 1, now);
            BindInt64(touch, 2, count);
            BindInt64(touch, 3, id);
            StepRow(touch);
            sqlite3_reset(touch.get());
        }
    }
    ExecSql(db, "COMMIT;");
    sqlite3_close(db);
}

}  // namespace bm::bench
