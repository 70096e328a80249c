#include "core/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <stdexcept>
#include <unordered_set>

#include "core/sql_statement.h"

namespace bm {

namespace {

constexpr int kMaxFolderDepth = 64;

const char* FixedRootName(const std::string& guid) {
    if (guid == "menu________") return "Bookmarks Menu";
    if (guid == "toolbar_____") return "Bookmarks Toolbar";
    if (guid == "unfiled_____") return "Other Bookmarks";
    if (guid == "mobile______") return "Mobile Bookmarks";
    return nullptr;
}

// sqlite3_exec whose failure becomes the same exception a failed step gives.
void ExecOrThrow(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("SQL step failed: ") + sqlite3_errmsg(db));
    }
}

void StepOnce(Statement& statement) {
    while (StepRow(statement)) {
    }
}

int64_t NowMicroseconds() {
    return static_cast<int64_t>(std::time(nullptr)) * 1000000;
}

uint32_t HashBytes(const std::string& bytes, size_t length) {
    uint32_t hash = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint32_t rotated = (hash << 5) | (hash >> 27);
        hash = 0x9E3779B9u * (rotated ^ static_cast<unsigned char>(bytes[i]));
    }
    return hash;
}

// Firefox counts in moz_places.foreign_count the bookmarks and keywords pointing at a place; its
// own triggers keep it, but they live only in Firefox's connection, so we keep it ourselves. A place
// left at 0 may be expired by Firefox and its bookmark removed by maintenance.
void ReleaseForeignCountOfAllBookmarks(sqlite3* db) {
    Statement update = PrepareOrThrow(
        db,
        "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - "
        "(SELECT COUNT(*) FROM moz_bookmarks b WHERE b.type = 1 AND b.fk = moz_places.id)) "
        "WHERE id IN (SELECT fk FROM moz_bookmarks WHERE type = 1 AND fk IS NOT NULL)");
    StepOnce(update);
}

}  // namespace

std::wstring PlacesFolderPath(const PlacesItemMap& items, const PlacesGuidMap& guids, int64_t folderId) {
    std::vector<std::wstring> names;
    int64_t current = folderId;
    for (int step = 0; step < kMaxFolderDepth && current > 0; ++step) {
        const auto item = items.find(current);
        if (item == items.end()) break;
        const auto guidEntry = guids.find(current);
        const std::string guid = guidEntry == guids.end() ? std::string() : ToUtf8(guidEntry->second);
        if (guid == "root________") break;
        if (const char* fixed = FixedRootName(guid)) {
            names.push_back(ToWide(fixed));
        } else {
            names.push_back(item->second.title);
        }
        current = item->second.parent;
    }
    std::reverse(names.begin(), names.end());
    return JoinPath(names);
}

std::vector<BookmarkRecord> ReadFirefoxBookmarks(const std::wstring& path, std::wstring* error) {
    std::vector<BookmarkRecord> result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        if (error) *error = L"Could not open places.sqlite (is Firefox closed?).";
        if (db) sqlite3_close(db);
        return result;
    }
    try {
        PlacesItemMap items;
        PlacesGuidMap guids;
        std::unordered_map<int64_t, std::wstring> urls;
        {
            Statement query =
                PrepareOrThrow(db, "SELECT id, parent, type, IFNULL(fk,0), IFNULL(title,'') FROM moz_bookmarks");
            while (StepRow(query)) {
                PlacesItem item;
                item.id = ColumnInt64(query, 0);
                item.parent = ColumnInt64(query, 1);
                item.type = ColumnInt64(query, 2);
                item.fk = ColumnInt64(query, 3);
                item.title = ToWide(ColumnText(query, 4));
                items[item.id] = std::move(item);
            }
        }
        {
            Statement query = PrepareOrThrow(db, "SELECT id, guid FROM moz_bookmarks");
            while (StepRow(query)) guids[ColumnInt64(query, 0)] = ToWide(ColumnText(query, 1));
        }
        {
            Statement query = PrepareOrThrow(db, "SELECT id, url FROM moz_places");
            while (StepRow(query)) urls[ColumnInt64(query, 0)] = ToWide(ColumnText(query, 1));
        }
        // Bookmarks share their folders: each folder's path is worked out once.
        std::unordered_map<int64_t, std::wstring> folderPaths;
        for (const auto& entry : items) {
            const PlacesItem& item = entry.second;
            if (item.type != 1 || item.fk <= 0) continue;
            const auto url = urls.find(item.fk);
            if (url == urls.end() || url->second.empty()) continue;
            auto folder = folderPaths.find(item.parent);
            if (folder == folderPaths.end())
                folder = folderPaths.emplace(item.parent, PlacesFolderPath(items, guids, item.parent)).first;
            BookmarkRecord record;
            record.url = url->second;
            record.title = item.title;
            record.folder_path = folder->second;
            result.push_back(std::move(record));
        }
    } catch (const std::exception& e) {
        if (error) *error = ToWide(e.what());
    }
    sqlite3_close(db);
    return result;
}

