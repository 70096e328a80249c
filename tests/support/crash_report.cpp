// Linked into every test program and test helper (as an object, so that it is never dropped): a
// crash ends the process at once, with a line on stderr that names it, instead of waiting for a
// debugger, so that the test that ran it fails with the reason.
//
// The line is put together by hand and written with WriteFile: the crash may have happened while
// its thread held the C runtime's locks (inside printf or malloc), and a filter that waited for one
// of them would hang the process until the test's timeout instead of ending it.
#include <windows.h>

#include <cstdint>

namespace {

// A fixed buffer filled without the runtime: no allocation, no locale, no lock.
class Line {
public:
    void Text(const char* text) {
        while (*text) Put(*text++);
    }
    void Decimal(uint64_t value) {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) Put(digits[--count]);
    }
    void Hex(uint64_t value, int width) {
        Text("0x");
        bool started = false;
        for (int shift = 60; shift >= 0; shift -= 4) {
            const unsigned digit = static_cast<unsigned>(value >> shift) & 0xF;
            if (digit != 0 || shift < width * 4) started = true;
            if (started) Put("0123456789abcdef"[digit]);
        }
    }
    void Wide(const wchar_t* text) {
        char utf8[3 * MAX_PATH];
        const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        if (length > 0) Text(utf8);
    }
    void WriteToStandardError() {
        Put('\n');
        HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
        DWORD written = 0;
        if (handle && handle != INVALID_HANDLE_VALUE) WriteFile(handle, buffer_, length_, &written, nullptr);
        length_ = 0;
    }

private:
    void Put(char c) {
        if (length_ < sizeof buffer_ - 1) buffer_[length_++] = c;
    }
    char buffer_[1024];
    DWORD length_ = 0;
};

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
    const DWORD code = record ? record->ExceptionCode : 0;
    Line line;
    line.Text("CRASH: ");
    line.Wide(exe);
    line.Text(" (process ");
    line.Decimal(GetCurrentProcessId());
    line.Text(") ended by exception ");
    line.Hex(code, 8);
    line.Text(" at ");
    line.Hex(reinterpret_cast<uintptr_t>(record ? record->ExceptionAddress : nullptr), 16);
    line.WriteToStandardError();
    if (record && code == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        line.Text("CRASH: ");
        line.Text(record->ExceptionInformation[0] == 8   ? "execute"
                  : record->ExceptionInformation[0] == 1 ? "write"
                                                         : "read");
        line.Text(" access to ");
        line.Hex(record->ExceptionInformation[1], 16);
        line.WriteToStandardError();
    }
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
