#pragma once
// Which executable file a running process was started from, for the helpers that act on one
// instance of the program among others started from other folders.

#include <windows.h>

#include <string>

namespace helpers {

// `path` made absolute, or `path` itself when it cannot be.
inline std::wstring FullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(path, MAX_PATH * 2, full, nullptr);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(full, length) : std::wstring(path);
}

// The full path of the executable of process `pid`, or "" when it cannot be asked.
inline std::wstring ImageOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return L"";
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const bool ok = QueryFullProcessImageNameW(process, 0, image, &size) != 0;
    CloseHandle(process);
    return ok ? std::wstring(image, size) : std::wstring();
}

}  // namespace helpers
