#include "core/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unordered_set>

#include "core/places_url.h"
#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"

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

namespace {

// One row of moz_bookmarks with what the reader needs beyond the folder chain.
struct ReadItem {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t type = 0;
    int64_t position = 0;
    int64_t dateAdded = 0;  // microseconds
    std::string guid;
    std::string url;  // the place's url for a bookmark; empty otherwise
    std::wstring title;
};

bool IsCorruption(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xFF;
    return code == SQLITE_CORRUPT;
}

bool CannotOpen(sqlite3* db) { return (sqlite3_errcode(db) & 0xFF) == SQLITE_CANTOPEN; }

// Raised for a file whose pages do not hold together: reading it would give a part as the whole.
struct DamagedDatabase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// SQLite's own page and index checks of the bookmarks table; the places are then reached through
// their primary key, which fails loudly on a damaged page.
void CheckBookmarksTable(sqlite3* db) {
    Statement check = PrepareOrThrow(db, "PRAGMA quick_check(moz_bookmarks)");
    std::string problems;
    int count = 0;
    while (StepRow(check)) {
        const std::string line = ColumnText(check, 0);
        if (line == "ok") continue;
        if (count++ < 3) problems += (problems.empty() ? "" : "; ") + line;
    }
    if (count > 0) throw DamagedDatabase(problems);
}

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

// A file cut short (its last pages lost) reads without an error from SQLite: the pages that are
// gone read as empty. Its header still tells how long it was. With a -wal beside it the main file may
// be behind its header until the log is replayed, so only a file without one is measured.
void CheckFileLength(const std::wstring& path) {
    if (HasWriteAheadLog(path)) return;
    std::error_code failed;
    const std::filesystem::path file(path);
    const uintmax_t size = std::filesystem::file_size(file, failed);
    if (failed) return;
    unsigned char header[100] = {};
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return;
    if (std::string(reinterpret_cast<const char*>(header), 16) != std::string("SQLite format 3", 16)) return;
    const uint32_t pageSize = header[16] == 0 && header[17] == 1 ? 65536u : (uint32_t{header[16]} << 8) | header[17];
    const uint32_t pages = BigEndian32(header + 28);
    // The count is valid only when the file's change counter matches the one it was written with.
    if (pages == 0 || BigEndian32(header + 24) != BigEndian32(header + 92)) return;
    if (size < uintmax_t{pages} * pageSize) {
        throw DamagedDatabase("the file holds " + std::to_string(size / pageSize) + " of its " + std::to_string(pages) +
                              " pages");
    }
}

std::vector<BookmarkRecord> ReadOpenPlaces(sqlite3* db, const std::wstring& path) {
    // One join: only places that bookmarks point at are read, however long the history is.
    Statement query = PrepareOrThrow(
        db,
        "SELECT b.id, b.parent, b.type, IFNULL(b.position, 0), IFNULL(b.dateAdded, 0), IFNULL(b.guid, ''), "
        "IFNULL(b.title, ''), IFNULL(p.url, '') FROM moz_bookmarks b "
        "LEFT JOIN moz_places p ON b.type = 1 AND p.id = b.fk WHERE b.type IN (1, 2)");
    CheckFileLength(path);
    CheckBookmarksTable(db);
    std::vector<ReadItem> items;
    PlacesItemMap folders;
    PlacesGuidMap guids;
    {
        while (StepRow(query)) {
            ReadItem item;
            item.id = ColumnInt64(query, 0);
            item.parent = ColumnInt64(query, 1);
            item.type = ColumnInt64(query, 2);
            item.position = ColumnInt64(query, 3);
            item.dateAdded = ColumnInt64(query, 4);
            item.guid = ColumnText(query, 5);
            item.title = ToWide(ColumnText(query, 6));
            item.url = ColumnText(query, 7);
            if (item.type == 2) {
                folders[item.id] = PlacesItem{item.id, item.parent, item.type, 0, item.title};
                guids[item.id] = ToWide(item.guid);
            }
            items.push_back(std::move(item));
        }
    }
    // The items in (parent, position, id) order, sorted as small keys: moving the items themselves,
    // strings and all, cost more than the rest of the read.
    struct OrderKey {
        int64_t parent;
        int64_t position;
        int64_t id;
        size_t index;
    };
    std::vector<OrderKey> keys;
    keys.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) keys.push_back({items[i].parent, items[i].position, items[i].id, i});
    std::sort(keys.begin(), keys.end(), [](const OrderKey& a, const OrderKey& b) {
        return a.parent != b.parent ? a.parent < b.parent : a.position != b.position ? a.position < b.position : a.id < b.id;
    });
    std::vector<const ReadItem*> ordered;
    ordered.reserve(keys.size());
    for (const OrderKey& key : keys) ordered.push_back(&items[key.index]);
    keys = {};
    // Children of each folder, in position order: a range of `ordered`.
    std::unordered_map<int64_t, std::pair<size_t, size_t>> children;
    for (size_t i = 0; i < ordered.size();) {
        size_t end = i;
        while (end < ordered.size() && ordered[end]->parent == ordered[i]->parent) ++end;
        children.emplace(ordered[i]->parent, std::make_pair(i, end));
        i = end;
    }

