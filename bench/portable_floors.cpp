// Floors of the JSON and Netscape HTML export and import, and of the backups list.
#include <windows.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unordered_map>

#include "bench/floors.h"
#include "core/file_io.h"
#include "core/html_bookmarks.h"

namespace bm::bench {
namespace {

using nlohmann::json;

// One folder of the export tree; folders live in one vector and refer to each other by index.
struct HtmlFolder {
    std::string heading;                // UTF-8 name with its marker attribute, escaped, for the H3 line
    std::vector<std::pair<const BookmarkRecord*, size_t>> entries;  // a bookmark, or a folder index, in the order met
    std::unordered_map<std::wstring, size_t> byName;
    int64_t earliest = 0;  // earliest plausible bookmark date below, 0 for none
};

const char* RootMarker(const std::wstring& key) {
    if (key == L"bookmark_bar") return " PERSONAL_TOOLBAR_FOLDER=\"true\"";
    if (key == L"other") return " UNFILED_BOOKMARKS_FOLDER=\"true\"";
    return "";
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c; break;
        }
    }
}

void WriteFolder(std::string& out, const std::vector<HtmlFolder>& folders, size_t index, std::string& indent,
                 int64_t exportTime) {
    for (const auto& [record, child] : folders[index].entries) {
        out += indent;
        if (record) {
            const std::string url = ToUtf8(record->url);
            out += "<DT><A HREF=\"";
            AppendEscaped(out, url);
            out += "\" ADD_DATE=\"";
            out += std::to_string(IsPlausibleHtmlDate(record->date_added, exportTime) ? record->date_added : exportTime);
            out += "\">";
            AppendEscaped(out, record->title.empty() ? url : ToUtf8(record->title));
            out += "</A>\n";
            continue;
        }
        out += "<DT><H3 ADD_DATE=\"";
        out += std::to_string(folders[child].earliest != 0 ? folders[child].earliest : exportTime);
        out += "\"";
        out += folders[child].heading;
        out += "</H3>\n";
        out += indent;
        out += "<DL><p>\n";
        indent += "    ";
        WriteFolder(out, folders, child, indent, exportTime);
        indent.resize(indent.size() - 4);
        out += indent;
        out += "</DL><p>\n";
    }
}

// Case-insensitive test of an ASCII `prefix` (lower case) at `pos`.
bool At(std::string_view text, size_t pos, std::string_view prefix) {
    if (text.size() - pos < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[pos + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

size_t FindCaseless(std::string_view text, size_t from, std::string_view lowered) {
    for (size_t p = text.find('<', from); p != std::string_view::npos; p = text.find('<', p + 1))
        if (At(text, p, lowered)) return p;
    return std::string_view::npos;
}

std::wstring Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const std::string_view rest = text.substr(i);
            if (rest.starts_with("&amp;")) { out += '&'; i += 4; continue; }
            if (rest.starts_with("&lt;")) { out += '<'; i += 3; continue; }
            if (rest.starts_with("&gt;")) { out += '>'; i += 3; continue; }
            if (rest.starts_with("&quot;")) { out += '"'; i += 5; continue; }
            if (rest.starts_with("&#39;")) { out += '\''; i += 4; continue; }
        }
        out += text[i];
    }
    return ToWide(out);
}

}  // namespace

void JsonExportFloor(const std::vector<BookmarkRecord>& records, const std::wstring& path) {
    // Each element's members assigned, the element moved into the list and the list moved into the
    // document; the same document members, one dump with indent 2, one replacing write.
    json list = json::array();
    json::array_t& elements = list.get_ref<json::array_t&>();
    elements.reserve(records.size());
    for (const BookmarkRecord& record : records) {
        json element(json::value_t::object);
        element["url"] = ToUtf8(record.url);
        element["title"] = ToUtf8(record.title);
        element["folder_path"] = ToUtf8(record.folder_path);
        element["date_added"] = record.date_added;
        elements.push_back(std::move(element));
    }
    json document(json::value_t::object);
    document["app"] = "Orvellane";
    document["format_version"] = 1;
    document["exported_at"] = static_cast<int64_t>(std::time(nullptr));
    document["bookmarks"] = std::move(list);
    Require(WriteFileReplacing(path, document.dump(2, ' ', false, json::error_handler_t::strict)), "write json");
}

