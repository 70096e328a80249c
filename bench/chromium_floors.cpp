// Floors of the Chromium Bookmarks reader and writer.
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>

#include "bench/floors.h"
#include "core/chromium_bookmarks.h"
#include "core/file_io.h"

namespace bm::bench {
namespace {

using nlohmann::json;

const std::string& Text(const json& node, const char* key) {
    static const std::string kEmpty;
    const auto found = node.find(key);
    return found != node.end() && found->is_string() ? found->get_ref<const std::string&>() : kEmpty;
}

int64_t UnixFromChrome(const std::string& stamp) {
    return std::strtoll(stamp.c_str(), nullptr, 10) / 1000000 - kChromeEpochOffsetSeconds;
}

std::string ChromeFromUnix(int64_t seconds) { return std::to_string((seconds + kChromeEpochOffsetSeconds) * 1000000); }

void Collect(const json& node, const std::wstring& parentPath, std::vector<BookmarkRecord>& out) {
    if (!node.is_object()) return;
    const std::string& type = Text(node, "type");
    if (type == "url") {
        const std::string& url = Text(node, "url");
        if (url.empty()) return;
        BookmarkRecord& record = out.emplace_back();
        record.url = ToWide(url);
        record.title = ToWide(Text(node, "name"));
        record.folder_path = parentPath;
        record.date_added = UnixFromChrome(Text(node, "date_added"));
    } else if (type == "folder") {
        const auto children = node.find("children");
        if (children == node.end()) return;
        const std::wstring path = parentPath + L"/" + ToWide(Text(node, "name"));
        for (const json& child : *children) Collect(child, path, out);
    }
}

// Trailing '/' removed and ASCII letters lowered, on the UTF-8 bytes: the same key as NormalizeUrl.
std::string UrlKey(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    for (char& c : url)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return url;
}

// One walk: the keys of the present bookmarks (when asked for) and the highest id.
void Walk(const json& node, std::unordered_set<std::string>* present, int64_t& highest) {
    if (!node.is_object()) return;
    const std::string& id = Text(node, "id");
    if (!id.empty()) highest = std::max<int64_t>(highest, std::strtoll(id.c_str(), nullptr, 10));
    const std::string& type = Text(node, "type");
    if (type == "url") {
        if (present) present->insert(UrlKey(Text(node, "url")));
    } else if (type == "folder") {
        const auto children = node.find("children");
        if (children != node.end())
            for (const json& child : *children) Walk(child, present, highest);
    }
}

}  // namespace

std::vector<BookmarkRecord> ChromiumReadFloor(const std::wstring& path) {
    // Read, parse, one walk of the three roots building the records.
    std::string bytes;
    Require(ReadFileBytes(path, bytes), "read Bookmarks");
    const json document = json::parse(bytes);
    std::vector<BookmarkRecord> records;
    for (const auto& [key, root] : document.at("roots").items()) {
        const std::wstring rootKey = CanonicalRootKey(ToWide(key));
        if (rootKey.empty() || !root.is_object()) continue;
        const std::wstring label =
            rootKey == L"other" ? L"Other bookmarks" : rootKey == L"synced" ? L"Mobile bookmarks" : L"Bookmarks bar";
        const auto children = root.find("children");
        if (children == root.end() || !children->is_array()) continue;
        for (const json& child : *children) Collect(child, label, records);
    }
    return records;
}

void ChromiumWriteFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace) {
    // Read and parse; in replace mode the roots emptied; one walk for the present URLs' keys and the
    // highest id; each folder found or made once and remembered by its path; each new node's members
    // assigned and the node moved into its folder; one dump and one replacing write.
    std::string bytes;
    Require(ReadFileBytes(path, bytes), "read Bookmarks");
    json document = json::parse(bytes);
    json& roots = document.at("roots");
    if (replace)
        for (json& root : roots)
            if (root.is_object()) root["children"] = json::array();
    std::unordered_set<std::string> present;
    int64_t highest = 0;
    for (const json& root : roots) Walk(root, replace ? nullptr : &present, highest);
    int64_t nextId = highest + 1;
    const std::string now = ChromeFromUnix(static_cast<int64_t>(std::time(nullptr)));

    // A folder's children stay where they are while nodes are added around it.
    std::unordered_map<std::wstring, json::array_t*> byPath;    // by a record's folder path
    std::unordered_map<std::wstring, json::array_t*> byPrefix;  // by root key and segments
    auto resolve = [&](const std::wstring& folderPath) -> json::array_t& {
        auto known = byPath.find(folderPath);
        if (known != byPath.end()) return *known->second;
        const ParsedFolderPath parsed = ParseFolderPath(folderPath);
        const char* rootName = parsed.root_key == L"other" ? "other" : parsed.root_key == L"synced" ? "synced" : "bookmark_bar";
        json::array_t* children = &roots.at(rootName).at("children").get_ref<json::array_t&>();
        std::wstring prefix = parsed.root_key;
        for (const std::wstring& segment : parsed.segments) {
            prefix += L'/';
            prefix += segment;
            auto step = byPrefix.find(prefix);
            if (step != byPrefix.end()) {
                children = step->second;
                continue;
            }
            const std::string name = ToUtf8(segment);
            json* folder = nullptr;
            for (json& child : *children)
                if (Text(child, "type") == "folder" && Text(child, "name") == name) {
                    folder = &child;
                    break;
                }
            if (!folder) {
                json made(json::value_t::object);
                made["type"] = "folder";
                made["name"] = name;
                made["id"] = std::to_string(nextId++);
                made["date_added"] = now;
                made["date_modified"] = now;
                made["children"] = json::array();
                children->push_back(std::move(made));
                folder = &children->back();
            }
            children = &(*folder)["children"].get_ref<json::array_t&>();
            byPrefix.emplace(prefix, children);
        }
        byPath.emplace(folderPath, children);
        return *children;
    };

    for (const BookmarkRecord& record : records) {
        std::string url = ToUtf8(record.url);
        if (!present.insert(UrlKey(url)).second) continue;
        json node(json::value_t::object);
        node["type"] = "url";
        node["name"] = record.title.empty() ? url : ToUtf8(record.title);
        node["url"] = std::move(url);
        node["id"] = std::to_string(nextId++);
        node["date_added"] = record.date_added != 0 ? ChromeFromUnix(record.date_added) : now;
        resolve(record.folder_path).push_back(std::move(node));
    }
    Require(WriteFileReplacing(path, document.dump(3, ' ', false, json::error_handler_t::strict)), "write Bookmarks");
}

}  // namespace bm::bench
