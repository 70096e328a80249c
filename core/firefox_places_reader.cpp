#include "core/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/firefox_places_internal.h"
#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"

namespace bm {

namespace {

constexpr int kMaxFolderDepth = 64;

// One folder of moz_bookmarks as the folder path walk needs it.
struct PlacesItem {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t type = 0;
    int64_t fk = 0;  // 0 for NULL
    std::wstring title;  // empty for NULL
};

using PlacesItemMap = std::unordered_map<int64_t, PlacesItem>;
using PlacesGuidMap = std::unordered_map<int64_t, std::wstring>;

const char* FixedRootName(const std::string& guid) {
    if (guid == "menu________") return "Bookmarks Menu";
    if (guid == "toolbar_____") return "Bookmarks Toolbar";
    if (guid == "unfiled_____") return "Other Bookmarks";
    if (guid == "mobile______") return "Mobile Bookmarks";
    return nullptr;
}

// The folder_path of an item whose parent is `folderId`: at most 64 folder names, outermost first.
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

}  // namespace bm
