// Linked into every test program and test helper (as an object, so that it is never dropped): a
// crash ends the process at once, with a line on stderr that names it, instead of waiting for a
// debugger, so that the test that ran it fails with the reason.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
    const DWORD code = record ? record->ExceptionCode : 0;
    std::fwprintf(stderr, L"CRASH: %ls (process %lu) ended by exception 0x%08lx at %p\n", exe, GetCurrentProcessId(),
                  code, record ? record->ExceptionAddress : nullptr);
    if (record && code == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2)
        std::fwprintf(stderr, L"CRASH: %ls access to %p\n",
                      record->ExceptionInformation[0] == 8   ? L"execute"
                      : record->ExceptionInformation[0] == 1 ? L"write"
                                                             : L"read",
                      reinterpret_cast<void*>(record->ExceptionInformation[1]));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), code ? code : 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct InstallCrashReport {
    InstallCrashReport() {
        // Inherited by the processes a test starts: no dialog box for them either.
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
        SetUnhandledExceptionFilter(ReportCrash);
    }
} installCrashReport;

}  // namespace