    std::vector<BookmarkRecord> result;
    std::unordered_map<int64_t, std::wstring> folderPaths;
    std::unordered_set<int64_t> visited;
    auto emit = [&](const ReadItem& item) {
        if (item.type != 1 || item.url.empty()) return;
        auto folder = folderPaths.find(item.parent);
        if (folder == folderPaths.end())
            folder = folderPaths.emplace(item.parent, PlacesFolderPath(folders, guids, item.parent)).first;
        BookmarkRecord record;
        record.url = ToWide(item.url);
        record.title = item.title;
        record.folder_path = folder->second;
        record.date_added = item.dateAdded / 1000000;
        result.push_back(std::move(record));
    };
    // Depth-first from a folder, children in order; a folder met twice (a cycle) is walked once.
    auto walk = [&](int64_t start) {
        std::vector<std::pair<size_t, size_t>> stack;
        if (!visited.insert(start).second) return;
        if (auto range = children.find(start); range != children.end()) stack.push_back(range->second);
        while (!stack.empty()) {
            auto& top = stack.back();
            if (top.first == top.second) {
                stack.pop_back();
                continue;
            }
            const ReadItem& item = *ordered[top.first++];
            if (item.type == 2) {
                // The tags root holds labels of bookmarks that live elsewhere.
                if (item.guid == "tags________" || !visited.insert(item.id).second) continue;
                if (auto range = children.find(item.id); range != children.end()) stack.push_back(range->second);
            } else {
                emit(item);
            }
        }
    };
    for (const ReadItem* item : ordered)
        if (item->guid == "root________") walk(item->id);
    // What the walk from the root did not reach (items whose parent is gone, folders in a cycle, a file
    // without a root) is still read, folder path by folder path, unless it lies under the tags root.
    std::unordered_set<int64_t> tagsRoots;
    for (const ReadItem& item : items)
        if (item.guid == "tags________") tagsRoots.insert(item.id);
    auto underTags = [&](int64_t folder) {
        for (int step = 0; step < kMaxFolderDepth && folder > 0; ++step) {
            if (tagsRoots.count(folder)) return true;
            const auto found = folders.find(folder);
            if (found == folders.end()) return false;
            folder = found->second.parent;
        }
        return false;
    };
    for (const ReadItem* item : ordered)
        if (item->type == 1 && !visited.count(item->parent) && !underTags(item->parent)) emit(*item);
    return result;
}