int64_t FindIdByGuid(sqlite3* db, const std::string& guid) {
    Statement query = PrepareOrThrow(db, "SELECT id FROM moz_bookmarks WHERE guid = ? LIMIT 1");
    BindText(query, 1, guid);
    return StepRow(query) ? ColumnInt64(query, 0) : -1;
}

int64_t NextPosition(sqlite3* db, int64_t parentId) {
    Statement query = PrepareOrThrow(db, "SELECT COALESCE(MAX(position), -1) + 1 FROM moz_bookmarks WHERE parent = ?");
    BindInt64(query, 1, parentId);
    StepRow(query);
    return ColumnInt64(query, 0);
}

int64_t EnsurePlacesFolder(sqlite3* db, int64_t parentId, const std::wstring& title) {
    const std::string utf8Title = ToUtf8(title);
    {
        Statement query =
            PrepareOrThrow(db, "SELECT id FROM moz_bookmarks WHERE parent = ? AND type = 2 AND title = ? LIMIT 1");
        BindInt64(query, 1, parentId);
        BindText(query, 2, utf8Title);
        if (StepRow(query)) return ColumnInt64(query, 0);
    }
    const int64_t now = NowMicroseconds();
    Statement insert = PrepareOrThrow(db,
                                      "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, "
                                      "lastModified, guid) VALUES(2, NULL, ?, ?, ?, ?, ?, ?)");
    BindInt64(insert, 1, parentId);
    BindInt64(insert, 2, NextPosition(db, parentId));
    BindText(insert, 3, utf8Title);
    BindInt64(insert, 4, now);
    BindInt64(insert, 5, now);
    BindText(insert, 6, NewPlacesGuid());
    StepOnce(insert);
    return sqlite3_last_insert_rowid(db);
}

int64_t EnsurePlace(sqlite3* db, const std::wstring& url, const std::wstring& title) {
    const std::string utf8Url = ToUtf8(url);
    {
        Statement query = PrepareOrThrow(db, "SELECT id FROM moz_places WHERE url = ? LIMIT 1");
        BindText(query, 1, utf8Url);
        if (StepRow(query)) return ColumnInt64(query, 0);
    }
    Statement insert = PrepareOrThrow(db,
                                      "INSERT INTO moz_places(url, title, rev_host, hidden, typed, frecency, guid, "
                                      "url_hash, foreign_count) VALUES(?, ?, ?, 0, 0, -1, ?, ?, 0)");
    BindText(insert, 1, utf8Url);
    BindText(insert, 2, ToUtf8(title));
    BindText(insert, 3, ReverseHost(url));
    BindText(insert, 4, NewPlacesGuid());
    BindInt64(insert, 5, PlacesUrlHash(utf8Url));
    StepOnce(insert);
    return sqlite3_last_insert_rowid(db);
}

std::string ReverseHost(const std::wstring& url) {
    std::wstring host;
    const size_t scheme = url.find(L"://");
    if (scheme != std::wstring::npos) {
        const size_t start = scheme + 3;
        const size_t end = url.find_first_of(L"/?#", start);
        host = url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    host = ToLower(host);
    // Reversed by characters, keeping surrogate pairs whole, so the stored text stays valid UTF-8.
    std::reverse(host.begin(), host.end());
    for (size_t i = 0; i + 1 < host.size(); ++i) {
        if (host[i] >= 0xDC00 && host[i] <= 0xDFFF && host[i + 1] >= 0xD800 && host[i + 1] <= 0xDBFF) {
            std::swap(host[i], host[i + 1]);
            ++i;
        }
    }
    return ToUtf8(host) + ".";
}

std::string NewPlacesGuid() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    static std::mt19937 generator{std::random_device{}()};
    std::string guid;
    guid.reserve(12);
    for (int i = 0; i < 12; ++i) guid.push_back(kAlphabet[static_cast<uint32_t>(generator()) >> 26]);
    return guid;
}