std::vector<BookmarkRecord> JsonImportFloor(const std::wstring& path) {
    // Read, parse, one pass over the list converting each member once.
    std::string bytes;
    Require(ReadFileBytes(path, bytes), "read json");
    const json document = json::parse(bytes);
    std::vector<BookmarkRecord> records;
    const json& list = document.at("bookmarks");
    records.reserve(list.size());
    for (const json& element : list) {
        const std::string& url = element.at("url").get_ref<const std::string&>();
        if (url.empty()) continue;
        BookmarkRecord& record = records.emplace_back();
        record.url = ToWide(url);
        record.title = ToWide(element.at("title").get_ref<const std::string&>());
        record.folder_path = ToWide(element.at("folder_path").get_ref<const std::string&>());
        record.date_added = element.at("date_added").get<int64_t>();
    }
    return records;
}

void HtmlExportFloor(const std::vector<BookmarkRecord>& records, const std::wstring& path) {
    // The folder tree built once per distinct folder path (the menu's contents at the top level,
    // every other root one marked folder, entries in the order met), then one escaped write of the
    // same HTML into one string (UTF-8 converted once per text), one replacing write.
    const int64_t exportTime = static_cast<int64_t>(std::time(nullptr));
    std::vector<HtmlFolder> folders(1);
    std::unordered_map<std::wstring, size_t> byPath;
    std::unordered_map<std::wstring, size_t> roots;
    std::wstring heading = L"Bookmarks";
    bool menuSeen = false;
    auto child = [&folders](size_t parent, const std::wstring& name, const char* marker) {
        const auto found = folders[parent].byName.find(name);
        if (found != folders[parent].byName.end()) return found->second;
        const size_t made = folders.size();
        folders.emplace_back();
        std::string text = marker;
        text += '>';
        AppendEscaped(text, ToUtf8(name));
        folders[made].heading = std::move(text);
        folders[parent].byName.emplace(name, made);
        folders[parent].entries.emplace_back(nullptr, made);
        return made;
    };
    for (const BookmarkRecord& record : records) {
        auto known = byPath.find(record.folder_path);
        if (known == byPath.end()) {
            const std::vector<std::wstring> segments = SplitPath(record.folder_path);
            size_t node = 0;
            size_t first = 0;
            if (!segments.empty() && IsMenuRootName(segments.front())) {
                if (!menuSeen) heading = segments.front();
                menuSeen = true;
                first = 1;
            } else {
                std::wstring key = segments.empty() ? L"" : CanonicalRootKey(segments.front());
                if (!key.empty()) first = 1;
                if (key.empty()) key = L"bookmark_bar";
                auto root = roots.find(key);
                if (root == roots.end())
                    root = roots.emplace(key, child(0, first == 1 ? segments.front() : std::wstring(RootLabel(key)), RootMarker(key))).first;
                node = root->second;
            }
            for (size_t i = first; i < segments.size(); ++i) node = child(node, segments[i], "");
            known = byPath.emplace(record.folder_path, node).first;
        }
        folders[known->second].entries.emplace_back(&record, 0);
        int64_t& earliest = folders[known->second].earliest;
        if (IsPlausibleHtmlDate(record.date_added, exportTime) && (earliest == 0 || record.date_added < earliest))
            earliest = record.date_added;
    }
    // Folders are made after their parents: carry each folder's date up, last first.
    for (size_t index = folders.size(); index-- > 1;)
        for (const auto& [record, child] : folders[index].entries)
            if (!record && folders[child].earliest != 0 &&
                (folders[index].earliest == 0 || folders[child].earliest < folders[index].earliest))
                folders[index].earliest = folders[child].earliest;

    std::string out;
    out.reserve(records.size() * 160 + 4096);
    out += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
           "<TITLE>Bookmarks</TITLE>\n"
           "<H1>";
    AppendEscaped(out, ToUtf8(heading));
    out += "</H1>\n<DL><p>\n";
    std::string indent = "    ";
    WriteFolder(out, folders, 0, indent, exportTime);
    out += "</DL><p>\n";
    Require(WriteFileReplacing(path, out), "write html");
}

