// Crashes while another thread holds the C runtime's lock on stderr, for the test of the crash
// report: its line must still come out and the process end at once, not wait for that lock until
// the test's timeout.
//
//   orv_crash_while_locked
//
// Ends with the code of the access violation (0xC0000005) once the crash report has run.

#include <windows.h>

#include <cstdio>

namespace {

HANDLE g_locked = nullptr;

DWORD WINAPI HoldTheLock(void*) {
    _lock_file(stderr);
    SetEvent(g_locked);
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain() {
    g_locked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_locked || !CreateThread(nullptr, 0, HoldTheLock, nullptr, 0, nullptr)) return 2;
    WaitForSingleObject(g_locked, INFINITE);
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}
