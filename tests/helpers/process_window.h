#pragma once
// The top-level window of one process, by its class: the tests, their helpers and the bench find the
// program they started among the windows of every other process in the Wine prefix.

#include <windows.h>

#include <cwchar>

namespace helpers {

// The first top-level window of process `pid` with the class `className` (only a visible one when
// `visibleOnly`), or null when it has none.
inline HWND FindProcessWindow(DWORD pid, const wchar_t* className, bool visibleOnly = true) {
    struct Search {
        DWORD pid;
        const wchar_t* className;
        bool visibleOnly;
        HWND found;
    } search = {pid, className, visibleOnly, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != s->pid || (s->visibleOnly && !IsWindowVisible(hwnd))) return TRUE;
            wchar_t name[64] = {};
            GetClassNameW(hwnd, name, 64);
            if (wcscmp(name, s->className) != 0) return TRUE;
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace helpers
