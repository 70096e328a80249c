#include "core/read_failure.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>

namespace bm {

std::wstring UnreadableFileText(const std::wstring& subject, const std::wstring& path, bool missing) {
    if (missing) return subject + L" was not found.";
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return subject + L" cannot be read: its path names a folder, not a file.";
    // The same open as the read's, to learn why it failed.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return subject + L" could be opened but not read to its end; the disk may be failing.";
    }
    const DWORD code = GetLastError();
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return subject + L" was not found.";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return subject + L" is in use by another program and cannot be read; close that program and try again.";
        case ERROR_ACCESS_DENIED:
            return subject + L" cannot be read: Windows denies this program access to it.";
        default:
            return subject + L" cannot be read (Windows error " + std::to_wstring(code) + L").";
    }
}

std::wstring BlankFileText(const std::wstring& subject, const std::string& bytes) {
    const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (bytes.find_first_not_of(" \t\r\n", start) == std::string::npos)
        return subject + L" is empty: it holds no bookmarks, not even the outline a browser writes. It may have been "
                         L"cut short by a crash or a full disk.";
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; }))
        return subject + L" is damaged: it holds only zero bytes where its bookmarks should be, as a file may after "
                         L"a crash or a failed write.";
    return {};
}

std::wstring JsonDamageText(const std::wstring& subject, const std::string& bytes, const std::exception& e) {
    const std::wstring blank = BlankFileText(subject, bytes);
    if (!blank.empty()) return blank;
    const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&e);
    if (!parse) return subject + L" is damaged: it could not be read as JSON.";
    if (parse->byte >= bytes.size() || std::strstr(e.what(), "unexpected end of input"))
        return subject + L" is damaged: it ends too early, as if cut short, after " + std::to_wstring(bytes.size()) +
               L" bytes.";
    // Line and column of the byte where the text goes wrong, counted from 1.
    const size_t at = parse->byte > 0 ? parse->byte - 1 : 0;
    const size_t line = 1 + static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + at, '\n'));
    const size_t lineStart = bytes.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t column = lineStart == std::string::npos || at == 0 ? at + 1 : at - lineStart;
    const std::wstring where = L"line " + std::to_wstring(line) + L", column " + std::to_wstring(column);
    if (std::strstr(e.what(), "expected end of input"))
        return subject + L" is damaged: more text follows where its content ends, from " + where + L" on.";
    if (std::strstr(e.what(), "UTF-8"))
        return subject + L" is damaged: it holds text that is not valid UTF-8 at " + where + L".";
    return subject + L" is damaged: it is not valid JSON from " + where + L" on.";
}

}  // namespace bm
