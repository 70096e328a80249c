#include "core/portable_export.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>
#include <limits>

#include "core/chromium_bookmarks.h"
#include "core/file_io.h"
#include "core/html_bookmarks.h"
#include "core/read_failure.h"

namespace bm {
namespace {

using json = nlohmann::json;

const wchar_t kShapeMessage[] = L"File does not look like a Orvellane export (no 'bookmarks' array).";

// A text member: absent or null gives empty, a string its text; any other type makes the element invalid.
bool ReadText(const json& element, const char* key, std::wstring& out) {
    auto found = element.find(key);
    if (found == element.end() || found->is_null()) return true;
    if (!found->is_string()) return false;
    out = ToWide(found->get_ref<const std::string&>());
    return true;
}

// "date_added": absent or null gives 0; a number is cut toward zero and must fit a signed 64-bit value.
bool ReadDate(const json& element, int64_t& out) {
    auto found = element.find("date_added");
    if (found == element.end() || found->is_null()) return true;
    if (found->is_number_integer() && !found->is_number_unsigned()) {
        out = found->get<int64_t>();
        return true;
    }
    if (found->is_number_unsigned()) {
        const uint64_t value = found->get<uint64_t>();
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        out = static_cast<int64_t>(value);
        return true;
    }
    if (found->is_number_float()) {
        const double value = std::trunc(found->get<double>());
        // 2^63 is exactly representable; anything at or beyond it does not fit.
        if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return false;
        out = static_cast<int64_t>(value);
        return true;
    }
    return false;
}

bool ReadElement(const json& element, BookmarkRecord& record) {
    if (!element.is_object()) return false;
    return ReadText(element, "url", record.url) && ReadText(element, "title", record.title) &&
           ReadText(element, "folder_path", record.folder_path) && ReadDate(element, record.date_added);
}

}  // namespace

std::wstring LowerExtension(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos) return {};
    return ToLower(path.substr(dot));
}

bool ExportBookmarks(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error) {
    if (LowerExtension(path) == L".json") return ExportJson(records, path, error);
    return ExportHtml(records, path, error);
}

std::vector<BookmarkRecord> ImportBookmarks(const std::wstring& path, std::wstring* error, std::wstring* warning) {
    if (LowerExtension(path) == L".json") return ImportJson(path, error);
    return ImportHtml(path, error, warning);
}

bool ExportJson(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error) {
    json bookmarks = json::array();
    for (const BookmarkRecord& record : records) {
        bookmarks.push_back({{"url", ToUtf8(record.url)},
                             {"title", ToUtf8(record.title)},
                             {"folder_path", ToUtf8(record.folder_path)},
                             {"date_added", record.date_added}});
    }
    json document = json::object();
    document["app"] = "Orvellane";
    document["format_version"] = 1;
    document["exported_at"] = static_cast<int64_t>(std::time(nullptr));
    document["bookmarks"] = std::move(bookmarks);

    std::string text;
    try {
        text = document.dump(2, ' ', false, json::error_handler_t::strict);
    } catch (const std::exception& e) {
        // ToUtf8 always yields valid UTF-8, so this is not expected; report it rather than end the program.
        if (error) *error = L"Could not serialise the export: " + ToWide(e.what());
        return false;
    }
    return WriteExportFile(path, text, error);
}

std::vector<BookmarkRecord> ImportJson(const std::wstring& path, std::wstring* error) {
    std::string bytes;
    bool missing = false;
    if (!ReadFileBytes(path, bytes, &missing)) {
        if (error) *error = UnreadableFileText(L"The file", path, missing);
        return {};
    }
    return ImportJsonText(bytes, error);
}

std::vector<BookmarkRecord> ImportJsonText(const std::string& bytes, std::wstring* error) {
    json document;
    try {
        document = ParseJsonDocument(bytes);
    } catch (const JsonNestingTooDeep& e) {
        // An export is three levels deep; walking a much deeper document would only risk the stack.
        if (error)
            *error = L"JSON file is nested deeper than " + std::to_wstring(e.limit()) +
                     L" levels, far more than an export ever is; nothing was imported.";
        return {};
    } catch (const std::exception& e) {
        if (error) *error = JsonDamageText(L"The file", bytes, e);
        return {};
    }

    const json* list = nullptr;
    if (document.is_array()) {
        list = &document;
    } else if (document.is_object()) {
        auto found = document.find("bookmarks");
        if (found != document.end() && found->is_array()) list = &*found;
    }
    if (!list) {
        if (error) *error = kShapeMessage;
        return {};
    }

    // An element of the wrong form rejects the whole file: importing the rest would silently lose it.
    std::vector<BookmarkRecord> result;
    for (size_t i = 0; i < list->size(); ++i) {
        BookmarkRecord record;
        if (!ReadElement((*list)[i], record)) {
            if (error)
                *error = L"Bookmark entry " + std::to_wstring(i + 1) + L" of " + std::to_wstring(list->size()) +
                         L" is not a valid bookmark (an object whose url, title and folder_path are text and "
                         L"whose date_added is a number); nothing was imported.";
            return {};
        }
        // Every writer of bookmarks refuses folders nested deeper or paths longer than this; one such
        // entry would make every later sync or export of the imported set fail.
        if (record.folder_path.size() > kMaxFolderPathLength) {
            if (error)
                *error = L"Bookmark entry " + std::to_wstring(i + 1) + L" of " + std::to_wstring(list->size()) +
                         L" has a folder path longer than " + std::to_wstring(kMaxFolderPathLength) +
                         L" characters, more than any browser keeps; nothing was imported.";
            return {};
        }
        // Counted as the writers count it: the folders below the path's root, the root not among them.
        if (FoldersBelowRoot(record.folder_path) > kDeepestFolderNesting) {
            if (error)
                *error = L"Bookmark entry " + std::to_wstring(i + 1) + L" of " + std::to_wstring(list->size()) +
                         L" has a folder path nested deeper than " + std::to_wstring(kDeepestFolderNesting) +
                         L" folders below its root; nothing was imported.";
            return {};
        }
        // Exports hold no bookmark without an address; one without is a damaged entry.
        if (record.url.empty()) {
            if (error)
                *error = L"Bookmark entry " + std::to_wstring(i + 1) + L" of " + std::to_wstring(list->size()) +
                         L" has no address; the file is damaged and nothing was imported.";
            return {};
        }
        result.push_back(std::move(record));
    }
    return result;
}

}  // namespace bm