std::vector<BookmarkRecord> ReadPlacesFile(const std::wstring& path, std::wstring* error, bool* cannotOpen) {
    std::vector<BookmarkRecord> result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        if (error) *error = L"Could not open places.sqlite (is Firefox closed?).";
        if (db) sqlite3_close(db);
        return result;
    }
    try {
        result = ReadOpenPlaces(db, path);
    } catch (const DamagedDatabase& e) {
        result.clear();
        if (error) *error = L"places.sqlite is damaged (" + ToWide(e.what()) + L"); nothing was read from it.";
    } catch (const std::exception& e) {
        result.clear();
        if (IsCorruption(db)) {
            if (error)
                *error = L"places.sqlite is damaged (" + ToWide(sqlite3_errmsg(db)) + L"); nothing was read from it.";
        } else {
            if (cannotOpen) *cannotOpen = CannotOpen(db);
            if (error) *error = ToWide(e.what());
        }
    }
    sqlite3_close(db);
    return result;
}

}  // namespace

std::vector<BookmarkRecord> ReadFirefoxBookmarksFromCopy(const std::wstring& path, std::wstring* error) {
    TemporaryDatabaseCopy copy(path);
    if (!copy.ok()) {
        if (error)
            *error = L"Could not read places.sqlite: SQLite cannot open it in its own folder, and a private copy "
                     L"could not be made (" + copy.error() + L").";
        return {};
    }
    return ReadPlacesFile(copy.path(), error, nullptr);
}

