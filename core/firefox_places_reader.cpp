#include "core/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "core/firefox_places_internal.h"
#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"

namespace bm {

namespace {

const char* FixedRootName(const std::string& guid) {
    if (guid == "menu________") return "Bookmarks Menu";
    if (guid == "toolbar_____") return "Bookmarks Toolbar";
    if (guid == "unfiled_____") return "Other Bookmarks";
    if (guid == "mobile______") return "Mobile Bookmarks";
    return nullptr;
}

// One row of moz_bookmarks as the reader keeps it.
struct ReadItem {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t type = 0;
    int64_t position = 0;
    int64_t dateAdded = 0;  // microseconds
    bool hasPlace = false;  // a bookmark whose moz_places row was found
    std::string guid;
    std::string url;  // the place's url for a bookmark; empty otherwise
    std::wstring title;
};

}  // namespace

std::vector<BookmarkRecord> ReadOpenPlaces(sqlite3* db, const std::wstring& path) {
    // One join: only places that bookmarks point at are read, however long the history is.
    Statement query = PrepareOrThrow(
        db,
        "SELECT b.id, b.parent, b.type, IFNULL(b.position, 0), IFNULL(b.dateAdded, 0), IFNULL(b.guid, ''), "
        "IFNULL(b.title, ''), IFNULL(p.url, ''), p.id IS NOT NULL FROM moz_bookmarks b "
        "LEFT JOIN moz_places p ON b.type = 1 AND p.id = b.fk WHERE b.type IN (1, 2)");
    CheckFileLength(path);
    CheckPlacesTables(db);
    std::vector<ReadItem> items;
    size_t missingPlaces = 0;
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
        item.hasPlace = ColumnInt64(query, 8) != 0;
        if (item.type == 1 && !item.hasPlace) ++missingPlaces;
        items.push_back(std::move(item));
    }
    // A bookmark always has its page: one without it lost it to damage, and leaving it out would
    // give a part of the bookmarks as the whole.
    if (missingPlaces > 0)
        throw DamagedDatabase(std::to_string(missingPlaces) + " bookmark(s) point at a page that is not in the file");

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

    // Depth-first from the top root, children in order, each folder's name on a stack while it is
    // walked: every folder path is whole. Entries under the tags root are walked as well, so that they
    // count as reached, but they are labels of bookmarks that live elsewhere and give no record.
    struct Frame {
        std::pair<size_t, size_t> range;
        bool named = false;      // the folder put a name on the stack
        bool counted = false;    // the folder counts towards the nesting below a root
        bool tags = false;       // the folder lies under the tags root
        bool pathKnown = false;  // `path` holds the folder's path
        std::wstring path;
    };
    // Each record carries its own copy of its folder's path; their sum is held to what files of this
    // size need (the pages' bytes), so that a small crafted file cannot take gigabytes.
    size_t pathBudget = 0;
    {
        Statement size = PrepareOrThrow(db, "SELECT page_count * page_size FROM pragma_page_count, pragma_page_size");
        pathBudget = FolderPathBudget(StepRow(size) ? static_cast<size_t>(ColumnInt64(size, 0)) : 0);
    }
    std::vector<BookmarkRecord> result;
    std::vector<Frame> stack;
    std::vector<std::wstring> names;
    size_t nesting = 0;
    size_t reached = 0;
    size_t reachedTwice = 0;
    std::unordered_set<int64_t> walked;
    auto enter = [&](const ReadItem& folder, bool tags) {
        if (!walked.insert(folder.id).second) {
            ++reachedTwice;
            return;
        }
        Frame frame;
        const auto range = children.find(folder.id);
        frame.range = range == children.end() ? std::make_pair(size_t{0}, size_t{0}) : range->second;
        frame.tags = tags || folder.guid == "tags________";
        if (folder.guid != "root________") {
            const char* fixed = FixedRootName(folder.guid);
            names.push_back(fixed ? ToWide(fixed) : folder.title);
            frame.named = true;
            frame.counted = fixed == nullptr;
            if (frame.counted && ++nesting > kDeepestFolderNesting) throw TooDeepPlaces();
        }
        stack.push_back(std::move(frame));
    };
    const ReadItem* root = nullptr;
    for (const ReadItem& item : items)
        if (item.type == 2 && item.guid == "root________") root = &item;
    if (!root) throw DamagedDatabase("it has no root folder");
    ++reached;
    enter(*root, false);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.range.first == top.range.second) {
            if (top.named) names.pop_back();
            if (top.counted) --nesting;
            stack.pop_back();
            continue;
        }
        const ReadItem& item = *ordered[top.range.first++];
        ++reached;
        if (item.type == 2) {
            enter(item, top.tags);
            continue;
        }
        if (top.tags || item.url.empty()) continue;
        if (!top.pathKnown) {
            top.path = JoinPath(names);
            top.pathKnown = true;
            if (top.path.size() > kMaxFolderPathLength) throw OverlongPlacesPaths();
        }
        if (top.path.size() > pathBudget) throw OverlongPlacesPaths();
        pathBudget -= top.path.size();
        BookmarkRecord record;
        record.url = ToWide(item.url);
        record.title = item.title;
        record.folder_path = top.path;
        record.date_added = item.dateAdded / 1000000;
        result.push_back(std::move(record));
    }
    // Every item lies in the tree below the top root. One the walk did not reach sits in a loop of
    // folders or in a folder that is gone: its place in the tree is lost, and so is the file's whole.
    if (reachedTwice > 0 || reached != items.size()) {
        const size_t outside = items.size() - (reached - reachedTwice);
        throw DamagedDatabase(std::to_string(outside) +
                              " bookmark(s) or folder(s) lie outside the bookmark tree, in a loop of folders or "
                              "in a folder that is gone");
    }
    return result;
}

namespace {

std::vector<BookmarkRecord> ReadPlacesFile(const std::wstring& path, std::wstring* error, bool* cannotOpen) {
    std::vector<BookmarkRecord> result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        if (error) *error = PlacesOpenFailureText(path, L"nothing was read from it.");
        if (db) sqlite3_close(db);
        return result;
    }
    try {
        result = ReadOpenPlaces(db, path);
    } catch (const std::exception& e) {
        result.clear();
        if (cannotOpen) *cannotOpen = CannotOpen(db);
        if (error) *error = PlacesFailureText(db, e, L"nothing was read from it.");
    }
    sqlite3_close(db);
    return result;
}

}  // namespace

std::vector<BookmarkRecord> ReadFirefoxBookmarksFromCopy(const std::wstring& path, std::wstring* error) {
    TemporaryDatabaseCopy copy(path);
    if (!copy.ok()) {
        if (error)
            *error = L"places.sqlite could not be read: its folder may not be written, and a private copy could "
                     L"not be made (" + copy.error() + L").";
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