int64_t PlacesUrlHash(const std::string& utf8Url) {
    const uint32_t hash = HashBytes(utf8Url, std::min<size_t>(utf8Url.size(), 1500));
    // A URI-like text gets the low 16 bits of its scheme's hash above the 32 bits of the whole.
    const size_t colon = utf8Url.find(':');
    if (colon != std::string::npos && colon < 50) {
        const uint64_t schemeHash = HashBytes(utf8Url, colon) & 0xFFFFu;
        return static_cast<int64_t>((schemeHash << 32) + hash);
    }
    return static_cast<int64_t>(hash);
}

namespace {

// The lookups of one write, with each statement prepared once. Within one write only this code changes
// the database, so remembering what a query answered (and what was inserted since) gives exactly the
// answers the queries themselves would give, without scanning moz_places or a big folder per record.
class PlacesWriteSession {
public:
    explicit PlacesWriteSession(sqlite3* db)
        : db_(db),
          positionQuery_(PrepareOrThrow(db, "SELECT COALESCE(MAX(position), -1) + 1 FROM moz_bookmarks WHERE parent = ?")),
          placeInsert_(PrepareOrThrow(db,
                                      "INSERT INTO moz_places(url, title, rev_host, hidden, typed, frecency, guid, "
                                      "url_hash, foreign_count) VALUES(?, ?, ?, 0, 0, -1, ?, ?, 0)")),
          bookmarkInsert_(PrepareOrThrow(db,
                                         "INSERT INTO moz_bookmarks(type, fk, parent, position, title, "
                                         "dateAdded, lastModified, guid) VALUES(1, ?, ?, ?, ?, ?, ?, ?)")),
          foreignCount_(PrepareOrThrow(db, "UPDATE moz_places SET foreign_count = foreign_count + 1 WHERE id = ?")) {}

    // Every place by exact URL; the first (lowest id) where a URL is stored more than once, as the
    // unindexed "WHERE url = ? LIMIT 1" scan would find it.
    void LoadPlaces() {
        Statement query = PrepareOrThrow(db_, "SELECT id, url FROM moz_places ORDER BY id");
        while (StepRow(query)) placeIds_.emplace(ColumnText(query, 1), ColumnInt64(query, 0));
        placesLoaded_ = true;
    }

    int64_t Folder(int64_t parentId, const std::wstring& title) {
        std::string utf8Title = ToUtf8(title);
        auto& byTitle = folderIds_[parentId];
        auto known = byTitle.find(utf8Title);
        if (known != byTitle.end()) return known->second;

        // Once per folder: the lookup (and insert) of the one-off path. It may have added a child
        // to the parent, so the parent's next position is asked again when next needed.
        const int64_t id = EnsurePlacesFolder(db_, parentId, title);
        nextPositions_.erase(parentId);
        byTitle.emplace(std::move(utf8Title), id);
        return id;
    }

    int64_t Place(const std::wstring& url, const std::wstring& title) {
        if (!placesLoaded_) LoadPlaces();
        std::string utf8Url = ToUtf8(url);
        auto known = placeIds_.find(utf8Url);
        if (known != placeIds_.end()) return known->second;
        sqlite3_reset(placeInsert_.get());
        BindText(placeInsert_, 1, utf8Url);
        BindText(placeInsert_, 2, ToUtf8(title));
        BindText(placeInsert_, 3, ReverseHost(url));
        BindText(placeInsert_, 4, NewPlacesGuid());
        BindInt64(placeInsert_, 5, PlacesUrlHash(utf8Url));
        StepOnce(placeInsert_);
        const int64_t id = sqlite3_last_insert_rowid(db_);
        placeIds_.emplace(std::move(utf8Url), id);
        return id;
    }

