#include "core/chromium_bookmarks.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "core/browser_urls.h"
#include "core/chromium_bookmarks_internal.h"
#include "core/file_io.h"
#include "core/read_failure.h"

namespace bm {
namespace {

using nlohmann::json;

std::string ChromeStampFromUnix(int64_t unixSeconds) {
    return std::to_string(unixSeconds * 1000000 + kChromeEpochOffsetSeconds * 1000000);
}

int64_t NextId(const json& document) {
    int64_t highest = 0;
    auto visit = [&highest](const json& value) -> const json* {
        if (!value.is_object()) return nullptr;
        auto id = value.find("id");
        if (id != value.end() && id->is_string()) {
            try {
                highest = std::max<int64_t>(highest, std::stoll(id->get<std::string>()));
            } catch (const std::exception&) {
                // An unusable id does not count.
            }
        }
        return ChildrenOf(value);
    };
    if (document.is_object()) {
        auto roots = document.find("roots");
        if (roots != document.end() && (roots->is_object() || roots->is_array()))
            for (const json& root : *roots) WalkTree(root, visit, [] {});
    }
    // An id at the very top of the range must not wrap the counter around.
    return highest < std::numeric_limits<int64_t>::max() ? highest + 1 : highest;
}

// Adds the duplicate keys of every bookmark at or below `node`.
void CollectUrls(const json& node, std::unordered_set<std::wstring>& urls) {
    WalkTree(
        node,
        [&urls](const json& current) -> const json* {
            if (!current.is_object()) return nullptr;
            const std::string type = StringField(current, "type");
            if (type == "url") urls.insert(NormalizeUrl(ToWide(StringField(current, "url"))));
            return type == "folder" ? ChildrenOf(current) : nullptr;
        },
        [] {});
}

// A node's `children` as an array to add to. Browsers write an array; the readers also walk an
// object's members, so those become the array of its values instead of being dropped.
json& ChildrenArray(json& node) {
    json& children = node["children"];
    if (children.is_object()) {
        json list = json::array();
        for (json& value : children) list.push_back(std::move(value));
        children = std::move(list);
    } else if (!children.is_array()) {
        children = json::array();
    }
    return children;
}

// The position in `node`'s children of the first folder named `segment`, appended when there is none.
size_t FindOrAddFolder(json& node, const std::wstring& segment, std::atomic<int64_t>& nextId) {
    json& children = ChildrenArray(node);
    const std::string name = ToUtf8(segment);
    // Names compare as wide text. When the segment survives the trip through UTF-8 and holds no
    // replacement character, that is the same as comparing the UTF-8 bytes, which saves converting
    // every sibling's name; otherwise compare the converted names.
    const bool compareBytes = ToWide(name) == segment && segment.find(L'\xFFFD') == std::wstring::npos;
    for (size_t i = 0; i < children.size(); ++i) {
        const json& child = children[i];
        if (!child.is_object()) continue;
        auto type = child.find("type");
        auto childName = child.find("name");
        if (type == child.end() || !type->is_string() || type->get_ref<const std::string&>() != "folder") continue;
        const std::string* text = childName != child.end() && childName->is_string() ? &childName->get_ref<const std::string&>() : nullptr;
        if (!text) {
            if (segment.empty()) return i;
        } else if (compareBytes ? *text == name : ToWide(*text) == segment) {
            return i;
        }
    }
    json folder = json::object();
    folder["type"] = "folder";
    folder["name"] = name;
    folder["id"] = std::to_string(nextId.fetch_add(1));
    folder["date_added"] = ChromeStampFromUnix(Now());
    folder["date_modified"] = ChromeStampFromUnix(Now());
    folder["children"] = json::array();
    children.push_back(std::move(folder));
    return children.size() - 1;
}

// The folders one write has already found or made, by root and path. Children are only ever
// appended during a write, so a remembered position keeps naming the first matching folder.
class FolderIndex {
public:
    json& Resolve(json& root, const std::wstring& rootKey, const std::vector<std::wstring>& segments,
                  std::atomic<int64_t>& nextId) {
        json* current = &root;
        size_t folder = roots_.emplace(rootKey, roots_.size()).first->second;
        // Keyed by the parent's number and one name, so that a record costs the length of its path
        // and no more, however deep it lies.
        std::wstring key;
        for (const std::wstring& segment : segments) {
            key = std::to_wstring(folder);
            key += L':';
            key += segment;
            auto known = folders_.find(key);
            if (known == folders_.end()) {
                const Known made{FindOrAddFolder(*current, segment, nextId), kRootNumbers + folders_.size()};
                known = folders_.emplace(std::move(key), made).first;
            }
            current = &(*current)["children"][known->second.position];
            folder = known->second.number;
        }
        return *current;
    }

private:
    struct Known {
        size_t position;  // in the parent's children
        size_t number;    // this folder's number, as a parent in later keys
    };
    static constexpr size_t kRootNumbers = 16;  // numbers below this name roots
    std::unordered_map<std::wstring, size_t> roots_;
    std::unordered_map<std::wstring, Known> folders_;
};

// A root folder as a new document has it.
json MakeRootFolder(const std::string& displayName) {
    json root = json::object();
    root["type"] = "folder";
    root["name"] = displayName;
    root["id"] = "1";
    root["children"] = json::array();
    root["date_added"] = "0";
    root["date_modified"] = "0";
    return root;
}

json NewBookmarksDocument() {
    json document = json::object();
    document["checksum"] = "";
    document["version"] = 1;
    document["roots"] = json::object();
    document["roots"]["bookmark_bar"] = MakeRootFolder("Bookmarks bar");
    document["roots"]["other"] = MakeRootFolder("Other bookmarks");
    document["roots"]["synced"] = MakeRootFolder("Mobile bookmarks");
    return document;
}

// Whole seconds of a node's date_added; false when it has none that reads as a number.
bool StampSeconds(const json& node, int64_t& seconds) {
    const std::string stamp = StringField(node, "date_added");
    try {
        seconds = std::stoll(stamp) / 1000000;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Whether two lists of children hold the same bookmarks and folders in the same order: names, URLs
// and bookmark dates to the second. Ids, guids and folder dates are not compared (a replace gives
// each node new ones), so a file equal in this sense needs no rewrite.
bool SameContent(const json& a, const json& b) {
    struct Pair {
        const json* a;
        const json* b;
    };
    std::vector<Pair> pending{{&a, &b}};
    while (!pending.empty()) {
        const Pair lists = pending.back();
        pending.pop_back();
        if (!lists.a->is_array() || !lists.b->is_array() || lists.a->size() != lists.b->size()) return false;
        for (size_t i = 0; i < lists.a->size(); ++i) {
            const json& x = (*lists.a)[i];
            const json& y = (*lists.b)[i];
            if (!x.is_object() || !y.is_object()) return false;
            const std::string type = StringField(x, "type");
            if (type != StringField(y, "type") || StringField(x, "name") != StringField(y, "name")) return false;
            if (type == "url") {
                int64_t xs = 0, ys = 0;
                if (StringField(x, "url") != StringField(y, "url") || !StampSeconds(x, xs) || !StampSeconds(y, ys) ||
                    xs != ys)
                    return false;
            } else if (type == "folder") {
                auto xc = x.find("children");
                auto yc = y.find("children");
                if (xc == x.end() || yc == y.end()) return false;
                pending.push_back({&*xc, &*yc});
            } else {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool PlanChromiumWrite(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace,
                       ChromiumWritePlan& plan, std::wstring* error) {
    plan = ChromiumWritePlan{};
    auto fail = [error](const std::wstring& text) {
        if (error) *error = text;
        return false;
    };

    // Only a file that is not there, or holds nothing, starts a new document. Anything else the reader
    // cannot use is refused with the reader's message and left as it is: writing a new document over
    // it would throw away whatever it still holds, in either mode.
    json document;
    {
        std::string bytes;
        bool missing = false;
        if (!ReadFileBytes(path, bytes, &missing)) {
            if (!missing) return fail(UnreadableFileText(L"Bookmarks file", path, false));
            document = NewBookmarksDocument();
        } else if (IsBlankJsonText(bytes)) {
            document = NewBookmarksDocument();
        } else {
            std::wstring problem;
            if (!ParseBookmarksDocument(bytes, document, problem) || !ReadDocument(document, bytes.size(), nullptr, problem))
                return fail(problem);
        }
        plan.sourceMissing = missing;
        plan.source = std::move(bytes);
    }

    for (const BookmarkRecord& record : records) {
        if (record.folder_path.size() > kMaxFolderPathLength)
            return fail(L"A bookmark's folder path is longer than " + std::to_wstring(kMaxFolderPathLength) +
                        L" characters, more than any browser keeps; the Bookmarks file was not changed.");
    }

    // A file whose structure is not what browsers write is left alone rather than guessed at.
    json& roots = document["roots"];
    for (const char* key : {"bookmark_bar", "other", "synced"}) {
        auto it = roots.find(key);
        if (it != roots.end() && !it->is_null() && !it->is_object())
            return fail(L"Bookmarks file has an unexpected structure: root '" + ToWide(key) + L"' is not an object.");
    }

    int added = 0;
    int skippedCount = 0;
    try {
        // What a replace removes, kept aside to tell whether the new content differs from it.
        std::vector<std::pair<std::string, json>> replaced;
        if (replace) {
            for (auto root = roots.begin(); root != roots.end(); ++root) {
                if (!root->is_object()) continue;
                auto children = root->find("children");
                replaced.emplace_back(root.key(), children != root->end() ? std::move(*children) : json::array());
                (*root)["children"] = json::array();
            }
        }

        std::unordered_set<std::wstring> present;
        if (!replace)
            for (const json& root : roots) CollectUrls(root, present);

        std::atomic<int64_t> nextId{NextId(document)};
        auto ensureRoot = [&](const char* key, const char* displayName) -> json& {
            json& node = roots[key];
            if (node.is_null()) {
                node = json::object();
                node["type"] = "folder";
                node["name"] = displayName;
                node["id"] = std::to_string(nextId.fetch_add(1));
                node["children"] = json::array();
            } else if (!node.contains("type")) {
                // Its children, if any, are kept.
                node["type"] = "folder";
                node["name"] = displayName;
                node["id"] = std::to_string(nextId.fetch_add(1));
            }
            ChildrenArray(node);
            return node;
        };
        json& bar = ensureRoot("bookmark_bar", "Bookmarks bar");
        json& other = ensureRoot("other", "Other bookmarks");
        json& mobile = ensureRoot("synced", "Mobile bookmarks");

        FolderIndex folders;
        for (size_t i = 0; i < records.size(); ++i) {
            const BookmarkRecord& record = records[i];
            // The browser drops such a bookmark when it loads the file, and then writes the file
            // again without it: written here, it would be counted as added and never be seen.
            if (!ChromiumKeepsUrl(record.url)) {
                ++plan.shortfall.urlUnusable;
                continue;
            }
            std::wstring key = NormalizeUrl(record.url);
            if (present.count(key)) {
                ++skippedCount;
                continue;
            }
            ParsedFolderPath parsed = ParseFolderPath(record.folder_path);
            // Depth counts the folders below the root. One folder too many and the browser loads
            // none of the file's bookmarks, so a deeper record goes into the deepest folder of its
            // path that the browser loads.
            std::wstring keptIn = KeepWithinDepth(record.folder_path, parsed, kChromiumDeepestFolderNesting);
            if (!keptIn.empty()) plan.shortfall.moved.push_back({i, std::move(keptIn)});
            json& root = parsed.root_key == L"other" ? other : parsed.root_key == L"synced" ? mobile : bar;
            json& children = ChildrenArray(folders.Resolve(root, parsed.root_key, parsed.segments, nextId));

            json node = json::object();
            node["type"] = "url";
            node["name"] = ToUtf8(record.title.empty() ? record.url : record.title);
            node["url"] = ToUtf8(record.url);
            node["id"] = std::to_string(nextId.fetch_add(1));
            node["date_added"] = ChromeStampFromUnix(record.date_added != 0 ? record.date_added : Now());
            children.push_back(std::move(node));

            present.insert(std::move(key));
            ++added;
        }

        // A merge changes the file when it adds; a replace when the new content differs from the old.
        bool changes = !replace && added > 0;
        if (replace) {
            // Every root as it was against the same root now; one that is new counts as empty before.
            const json empty = json::array();
            auto before = [&replaced, &empty](const std::string& key) -> const json& {
                for (const auto& [name, children] : replaced)
                    if (name == key) return children;
                return empty;
            };
            for (auto root = roots.begin(); root != roots.end() && !changes; ++root) {
                if (!root->is_object()) continue;
                auto children = root->find("children");
                changes = !SameContent(before(root.key()), children != root->end() ? *children : empty);
            }
        }
        plan.changes = changes;
        if (changes) plan.text = document.dump(3, ' ', false, json::error_handler_t::strict);
    } catch (const std::exception& e) {
        return fail(L"Could not update Bookmarks file: " + ToWide(e.what()));
    }
    plan.added = added;
    plan.skipped = skippedCount;
    return true;
}

bool CommitChromiumWrite(const std::wstring& path, const ChromiumWritePlan& plan, std::wstring* error,
                         bool* fileChanged) {
    if (fileChanged) *fileChanged = false;
    // Between the plan and this commit the caller makes a backup, which can take a while: a change
    // made to the file in that time (by another program) would otherwise be written over.
    std::string now;
    bool missing = false;
    const bool read = ReadFileBytes(path, now, &missing);
    if (plan.sourceMissing ? read || !missing : !read || now != plan.source) {
        if (fileChanged) *fileChanged = true;
        if (error) *error = L"Bookmarks file was changed by another program while this write was prepared; it was left as it is.";
        return false;
    }
    FileWriteError writeError;
    if (WriteFileReplacing(path, plan.text, &writeError)) return true;
    if (error) {
        if (writeError.stage == FileWriteStage::Create || writeError.stage == FileWriteStage::Replace)
            *error = L"Could not open Bookmarks file for writing.";
        else
            *error = L"Could not write Bookmarks file (" + DescribeWriteError(writeError) + L").";
    }
    return false;
}

int WriteChromiumBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& records, int* skipped,
                           std::wstring* error, bool replace, WriteShortfall* shortfall) {
    ChromiumWritePlan plan;
    bool fileChanged = true;
    // A file changed between the plan and the commit is planned again from what it holds now.
    for (int attempt = 0; fileChanged && attempt < kChromiumWriteAttempts; ++attempt) {
        if (!PlanChromiumWrite(path, records, replace, plan, error)) return -1;
        if (!plan.changes) {
            if (skipped) *skipped = static_cast<int>(records.size()) - plan.shortfall.LeftOut();  // every other one is there already
            if (shortfall) *shortfall = std::move(plan.shortfall);
            RemoveLeftoverTemporaries(path);  // what a killed write left beside the file goes all the same
            return 0;
        }
        if (CommitChromiumWrite(path, plan, error, &fileChanged)) {
            if (skipped) *skipped = plan.skipped;
            if (shortfall) *shortfall = std::move(plan.shortfall);
            return plan.added;
        }
    }
    return -1;
}

}  // namespace bm