std::vector<BookmarkRecord> ReadFirefoxBookmarks(const std::wstring& path, std::wstring* error) {
    bool cannotOpen = false;
    std::wstring failure;
    std::vector<BookmarkRecord> result = ReadPlacesFile(path, &failure, &cannotOpen);
    if (failure.empty()) return result;
    // A database in WAL mode needs its -shm beside it, even to be read; where SQLite may not make that
    // file (a read-only folder), the database and its -wal are read from a private copy.
    if (cannotOpen) {
        std::wstring copyFailure;
        result = ReadFirefoxBookmarksFromCopy(path, &copyFailure);
        if (copyFailure.empty()) return result;
        failure = copyFailure;
    }
    if (error) *error = failure;
    return {};
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

namespace {

bool HasTable(sqlite3* db, const char* table) {
    Statement query = PrepareOrThrow(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    BindText(query, 1, table);
    return StepRow(query);
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
    Statement query = PrepareOrThrow(db, std::string("PRAGMA table_info(") + table + ")");
    while (StepRow(query))
        if (ColumnText(query, 1) == column) return true;
    return false;
}

// What the file has of the bookkeeping that newer Firefox versions keep; older files lack some of it,
// and only what is there is written.
struct PlacesSchema {
    bool origins = false;           // moz_origins and moz_places.origin_id
    bool originRecalc = false;      // moz_origins.recalc_frecency
    bool originAltRecalc = false;   // moz_origins.recalc_alt_frecency
    bool recalcFrecency = false;    // moz_places.recalc_frecency
    bool recalcAltFrecency = false; // moz_places.recalc_alt_frecency
    bool syncColumns = false;       // moz_bookmarks.syncStatus and syncChangeCounter
    bool tombstones = false;        // moz_bookmarks_deleted
    bool keywords = false;          // moz_keywords
    bool itemAnnotations = false;   // moz_items_annos

    static PlacesSchema Of(sqlite3* db) {
        PlacesSchema schema;
        schema.origins = HasTable(db, "moz_origins") && HasColumn(db, "moz_places", "origin_id");
        schema.originRecalc = schema.origins && HasColumn(db, "moz_origins", "recalc_frecency");
        schema.originAltRecalc = schema.origins && HasColumn(db, "moz_origins", "recalc_alt_frecency");
        schema.recalcFrecency = HasColumn(db, "moz_places", "recalc_frecency");
        schema.recalcAltFrecency = HasColumn(db, "moz_places", "recalc_alt_frecency");
        schema.syncColumns =
            HasColumn(db, "moz_bookmarks", "syncStatus") && HasColumn(db, "moz_bookmarks", "syncChangeCounter");
        schema.tombstones = HasTable(db, "moz_bookmarks_deleted");
        schema.keywords = HasTable(db, "moz_keywords");
        schema.itemAnnotations = HasTable(db, "moz_items_annos");
        return schema;
    }
};

// Firefox's sync status of an item made on this machine and not yet seen by Sync.
constexpr int kSyncStatusNew = 1;
// An item Firefox Sync has on its server: removing it needs a tombstone.
constexpr int kSyncStatusNormal = 2;

bool IsPlaceUrl(const std::string& url) { return url.compare(0, 6, "place:") == 0; }

// Finds or makes places, folders and bookmarks the way Firefox's own insert leaves them.
class PlacesInserter {
public:
    explicit PlacesInserter(sqlite3* db) : db_(db), schema_(PlacesSchema::Of(db)), now_(NowMicroseconds()) {
        Prepare(placeQuery_, "SELECT id FROM moz_places WHERE url_hash = ? AND url = ? ORDER BY id LIMIT 1");
        std::string columns = "url, title, rev_host, hidden, typed, frecency, guid, url_hash, foreign_count";
        std::string values = "?1, ?2, ?3, ?4, 0, ?5, ?6, ?7, 0";
        if (schema_.recalcFrecency) columns += ", recalc_frecency", values += ", ?8";
        if (schema_.recalcAltFrecency) columns += ", recalc_alt_frecency", values += ", 1";
        if (schema_.origins) columns += ", origin_id", values += ", ?9";
        Prepare(placeInsert_, "INSERT INTO moz_places(" + columns + ") VALUES(" + values + ")");
        std::string itemColumns = "type, fk, parent, position, title, dateAdded, lastModified, guid";
        std::string itemValues = "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8";
        if (schema_.syncColumns) {
            itemColumns += ", syncStatus, syncChangeCounter";
            itemValues += ", " + std::to_string(kSyncStatusNew) + ", 1";
        }
        Prepare(itemInsert_, "INSERT INTO moz_bookmarks(" + itemColumns + ") VALUES(" + itemValues + ")");
        // A bookmark raises its place's frecency: Firefox flags the place to compute it again (place:
        // queries stay out of the ranking).
        std::string countUpdate = "UPDATE moz_places SET foreign_count = foreign_count + 1";
        if (schema_.recalcFrecency)
            countUpdate += ", recalc_frecency = CASE WHEN substr(url, 1, 6) = 'place:' THEN recalc_frecency ELSE 1 END";
        if (schema_.recalcAltFrecency)
            countUpdate += ", recalc_alt_frecency = CASE WHEN substr(url, 1, 6) = 'place:' THEN recalc_alt_frecency "
                           "ELSE 1 END";
        Prepare(foreignCount_, countUpdate + " WHERE id = ?");
        if (schema_.origins) {
            Prepare(originQuery_, "SELECT id FROM moz_origins WHERE prefix = ? AND host = ?");
            std::string originColumns = "prefix, host, frecency";
            std::string originValues = "?1, ?2, ?3";
            if (schema_.originRecalc) originColumns += ", recalc_frecency", originValues += ", 1";
            if (schema_.originAltRecalc) originColumns += ", recalc_alt_frecency", originValues += ", 1";
            Prepare(originInsert_, "INSERT INTO moz_origins(" + originColumns + ") VALUES(" + originValues + ")");
            if (schema_.originRecalc)
                Prepare(originRecalc_, "UPDATE moz_origins SET recalc_frecency = 1 WHERE id = ?");
        }
        Prepare(positionQuery_, "SELECT COALESCE(MAX(position), -1) + 1 FROM moz_bookmarks WHERE parent = ?");
        Prepare(folderQuery_, "SELECT id FROM moz_bookmarks WHERE parent = ? AND type = 2 AND title = ? LIMIT 1");
    }

    const PlacesSchema& schema() const { return schema_; }
    int64_t now() const { return now_; }

    // The place of the URL in the form Firefox stores it, found through the url_hash index; made, with
    // the frecency state that has Firefox compute it and its origin, when the file has none.
    int64_t Place(const std::wstring& url, const std::wstring& title) {
        const std::string stored = CanonicalPlacesUrl(ToUtf8(url));
        const int64_t hash = PlacesUrlHash(stored);
        Reset(*placeQuery_);
        BindInt64(*placeQuery_, 1, hash);
        BindText(*placeQuery_, 2, stored);
        if (StepRow(*placeQuery_)) {
            const int64_t id = ColumnInt64(*placeQuery_, 0);
            Reset(*placeQuery_);
            return id;
        }
        Reset(*placeQuery_);
        // Firefox keeps place: queries hidden and out of the frecency ranking.
        const bool query = IsPlaceUrl(stored);
        Statement& insert = *placeInsert_;
        Reset(insert);
        BindText(insert, 1, stored);
        BindText(insert, 2, ToUtf8(title));
        BindText(insert, 3, PlacesReversedHost(stored));
        BindInt64(insert, 4, query ? 1 : 0);
        BindInt64(insert, 5, query ? 0 : 1);
        BindText(insert, 6, NewPlacesGuid());
        BindInt64(insert, 7, hash);
        if (schema_.recalcFrecency) BindInt64(insert, 8, query ? 0 : 1);
        if (schema_.origins) BindInt64(insert, 9, Origin(stored));
        StepOnce(insert);
        Reset(insert);
        return sqlite3_last_insert_rowid(db_);
    }

    // The folder with that title under the parent, made at its end when missing.
    // Each answer is kept: only this inserter adds folders while it lives, and it adds one only where
    // none matched, so the file's first match never changes. Without the cache every segment of every
    // record would scan the parent's children again.
    int64_t Folder(int64_t parentId, const std::wstring& title) {
        std::string utf8Title = ToUtf8(title);
        auto known = folders_.find(FolderKey{parentId, utf8Title});
        if (known != folders_.end()) return known->second;
        Reset(*folderQuery_);
        BindInt64(*folderQuery_, 1, parentId);
        BindText(*folderQuery_, 2, utf8Title);
        int64_t id = StepRow(*folderQuery_) ? ColumnInt64(*folderQuery_, 0) : -1;
        Reset(*folderQuery_);
        if (id < 0) id = InsertItem(2, 0, parentId, utf8Title, now_);
        folders_.emplace(FolderKey{parentId, std::move(utf8Title)}, id);
        return id;
    }

    void Bookmark(int64_t placeId, int64_t parentId, const std::wstring& title, int64_t stamp) {
        InsertItem(1, placeId, parentId, ToUtf8(title), stamp);
        Reset(*foreignCount_);
        BindInt64(*foreignCount_, 1, placeId);
        StepOnce(*foreignCount_);
        Reset(*foreignCount_);
    }

    // A folder whose children changed: its lastModified and its change counter move as Firefox moves
    // them (one count per child added or removed).
    void Touch(int64_t folderId, int64_t changes = 1) { touched_[folderId] += changes; }

    void Finish() {
        if (touched_.empty()) return;
        Statement update = PrepareOrThrow(
            db_, schema_.syncColumns ? "UPDATE moz_bookmarks SET lastModified = MAX(IFNULL(lastModified, 0), ?1), "
                                       "syncChangeCounter = syncChangeCounter + ?2 WHERE id = ?3"
                                     : "UPDATE moz_bookmarks SET lastModified = MAX(IFNULL(lastModified, 0), ?1) "
                                       "WHERE id = ?3");
        for (const auto& [id, changes] : touched_) {
            Reset(update);
            BindInt64(update, 1, now_);
            if (schema_.syncColumns) BindInt64(update, 2, changes);
            BindInt64(update, 3, id);
            StepOnce(update);
        }
        touched_.clear();
    }

private:
    void Prepare(std::optional<Statement>& slot, const std::string& sql) { slot.emplace(PrepareOrThrow(db_, sql)); }
    static void Reset(Statement& statement) { sqlite3_reset(statement.get()); }

    int64_t Origin(const std::string& stored) {
        const PlacesOrigin origin = PlacesOriginOf(stored);
        Reset(*originQuery_);
        BindText(*originQuery_, 1, origin.prefix);
        BindText(*originQuery_, 2, origin.host);
        if (StepRow(*originQuery_)) {
            const int64_t id = ColumnInt64(*originQuery_, 0);
            Reset(*originQuery_);
            if (originRecalc_) {
                Reset(*originRecalc_);
                BindInt64(*originRecalc_, 1, id);
                StepOnce(*originRecalc_);
                Reset(*originRecalc_);
            }
            return id;
        }
        Reset(*originQuery_);
        Reset(*originInsert_);
        BindText(*originInsert_, 1, origin.prefix);
        BindText(*originInsert_, 2, origin.host);
        BindInt64(*originInsert_, 3, IsPlaceUrl(stored) ? 0 : -1);
        StepOnce(*originInsert_);
        Reset(*originInsert_);
        return sqlite3_last_insert_rowid(db_);
    }

    int64_t InsertItem(int type, int64_t fk, int64_t parentId, const std::string& title, int64_t stamp) {
        Statement& insert = *itemInsert_;
        Reset(insert);
        BindInt64(insert, 1, type);
        if (fk > 0) BindInt64(insert, 2, fk);
        else sqlite3_bind_null(insert.get(), 2);
        BindInt64(insert, 3, parentId);
        BindInt64(insert, 4, TakePosition(parentId));
        BindText(insert, 5, title);
        BindInt64(insert, 6, stamp);
        BindInt64(insert, 7, stamp);
        BindText(insert, 8, NewPlacesGuid());
        StepOnce(insert);
        Reset(insert);
        Touch(parentId);
        return sqlite3_last_insert_rowid(db_);
    }

    // The position after every existing child of the folder, then one more for each insert into it.
    int64_t TakePosition(int64_t parentId) {
        auto next = nextPositions_.find(parentId);
        if (next == nextPositions_.end()) {
            Reset(*positionQuery_);
            BindInt64(*positionQuery_, 1, parentId);
            StepRow(*positionQuery_);
            next = nextPositions_.emplace(parentId, ColumnInt64(*positionQuery_, 0)).first;
            Reset(*positionQuery_);
        }
        return next->second++;
    }

    sqlite3* db_;
    PlacesSchema schema_;
    int64_t now_;
    std::optional<Statement> placeQuery_, placeInsert_, itemInsert_, foreignCount_, originQuery_, originInsert_,
        originRecalc_, positionQuery_, folderQuery_;
    std::unordered_map<int64_t, int64_t> nextPositions_;
    struct FolderKey {
        int64_t parent;
        std::string title;
        bool operator==(const FolderKey& other) const { return parent == other.parent && title == other.title; }
    };
    struct FolderKeyHash {
        size_t operator()(const FolderKey& key) const {
            return std::hash<std::string>()(key.title) ^ (std::hash<int64_t>()(key.parent) * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_map<FolderKey, int64_t, FolderKeyHash> folders_;
    std::map<int64_t, int64_t> touched_;
};

}  // namespace

int64_t EnsurePlacesFolder(sqlite3* db, int64_t parentId, const std::wstring& title) {
    PlacesInserter inserter(db);
    const int64_t id = inserter.Folder(parentId, title);
    inserter.Finish();
    return id;
}

int64_t EnsurePlace(sqlite3* db, const std::wstring& url, const std::wstring& title) {
    return PlacesInserter(db).Place(url, title);
}

std::string ReverseHost(const std::wstring& url) { return PlacesReversedHost(CanonicalPlacesUrl(ToUtf8(url))); }

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

// SQL conditions on a moz_bookmarks row `b`: it lies under the tags root (a tag folder or a tag entry).
std::string UnderTagsRoot(int64_t tagsRoot) {
    const std::string tags = std::to_string(tagsRoot);
    return "(b.parent = " + tags + " OR b.parent IN (SELECT id FROM moz_bookmarks WHERE parent = " + tags + "))";
}

// The items a replace removes: everything but the fixed roots and what lies under the tags root.
std::string RemovedByReplace(int64_t tagsRoot) {
    return "b.guid NOT IN ('root________','menu________','toolbar_____','unfiled_____','mobile______',"
           "'tags________') AND NOT " + UnderTagsRoot(tagsRoot);
}

// The places a bookmark (not a tag entry) points at.
std::string BookmarkedPlaces(int64_t tagsRoot) {
    return "(SELECT b.fk FROM moz_bookmarks b WHERE b.type = 1 AND b.fk IS NOT NULL AND NOT " + UnderTagsRoot(tagsRoot) +
           ")";
}

void Run(sqlite3* db, const std::string& sql, int64_t bind = INT64_MIN) {
    Statement statement = PrepareOrThrow(db, sql);
    if (bind != INT64_MIN) BindInt64(statement, 1, bind);
    StepOnce(statement);
}

// Removes every item but the roots and the tags, as Firefox does when its user removes them all:
// their places give up the count these bookmarks held, Sync gets a tombstone for what it knows, the
// roots' lastModified and change counters move.
void RemoveAllItems(sqlite3* db, PlacesInserter& inserter, int64_t tagsRoot) {
    const std::string removed = RemovedByReplace(tagsRoot);
    const PlacesSchema& schema = inserter.schema();
    {
        Statement parents = PrepareOrThrow(
            db, "SELECT b.parent, COUNT(*) FROM moz_bookmarks b WHERE " + removed +
                    " AND b.parent IN (SELECT id FROM moz_bookmarks WHERE guid IN ('root________','menu________',"
                    "'toolbar_____','unfiled_____','mobile______')) GROUP BY b.parent");
        while (StepRow(parents)) inserter.Touch(ColumnInt64(parents, 0), ColumnInt64(parents, 1));
    }
    if (schema.tombstones && schema.syncColumns) {
        Run(db,
            "INSERT OR REPLACE INTO moz_bookmarks_deleted(guid, dateRemoved) SELECT b.guid, ?1 FROM moz_bookmarks b "
            "WHERE " + removed + " AND b.syncStatus = " + std::to_string(kSyncStatusNormal) + " AND b.guid IS NOT NULL",
            inserter.now());
    }
    Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_bookmarks b "
            "WHERE b.type = 1 AND b.fk = moz_places.id AND " + removed + ")) "
            "WHERE id IN (SELECT b.fk FROM moz_bookmarks b WHERE b.type = 1 AND " + removed + ")");
    if (schema.itemAnnotations)
        Run(db, "DELETE FROM moz_items_annos WHERE item_id IN (SELECT b.id FROM moz_bookmarks b WHERE " + removed + ")");
    Run(db, "DELETE FROM moz_bookmarks WHERE id IN (SELECT b.id FROM moz_bookmarks b WHERE " + removed + ")");
}

// Tags and keywords belong to a URL while it is bookmarked: those of URLs no longer bookmarked go, as
// when Firefox's user removes a URL's last bookmark. The tag folders stay.
void DropTagsAndKeywordsOfUnbookmarkedUrls(sqlite3* db, PlacesInserter& inserter, int64_t tagsRoot) {
    const std::string bookmarked = BookmarkedPlaces(tagsRoot);
    if (tagsRoot >= 0) {
        const std::string stale = "b.type = 1 AND b.parent IN (SELECT id FROM moz_bookmarks WHERE parent = " +
                                  std::to_string(tagsRoot) + ") AND b.fk NOT IN " + bookmarked;
        {
            Statement folders =
                PrepareOrThrow(db, "SELECT b.parent, COUNT(*) FROM moz_bookmarks b WHERE " + stale + " GROUP BY b.parent");
            while (StepRow(folders)) inserter.Touch(ColumnInt64(folders, 0), ColumnInt64(folders, 1));
        }
        Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_bookmarks b "
                "WHERE b.fk = moz_places.id AND " + stale + ")) WHERE id IN (SELECT b.fk FROM moz_bookmarks b WHERE " +
                    stale + ")");
        Run(db, "DELETE FROM moz_bookmarks WHERE id IN (SELECT b.id FROM moz_bookmarks b WHERE " + stale + ")");
        // The remaining entries of each tag folder close up, as Firefox keeps positions gapless.
        Run(db, "UPDATE moz_bookmarks SET position = (SELECT COUNT(*) FROM moz_bookmarks s WHERE "
                "s.parent = moz_bookmarks.parent AND (s.position < moz_bookmarks.position OR "
                "(s.position = moz_bookmarks.position AND s.id < moz_bookmarks.id))) "
                "WHERE parent IN (SELECT id FROM moz_bookmarks WHERE parent = ?1)",
            tagsRoot);
    }
    if (inserter.schema().keywords) {
        Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_keywords k "
                "WHERE k.place_id = moz_places.id)) WHERE id IN (SELECT place_id FROM moz_keywords WHERE place_id "
                "NOT IN " + bookmarked + ")");
        Run(db, "DELETE FROM moz_keywords WHERE place_id NOT IN " + bookmarked);
    }
}

std::wstring DuplicateKey(const std::string& utf8Url) { return NormalizeUrl(ToWide(CanonicalPlacesUrl(utf8Url))); }

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
        const int64_t tags = FindIdByGuid(db, "tags________");
        if (unfiled < 0 && toolbar < 0) {
            throw std::runtime_error("Could not locate Firefox bookmark roots in places.sqlite.");
        }
        if (unfiled < 0) unfiled = toolbar;
        if (toolbar < 0) toolbar = unfiled;
        if (menu < 0) menu = unfiled;
        if (mobile < 0) mobile = unfiled;

        ExecOrThrow(db, "BEGIN IMMEDIATE;");

        int inserted = 0;
        int skippedCount = 0;
        {
            PlacesInserter inserter(db);
            std::unordered_set<std::wstring> seen;
            if (replace) {
                RemoveAllItems(db, inserter, tags);
            } else {
                // Present means bookmarked: a URL Firefox knows only from history (or only as a tag
                // entry) still gets its bookmark, on the place it already has.
                Statement query = PrepareOrThrow(
                    db, "SELECT p.url FROM moz_places p WHERE p.id IN " + BookmarkedPlaces(tags));
                while (StepRow(query)) seen.insert(DuplicateKey(ColumnText(query, 0)));
            }
            for (const BookmarkRecord& record : items) {
                const std::wstring key = DuplicateKey(ToUtf8(record.url));
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
                    parent = (!pieces.empty() && IsMenuRootName(pieces.front())) ? menu : unfiled;
                }
                for (const std::wstring& name : parsed.segments) parent = inserter.Folder(parent, name);

                const int64_t fk = inserter.Place(record.url, record.title);
                const int64_t date = record.date_added != 0 ? record.date_added : static_cast<int64_t>(std::time(nullptr));
                inserter.Bookmark(fk, parent, record.title, date * 1000000);
                seen.insert(key);
                ++inserted;
            }
            if (replace) DropTagsAndKeywordsOfUnbookmarkedUrls(db, inserter, tags);
            inserter.Finish();
        }  // the statements are finalized before the commit and the close

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

// The writer's merge without the write: how many of the records it would add. -1 when the file
// cannot be read that way, so that the writer itself reports why.
int CountFirefoxMergeAdditions(const std::wstring& path, const std::vector<BookmarkRecord>& items) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        if (db) sqlite3_close(db);
        return -1;
    }
    int count = -1;
    try {
        if (FindIdByGuid(db, "unfiled_____") >= 0 || FindIdByGuid(db, "toolbar_____") >= 0) {
            std::unordered_set<std::wstring> seen;
            {
                Statement query = PrepareOrThrow(
                    db, "SELECT p.url FROM moz_places p WHERE p.id IN " + BookmarkedPlaces(FindIdByGuid(db, "tags________")));
                while (StepRow(query)) seen.insert(DuplicateKey(ColumnText(query, 0)));
            }
            count = 0;
            for (const BookmarkRecord& record : items)
                if (seen.insert(DuplicateKey(ToUtf8(record.url))).second) ++count;
        }
    } catch (const std::exception&) {
        count = -1;
    }
    sqlite3_close(db);
    return count;
}

}  // namespace bm
