// Floors of the Firefox places reader and writer.
#include <ctime>
#include <unordered_map>
#include <unordered_set>

#include "bench/floors.h"
#include "core/firefox_places.h"
#include "core/sql_statement.h"

namespace bm::bench {
namespace {

struct Folder {
    int64_t parent = 0;
    std::wstring title;
    std::string guid;
};

const wchar_t* FixedRootName(const std::string& guid) {
    if (guid == "menu________") return L"Bookmarks Menu";
    if (guid == "toolbar_____") return L"Bookmarks Toolbar";
    if (guid == "unfiled_____") return L"Other Bookmarks";
    if (guid == "mobile______") return L"Mobile Bookmarks";
    return nullptr;
}

// The folder path of an item in folder `id`; `tagged` tells whether the chain passes the tags root.
std::wstring FolderPath(const std::unordered_map<int64_t, Folder>& folders, int64_t id, bool& tagged) {
    std::vector<const std::wstring*> names;
    std::vector<std::wstring> fixed;
    fixed.reserve(64);
    tagged = false;
    for (int step = 0; step < 64 && id > 0; ++step) {
        const auto found = folders.find(id);
        if (found == folders.end() || found->second.guid == "root________") break;
        if (found->second.guid == "tags________") tagged = true;
        if (const wchar_t* name = FixedRootName(found->second.guid)) {
            names.push_back(&fixed.emplace_back(name));
        } else {
            names.push_back(&found->second.title);
        }
        id = found->second.parent;
    }
    std::wstring path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (name != names.rbegin()) path += L'/';
        path += **name;
    }
    return path;
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
    // The folders read once (each folder's path made once, when first needed), then the bookmarks
    // that have a URL, with their dates, through one join with their places; tag entries left out.
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "open places");
    std::vector<BookmarkRecord> records;
    {
        std::unordered_map<int64_t, Folder> folders;
        Statement folderQuery = PrepareOrThrow(db, "SELECT id, parent, title, guid FROM moz_bookmarks WHERE type = 2");
        while (StepRow(folderQuery)) {
            Folder& folder = folders[sqlite3_column_int64(folderQuery.get(), 0)];
            folder.parent = sqlite3_column_int64(folderQuery.get(), 1);
            folder.title = WideColumn(folderQuery.get(), 2);
            folder.guid = Utf8Column(folderQuery.get(), 3);
        }
        struct Path {
            std::wstring text;
            bool tagged = false;  // the labels under the tags root are no bookmarks of their own
        };
        std::unordered_map<int64_t, Path> paths;
        Statement query = PrepareOrThrow(db,
                                         "SELECT b.parent, b.title, p.url, IFNULL(b.dateAdded, 0) FROM moz_bookmarks b "
                                         "JOIN moz_places p ON p.id = b.fk WHERE b.type = 1 AND p.url <> ''");
        while (StepRow(query)) {
            const int64_t parent = sqlite3_column_int64(query.get(), 0);
            auto folderPath = paths.find(parent);
            if (folderPath == paths.end()) {
                Path made;
                made.text = FolderPath(folders, parent, made.tagged);
                folderPath = paths.emplace(parent, std::move(made)).first;
            }
            if (folderPath->second.tagged) continue;
            BookmarkRecord& record = records.emplace_back();
            record.title = WideColumn(query.get(), 1);
            record.url = WideColumn(query.get(), 2);
            record.folder_path = folderPath->second.text;
            record.date_added = sqlite3_column_int64(query.get(), 3) / 1000000;
        }
    }
    sqlite3_close(db);
    return records;
}

void FirefoxWriteFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace) {
    // One transaction. Replace: the same three statements that release the places and delete the
    // bookmarks and folders. Merge: the bookmarked URLs' keys through one join. Then the folders and
    // the next positions read once, each place found through Firefox's url_hash index, and every
    // insert or update a statement prepared once; a new place is inserted with its reference counted.
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "open places");
    ExecSql(db, kWriteCacheSizePragma);
    {
        const int64_t toolbar = RootId(db, "toolbar_____");
        const int64_t unfiled = RootId(db, "unfiled_____");
        const int64_t menu = RootId(db, "menu________");
        const int64_t mobile = RootId(db, "mobile______");
        ExecSql(db, "BEGIN IMMEDIATE;");
        std::unordered_set<std::string> present;
        if (replace) {
            ExecSql(db,
                    "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - "
                    "(SELECT COUNT(*) FROM moz_bookmarks b WHERE b.type = 1 AND b.fk = moz_places.id)) "
                    "WHERE id IN (SELECT fk FROM moz_bookmarks WHERE type = 1 AND fk IS NOT NULL)");
            ExecSql(db, "DELETE FROM moz_bookmarks WHERE type = 1");
            ExecSql(db,
                    "DELETE FROM moz_bookmarks WHERE type = 2 AND guid NOT IN ('root________','menu________',"
                    "'toolbar_____','unfiled_____','mobile______','tags________')");
        } else {
            Statement query =
                PrepareOrThrow(db, "SELECT p.url FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE b.type = 1");
            while (StepRow(query)) present.insert(UrlKey(Utf8Column(query.get(), 0)));
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

        Statement folderInsert = PrepareOrThrow(db,
                                                "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, "
                                                "lastModified, guid) VALUES(2, NULL, ?, ?, ?, ?, ?, ?)");
        Statement placeQuery = PrepareOrThrow(db, "SELECT id FROM moz_places WHERE url_hash = ? AND url = ? LIMIT 1");
        Statement placeInsert = PrepareOrThrow(db,
                                               "INSERT INTO moz_places(url, title, rev_host, hidden, typed, frecency, guid, "
                                               "url_hash, foreign_count) VALUES(?, ?, ?, 0, 0, -1, ?, ?, 1)");
        Statement placeCount = PrepareOrThrow(db, "UPDATE moz_places SET foreign_count = foreign_count + 1 WHERE id = ?");
        Statement bookmarkInsert = PrepareOrThrow(db,
                                                  "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, "
                                                  "lastModified, guid) VALUES(1, ?, ?, ?, ?, ?, ?, ?)");
        const int64_t now = static_cast<int64_t>(std::time(nullptr)) * 1000000;

        auto folder = [&](int64_t parent, const std::wstring& title) {
            std::string name = ToUtf8(title);
            auto& byName = folderIds[parent];
            const auto known = byName.find(name);
            if (known != byName.end()) return known->second;
            BindInt64(folderInsert, 1, parent);
            BindInt64(folderInsert, 2, nextPosition[parent]++);
            BindText(folderInsert, 3, name);
            BindInt64(folderInsert, 4, now);
            BindInt64(folderInsert, 5, now);
            BindText(folderInsert, 6, NewPlacesGuid());
            StepRow(folderInsert);
            sqlite3_reset(folderInsert.get());
            const int64_t id = sqlite3_last_insert_rowid(db);
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
                parent = ToLower(pieces.front()).find(L"menu") != std::wstring::npos ? menu : unfiled;
            }
            for (const std::wstring& name : parsed.segments) parent = folder(parent, name);
            parents.emplace(folderPath, parent);
            return parent;
        };

        for (const BookmarkRecord& record : records) {
            const std::string url = ToUtf8(record.url);
            if (!present.insert(UrlKey(url)).second) continue;
            const int64_t parent = parentOf(record.folder_path);
            const std::string title = ToUtf8(record.title);
            const int64_t hash = PlacesUrlHash(url);
            BindInt64(placeQuery, 1, hash);
            BindText(placeQuery, 2, url);
            int64_t place = 0;
            if (StepRow(placeQuery)) {
                place = sqlite3_column_int64(placeQuery.get(), 0);
                sqlite3_reset(placeQuery.get());
                BindInt64(placeCount, 1, place);
                StepRow(placeCount);
                sqlite3_reset(placeCount.get());
            } else {
                sqlite3_reset(placeQuery.get());
                BindText(placeInsert, 1, url);
                BindText(placeInsert, 2, title);
                BindText(placeInsert, 3, ReverseHost(record.url));
                BindText(placeInsert, 4, NewPlacesGuid());
                BindInt64(placeInsert, 5, hash);
                StepRow(placeInsert);
                sqlite3_reset(placeInsert.get());
                place = sqlite3_last_insert_rowid(db);
            }
            const int64_t stamp = (record.date_added != 0 ? record.date_added : now / 1000000) * 1000000;
            BindInt64(bookmarkInsert, 1, place);
            BindInt64(bookmarkInsert, 2, parent);
            BindInt64(bookmarkInsert, 3, nextPosition[parent]++);
            BindText(bookmarkInsert, 4, title);
            BindInt64(bookmarkInsert, 5, stamp);
            BindInt64(bookmarkInsert, 6, stamp);
            BindText(bookmarkInsert, 7, NewPlacesGuid());
            StepRow(bookmarkInsert);
            sqlite3_reset(bookmarkInsert.get());
        }
    }
    ExecSql(db, "COMMIT;");
    sqlite3_close(db);
}

}  // namespace bm::bench
