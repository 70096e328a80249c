#include "core/chromium_bookmarks.h"

#include <stdexcept>
#include <unordered_set>

#include "core/chromium_bookmarks_internal.h"
#include "core/file_io.h"
#include "core/read_failure.h"

namespace bm {

using nlohmann::json;

int64_t ChromeTimeToUnix(const std::string& stamp) {
    if (stamp.empty()) return Now();
    try {
        return std::stoll(stamp) / 1000000 - kChromeEpochOffsetSeconds;
    } catch (const std::exception&) {
        return Now();
    }
}

namespace {

// Why a walk stopped: a folder path longer than any store keeps, or paths past the file's budget.
struct FolderPathsTooLarge {
    bool oneTooLong;
};

// A node no browser writes, met in the folder `path`: the walk stops, as a browser's own reading does.
struct DamagedNode {
    std::wstring path;
    bool noAddress;  // a bookmark without its address, rather than a node of no known kind
};

// CollectNode, refusing a folder path longer than `longest` and stopping once the paths copied into
// the records pass `budget` characters. `strict` refuses, as browsers do, a node that is no object,
// of no known type, a bookmark without an address or a folder without its list of children: each
// is a sign of damage, and skipping it would read the file as less than it holds.
void CollectNodeWithin(const json& node, const std::wstring& parentPath, std::vector<BookmarkRecord>* out,
                       size_t longest, size_t& budget, bool strict) {
    // One path, extended on the way into a folder and cut back on the way out.
    std::wstring path = parentPath;
    std::vector<size_t> lengths;
    auto visit = [&](const json& current) -> const json* {
        if (!current.is_object()) {
            if (strict) throw DamagedNode{path, false};
            return nullptr;
        }
        const std::string type = StringField(current, "type");
        if (type == "url") {
            std::string url = StringField(current, "url");
            if (url.empty()) {
                if (strict) throw DamagedNode{path, true};
                return nullptr;
            }
            if (path.size() > budget) throw FolderPathsTooLarge{false};
            budget -= path.size();
            if (!out) return nullptr;
            BookmarkRecord record;
            record.url = ToWide(url);
            record.title = ToWide(StringField(current, "name"));
            record.folder_path = path;
            record.date_added = ChromeTimeToUnix(StringField(current, "date_added"));
            out->push_back(std::move(record));
            return nullptr;
        }
        const json* children = type == "folder" ? ChildrenOf(current) : nullptr;
        if (!children) {
            if (strict) throw DamagedNode{path, false};
            return nullptr;
        }
        lengths.push_back(path.size());
        if (!path.empty()) path += L'/';
        path += ToWide(StringField(current, "name"));
        if (path.size() > longest) throw FolderPathsTooLarge{true};
        return children;
    };
    WalkTree(node, visit, [&] {
        path.resize(lengths.back());
        lengths.pop_back();
    });
}

}  // namespace

std::vector<BookmarkRecord> ReadChromiumBookmarks(const std::wstring& path, std::wstring* error) {
    std::string bytes;
    bool missing = false;
    if (!ReadFileBytes(path, bytes, &missing)) {
        if (error) *error = UnreadableFileText(L"Bookmarks file", path, missing);
        return {};
    }
    return ReadChromiumBookmarksText(bytes, error);
}

bool ReadDocument(const json& document, size_t inputBytes, std::vector<BookmarkRecord>* records, std::wstring& error) {
    const json& roots = document["roots"];
    size_t budget = FolderPathBudget(inputBytes);
    // Browsers write all three roots; one missing beside a root of another name is a damaged key.
    bool unknownRoot = false;
    std::unordered_set<std::wstring> known;
    for (auto member = roots.begin(); member != roots.end(); ++member) {
        const std::wstring key = CanonicalRootKey(ToWide(member.key()));
        if (key.empty()) unknownRoot = true;
        else known.insert(key);
    }
    if (unknownRoot && known.size() < 3) {
        error = L"Bookmarks file is damaged: one of the bookmark roots every browser writes is missing or "
                L"misnamed; it was not read.";
        return false;
    }
    try {
        for (auto member = roots.begin(); member != roots.end(); ++member) {
            const std::wstring key = CanonicalRootKey(ToWide(member.key()));
            if (key.empty()) continue;
            const json& root = member.value();
            const std::wstring label = RootLabel(key);
            if (!root.is_object()) throw DamagedNode{label, false};
            auto children = root.find("children");
            if (children == root.end() || !children->is_array()) throw DamagedNode{label, false};
            for (const json& child : *children)
                CollectNodeWithin(child, label, records, kMaxFolderPathLength, budget, true);
        }
    } catch (const DamagedNode& e) {
        error = L"Bookmarks file is damaged: " +
                std::wstring(e.noAddress ? L"a bookmark in '" + e.path + L"' has no address"
                                         : L"an entry in '" + e.path +
                                               L"' is neither a bookmark nor a folder as browsers write them") +
                L"; it was not read.";
        return false;
    } catch (const FolderPathsTooLarge& e) {
        error = e.oneTooLong ? L"Bookmarks file has a folder path longer than " + std::to_wstring(kMaxFolderPathLength) +
                                   L" characters, more than any browser keeps; it was not read."
                             : L"Bookmarks file has folders so deep, with names so long, that its bookmarks would need "
                               L"far more memory than any browser's file; it was not read.";
        return false;
    }
    return true;
}

std::vector<BookmarkRecord> ReadChromiumBookmarksText(const std::string& bytes, std::wstring* error) {
    json document;
    std::wstring problem;
    std::vector<BookmarkRecord> records;
    if (!ParseBookmarksDocument(bytes, document, problem) || !ReadDocument(document, bytes.size(), &records, problem)) {
        if (error) *error = problem;
        return {};
    }
    return records;
}

}  // namespace bm