std::vector<BookmarkRecord> HtmlImportFloor(const std::wstring& path) {
    // One scan of the UTF-8 bytes: links with their quoted HREF and title, folder headings and
    // lists; each text unescaped and converted once, each folder path joined once per list change.
    std::string bytes;
    Require(ReadFileBytes(path, bytes), "read html");
    const std::string_view text(bytes);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::vector<BookmarkRecord> records;
    std::vector<std::wstring> folders;
    std::wstring folderPath;
    std::wstring pendingName;
    bool pending = false;
    auto rejoin = [&] {
        folderPath.clear();
        for (const std::wstring& name : folders) {
            if (name.empty()) continue;
            if (!folderPath.empty()) folderPath += L'/';
            folderPath += name;
        }
    };
    size_t pos = 0;
    while (true) {
        const size_t lt = text.find('<', pos);
        if (lt == std::string_view::npos) break;
        const size_t gt = text.find('>', lt);
        if (gt == std::string_view::npos) break;
        if (At(text, lt, "<a ")) {
            const size_t close = FindCaseless(text, gt + 1, "</a");
            size_t href = std::string_view::npos;
            for (size_t p = lt; p + 5 < gt; ++p)
                if (At(text, p, "href=")) {
                    href = p + 5;
                    break;
                }
            if (href != std::string_view::npos && (text[href] == '"' || text[href] == '\'')) {
                const size_t end = text.find(text[href], href + 1);
                if (end != std::string_view::npos && end > href + 1) {
                    BookmarkRecord& record = records.emplace_back();
                    record.url = Unescaped(text.substr(href + 1, end - href - 1));
                    if (close != std::string_view::npos) record.title = Unescaped(text.substr(gt + 1, close - gt - 1));
                    record.folder_path = folderPath;
                    record.date_added = now;
                    // ADD_DATE after the HREF value, digits in double quotes, as exports write it.
                    for (size_t p = end; p + 10 < gt; ++p)
                        if (At(text, p, " add_date=\"")) {
                            int64_t seconds = 0;
                            size_t q = p + 11;
                            for (; q < gt && text[q] >= '0' && text[q] <= '9'; ++q) seconds = seconds * 10 + (text[q] - '0');
                            if (q < gt && text[q] == '"' && IsPlausibleHtmlDate(seconds, now)) record.date_added = seconds;
                            break;
                        }
                }
            }
            pos = close != std::string_view::npos ? close + 4 : gt + 1;
        } else if (At(text, lt, "<h3")) {
            const size_t close = FindCaseless(text, gt + 1, "</h3");
            pendingName = close != std::string_view::npos ? Unescaped(text.substr(gt + 1, close - gt - 1)) : L"";
            pending = true;
            pos = close != std::string_view::npos ? close + 5 : gt + 1;
        } else if (At(text, lt, "<dl")) {
            folders.push_back(pending ? std::move(pendingName) : std::wstring());
            pending = false;
            pendingName.clear();
            rejoin();
            pos = gt + 1;
        } else if (At(text, lt, "</dl")) {
            if (!folders.empty()) folders.pop_back();
            rejoin();
            pos = gt + 1;
        } else {
            pos = gt + 1;
        }
    }
    return records;
}

std::vector<FileBackupEntry> BackupListFloor(const std::wstring& path) {
    // One search of the folder with the basic information only, the entries made from the names,
    // sorted newest first.
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t prefix = name.size() + 8;  // ".backup_"
    std::vector<FileBackupEntry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW((folder + L"\\" + name + L".backup_*.bak").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring_view found(data.cFileName);
        if (found.size() <= prefix + 4) continue;
        const std::wstring_view stamp = found.substr(prefix, found.size() - prefix - 4);
        FileBackupEntry& entry = entries.emplace_back();
        entry.path = folder + L"\\" + std::wstring(found);
        for (const wchar_t c : stamp)
            if (c >= L'0' && c <= L'9') entry.sortKey = entry.sortKey * 10 + (c - L'0');
        if (stamp.size() == 15 && stamp[8] == L'_') {
            entry.displayTime = std::wstring(stamp.substr(0, 4)) + L"-" + std::wstring(stamp.substr(4, 2)) + L"-" +
                                std::wstring(stamp.substr(6, 2)) + L" " + std::wstring(stamp.substr(9, 2)) + L":" +
                                std::wstring(stamp.substr(11, 2)) + L":" + std::wstring(stamp.substr(13, 2));
        } else {
            entry.displayTime = stamp;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(entries.begin(), entries.end(), [](const FileBackupEntry& a, const FileBackupEntry& b) { return a.sortKey > b.sortKey; });
    return entries;
}

}  // namespace bm::bench
