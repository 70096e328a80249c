#include "core/chromium_bookmarks.h"

#include <ctime>
#include <stdexcept>

#include "core/file_io.h"

namespace bm {
namespace {

using nlohmann::json;

// The text of a string member; "" when the member is missing or is not a string.
std::string StringField(const json& node, const char* key) {
    if (!node.is_object()) return {};
    auto it = node.find(key);
    if (it == node.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

std::string ChromeStampFromUnix(int64_t unixSeconds) {
    return std::to_string(unixSeconds * 1000000 + kChromeEpochOffsetSeconds * 1000000);
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// Children of a folder: array elements in order, or an object's member values in key order.
template <typename Fn>
void ForEachChild(const json& node, Fn&& fn) {
    auto it = node.find("children");
    if (it == node.end()) return;
    if (it->is_array() || it->is_object())
        for (const json& child : *it) fn(child);
}

std::wstring RootLabel(const std::wstring& key) {
    if (key == L"other") return L"Other bookmarks";
    if (key == L"synced") return L"Mobile bookmarks";
    return L"Bookmarks bar";
}

}  // namespace

namespace {

int64_t NextId(const json& document) {
    int64_t highest = 0;
    auto visit = [&highest](const json& value, auto&& self) -> void {
        if (!value.is_object()) return;
        auto id = value.find("id");
        if (id != value.end() && id->is_string()) {
            try {
                highest = std::max<int64_t>(highest, std::stoll(id->get<std::string>()));
            } catch (const std::exception&) {
                // An unusable id does not count.
            }
        }
        auto children = value.find("children");
        if (children != value.end() && (children->is_array() || children->is_object()))
            for (const json& child : *children) self(child, self);
    };
    if (document.is_object()) {
        auto roots = document.find("roots");
        if (roots != document.end() && (roots->is_object() || roots->is_array()))
            for (const json& root : *roots) visit(root, visit);
    }
    return highest + 1;
}

}  // namespace

json ParseJsonPrefix(const std::string& bytes) {
    json value;
    nlohmann::detail::json_sax_dom_parser<json> sax(value, true);
    // Not strict: parsing ends after the first complete value.
    json::sax_parse(bytes.begin(), bytes.end(), &sax, json::input_format_t::json, false);
    return value;
}

int64_t ChromeTimeToUnix(const std::string& stamp) {
    if (stamp.empty()) return Now();
    try {
        return std::stoll(stamp) / 1000000 - kChromeEpochOffsetSeconds;
    } catch (const std::exception&) {
        return Now();
    }
}

void CollectNode(const json& node, const std::wstring& parentPath, std::vector<BookmarkRecord>& out) {
    if (!node.is_object()) return;
    const std::string type = StringField(node, "type");
    if (type == "url") {
        BookmarkRecord record;
        record.url = ToWide(StringField(node, "url"));
        record.title = ToWide(StringField(node, "name"));
        record.folder_path = parentPath;
        record.date_added = ChromeTimeToUnix(StringField(node, "date_added"));
        if (!record.url.empty()) out.push_back(std::move(record));
    } else if (type == "folder" && node.contains("children")) {
        const std::wstring name = ToWide(StringField(node, "name"));
        const std::wstring path = parentPath.empty() ? name : parentPath + L"/" + name;
        ForEachChild(node, [&](const json& child) { CollectNode(child, path, out); });
    }
}

std::vector<BookmarkRecord> ReadChromiumBookmarks(const std::wstring& path, std::wstring* error) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        if (error) *error = L"Could not open Bookmarks file for reading.";
        return {};
    }
    json document;
    try {
        document = ParseJsonPrefix(bytes);
    } catch (const std::exception& e) {
        if (error) *error = L"Bookmarks JSON parse error: " + ToWide(e.what());
        return {};
    }
    if (!document.is_object() || !document.contains("roots")) {
        if (error) *error = L"Bookmarks JSON missing 'roots' section.";
        return {};
    }
    std::vector<BookmarkRecord> records;
    const json& roots = document["roots"];
    if (!roots.is_object()) return records;
    for (auto member = roots.begin(); member != roots.end(); ++member) {
        const std::wstring key = CanonicalRootKey(ToWide(member.key()));
        if (key.empty()) continue;
        const json& root = member.value();
        if (!root.is_object()) continue;
        auto children = root.find("children");
        if (children == root.end() || !children->is_array()) continue;
        const std::wstring label = RootLabel(key);
        for (const json& child : *children) CollectNode(child, label, records);
    }
    return records;
}

void CollectUrls(const json& node, std::unordered_set<std::wstring>& urls) {
    if (!node.is_object()) return;
    const std::string type = StringField(node, "type");
    if (type == "url") {
        urls.insert(NormalizeUrl(ToWide(StringField(node, "url"))));
    } else if (type == "folder") {
        ForEachChild(node, [&](const json& child) { CollectUrls(child, urls); });
    }
}

namespace {

// The position in `node`'s children of the first folder named `segment`, appended when there is none.
size_t FindOrAddFolder(json& node, const std::wstring& segment, std::atomic<int64_t>& nextId) {
    json& children = node["children"];
    if (!children.is_array()) children = json::array();
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
        std::wstring key = rootKey;
        for (const std::wstring& segment : segments) {
            key += L'/';
            key += std::to_wstring(segment.size());
            key += L':';
            key += segment;
            auto known = positions_.find(key);
            size_t position;
            if (known != positions_.end()) {
                position = known->second;
            } else {
                position = FindOrAddFolder(*current, segment, nextId);
                positions_.emplace(key, position);
            }
            current = &(*current)["children"][position];
        }
        return *current;
    }

private:
    std::unordered_map<std::wstring, size_t> positions_;
};

}  // namespace

json& EnsureFolderPath(json& start, const std::vector<std::wstring>& segments, std::atomic<int64_t>& nextId) {
    json* current = &start;
    for (const std::wstring& segment : segments) current = &(*current)["children"][FindOrAddFolder(*current, segment, nextId)];
    return *current;
}

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

int WriteChromiumBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& records, int* skipped,
                           std::wstring* error, bool replace) {
    auto fail = [error](const std::wstring& text) {
        if (error) *error = text;
        return -1;
    };

    json document;
    {
        std::string bytes;
        if (ReadFileBytes(path, bytes)) {
            try {
                document = ParseJsonPrefix(bytes);
            } catch (...) {
                document = NewBookmarksDocument();
            }
        } else {
            document = NewBookmarksDocument();
        }
    }
    if (!document.is_object() || !document.contains("roots")) document = NewBookmarksDocument();

    // A file whose structure is not what browsers write is left alone rather than guessed at.
    json& roots = document["roots"];
    if (roots.is_null()) roots = json::object();
    if (!roots.is_object()) return fail(L"Bookmarks file has an unexpected structure: 'roots' is not an object.");
    for (const char* key : {"bookmark_bar", "other", "synced"}) {
        auto it = roots.find(key);
        if (it != roots.end() && !it->is_null() && !it->is_object())
            return fail(L"Bookmarks file has an unexpected structure: root '" + ToWide(key) + L"' is not an object.");
    }

    int added = 0;
    int skippedCount = 0;
    std::string text;
    try {
        if (replace) {
            for (json& root : roots)
                if (root.is_object()) root["children"] = json::array();
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
            json& children = node["children"];
            if (!children.is_array()) children = json::array();
            return node;
        };
        json& bar = ensureRoot("bookmark_bar", "Bookmarks bar");
        json& other = ensureRoot("other", "Other bookmarks");
        json& mobile = ensureRoot("synced", "Mobile bookmarks");

        FolderIndex folders;
        for (const BookmarkRecord& record : records) {
            std::wstring key = NormalizeUrl(record.url);
            if (present.count(key)) {
                ++skippedCount;
                continue;
            }
            const ParsedFolderPath parsed = ParseFolderPath(record.folder_path);
            json& root = parsed.root_key == L"other" ? other : parsed.root_key == L"synced" ? mobile : bar;
            json& folder = folders.Resolve(root, parsed.root_key, parsed.segments, nextId);
            json& children = folder["children"];
            if (!children.is_array()) children = json::array();

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
        text = document.dump(3, ' ', false, json::error_handler_t::strict);
    } catch (const std::exception& e) {
        return fail(L"Could not update Bookmarks file: " + ToWide(e.what()));
    }

    FileWriteError writeError;
    if (!WriteFileReplacing(path, text, &writeError)) {
        if (writeError.stage == FileWriteStage::Create || writeError.stage == FileWriteStage::Replace)
            return fail(L"Could not open Bookmarks file for writing.");
        return fail(L"Could not write Bookmarks file (" + DescribeWriteError(writeError) + L").");
    }
    if (skipped) *skipped = skippedCount;
    return added;
}

}  // namespace bm
