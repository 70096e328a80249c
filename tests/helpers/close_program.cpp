// Closes the running Orvellane started from one executable file the way a user does: WM_CLOSE to
// its main window. Other instances (started from other folders by tests running at the same time)
// are left alone.
//
//   orv_close_program PATH-OF-ORVELLANE.EXE
//
// Exit code 0 when the message was posted, 2 when no window of that executable was found, 1 for
// wrong arguments.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    std::wstring exe;
    int posted = 0;
};

std::wstring FullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(path, MAX_PATH * 2, full, nullptr);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(full, length) : std::wstring(path);
}

std::wstring ImageOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return L"";
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const bool ok = QueryFullProcessImageNameW(process, 0, image, &size) != 0;
    CloseHandle(process);
    return ok ? std::wstring(image, size) : std::wstring();
}

BOOL CALLBACK CloseIfOurs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"OrvellaneWindowClass") != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (_wcsicmp(ImageOf(pid).c_str(), search->exe.c_str()) != 0) return TRUE;
    if (PostMessageW(window, WM_CLOSE, 0, 0)) ++search->posted;
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: orv_close_program PATH-OF-ORVELLANE.EXE\n");
        return 1;
    }
    Search search;
    search.exe = FullPath(argv[1]);
    EnumWindows(CloseIfOurs, reinterpret_cast<LPARAM>(&search));
    if (search.posted == 0) {
        std::fwprintf(stderr, L"no Orvellane window of %ls\n", search.exe.c_str());
        return 2;
    }
    return 0;
}