    void Bookmark(int64_t placeId, int64_t parentId, const std::wstring& title, int64_t stamp) {
        sqlite3_reset(bookmarkInsert_.get());
        BindInt64(bookmarkInsert_, 1, placeId);
        BindInt64(bookmarkInsert_, 2, parentId);
        BindInt64(bookmarkInsert_, 3, TakePosition(parentId));
        BindText(bookmarkInsert_, 4, ToUtf8(title));
        BindInt64(bookmarkInsert_, 5, stamp);
        BindInt64(bookmarkInsert_, 6, stamp);
        BindText(bookmarkInsert_, 7, NewPlacesGuid());
        StepOnce(bookmarkInsert_);
        sqlite3_reset(foreignCount_.get());
        BindInt64(foreignCount_, 1, placeId);
        StepOnce(foreignCount_);
    }

private:
    // The position after every existing child of the folder, then one more for each insert into it.
    int64_t TakePosition(int64_t parentId) {
        auto next = nextPositions_.find(parentId);
        if (next == nextPositions_.end()) {
            sqlite3_reset(positionQuery_.get());
            BindInt64(positionQuery_, 1, parentId);
            StepRow(positionQuery_);
            next = nextPositions_.emplace(parentId, ColumnInt64(positionQuery_, 0)).first;
            sqlite3_reset(positionQuery_.get());
        }
        return next->second++;
    }

    sqlite3* db_;
    Statement positionQuery_, placeInsert_, bookmarkInsert_, foreignCount_;
    std::unordered_map<int64_t, std::unordered_map<std::string, int64_t>> folderIds_;
    std::unordered_map<int64_t, int64_t> nextPositions_;
    std::unordered_map<std::string, int64_t> placeIds_;
    bool placesLoaded_ = false;
};

}  // namespace

int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, kLongPathVfs) != SQLITE_OK) {
        if (error) *error = L"Could not open places.sqlite for writing (is Firefox closed?).";
        if (db) sqlite3_close(db);
        return -1;
    }
    sqlite3_exec(db, kWriteCacheSizePragma, nullptr, nullptr, nullptr);
    try {
        int64_t toolbar = FindIdByGuid(db, "toolbar_____");
        int64_t unfiled = FindIdByGuid(db, "unfiled_____");
        int64_t menu = FindIdByGuid(db, "menu________");
        int64_t mobile = FindIdByGuid(db, "mobile______");
        if (unfiled < 0 && toolbar < 0) {
            throw std::runtime_error("Could not locate Firefox bookmark roots in places.sqlite.");
        }
        if (unfiled < 0) unfiled = toolbar;
        if (toolbar < 0) toolbar = unfiled;
        if (menu < 0) menu = unfiled;
        if (mobile < 0) mobile = unfiled;

        ExecOrThrow(db, "BEGIN IMMEDIATE;");

        std::unordered_set<std::wstring> seen;
        if (replace) {
            ReleaseForeignCountOfAllBookmarks(db);
            Statement bookmarks = PrepareOrThrow(db, "DELETE FROM moz_bookmarks WHERE type = 1");
            StepOnce(bookmarks);
            Statement folders = PrepareOrThrow(
                db,
                "DELETE FROM moz_bookmarks WHERE type = 2 AND guid NOT IN ('root________','menu________',"
                "'toolbar_____','unfiled_____','mobile______','tags________')");
            StepOnce(folders);
        } else {
            Statement query = PrepareOrThrow(db, "SELECT url FROM moz_places");
            while (StepRow(query)) seen.insert(NormalizeUrl(ToWide(ColumnText(query, 0))));
        }

        int inserted = 0;
        int skippedCount = 0;
        {
            PlacesWriteSession session(db);
            for (const BookmarkRecord& record : items) {
                const std::wstring key = NormalizeUrl(record.url);
                if (seen.count(key)) {
                    ++skippedCount;
                    continue;
                }
                const ParsedFolderPath parsed = ParseFolderPath(record.folder_path);
                int64_t parent = toolbar;
                if (parsed.root_key == L"synced") {
                    parent = mobile;
                } else if (parsed.root_key == L"other") {
                    const std::vector<std::wstring> pieces = SplitPath(record.folder_path);
                    parent = (!pieces.empty() && ToLower(pieces.front()).find(L"menu") != std::wstring::npos) ? menu
                                                                                                              : unfiled;
                }
                for (const std::wstring& name : parsed.segments) parent = session.Folder(parent, name);

                const int64_t fk = session.Place(record.url, record.title);
                const int64_t date = record.date_added != 0 ? record.date_added : static_cast<int64_t>(std::time(nullptr));
                session.Bookmark(fk, parent, record.title, date * 1000000);
                seen.insert(key);
                ++inserted;
            }
        }  // the session's statements are finalized before the commit and the close

        ExecOrThrow(db, "COMMIT;");
        sqlite3_close(db);
        if (skipped) *skipped = skippedCount;
        return inserted;
    } catch (const std::exception& e) {
        sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
        if (error) *error = ToWide(e.what());
        sqlite3_close(db);
        return -1;
    }
}

}  // namespace bm
