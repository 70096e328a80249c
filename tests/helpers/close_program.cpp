// Closes the running Orvellane started from one executable file the way a user does: WM_CLOSE to
// its main window. Other instances (started from other folders by tests running at the same time)
// are left alone.
//
//   orv_close_program PATH-OF-ORVELLANE.EXE [--wait SECONDS]
//
// Exit code 0 when the message was posted, 2 when no window of that executable was found, 1 for
// wrong arguments. With --wait it then waits for the program to end and gives 0 only when it ended
// with code 0 (3 when it did not end in time, 4 for another code, printed). This is the Windows exit
// code: the Unix exit status of a Wine process can be a SIGKILL that the Wine server sends to a
// process that has ended but takes long to leave (a busy machine), whatever its code was.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/helpers/process_image.h"

namespace {

struct Search {
    std::wstring exe;
    int posted = 0;
    HANDLE process = nullptr;  // of the first window closed, for --wait
};

BOOL CALLBACK CloseIfOurs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"OrvellaneWindowClass") != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (_wcsicmp(helpers::ImageOf(pid).c_str(), search->exe.c_str()) != 0) return TRUE;
    if (!search->process) search->process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (PostMessageW(window, WM_CLOSE, 0, 0)) ++search->posted;
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool wait = argc == 4 && wcscmp(argv[2], L"--wait") == 0;
    if (argc != 2 && !wait) {
        std::fwprintf(stderr, L"usage: orv_close_program PATH-OF-ORVELLANE.EXE [--wait SECONDS]\n");
        return 1;
    }
    Search search;
    search.exe = helpers::FullPath(argv[1]);
    EnumWindows(CloseIfOurs, reinterpret_cast<LPARAM>(&search));
    if (search.posted == 0) {
        std::fwprintf(stderr, L"no Orvellane window of %ls\n", search.exe.c_str());
        return 2;
    }
    if (!wait) return 0;
    if (!search.process) {
        std::fwprintf(stderr, L"cannot wait for %ls: error %lu\n", search.exe.c_str(), GetLastError());
        return 3;
    }
    const DWORD seconds = static_cast<DWORD>(_wtoi(argv[3]));
    if (WaitForSingleObject(search.process, seconds * 1000) != WAIT_OBJECT_0) {
        std::fwprintf(stderr, L"%ls still running %lu s after WM_CLOSE\n", search.exe.c_str(), seconds);
        return 3;
    }
    DWORD code = 0;
    GetExitCodeProcess(search.process, &code);
    CloseHandle(search.process);
    if (code != 0) {
        std::fwprintf(stderr, L"%ls ended with code %lu (0x%08lx)\n", search.exe.c_str(), code, code);
        return 4;
    }
    return 0;
}
