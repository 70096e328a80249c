// The crash report linked into every test program: a crash must end the process at once with a
// line that names it, also when another thread holds the C runtime's lock on stderr at that moment
// (a report written through the runtime would wait for it until the test's timeout).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/bookmark_record.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

std::wstring HelperPath() {
    std::wstring path = ToWide(ORV_CRASH_HELPER_EXE);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (!path.empty() && path.front() == L'\\') path = L"Z:" + path;
    return path;
}

TEST(CrashReport, ACrashWhileAnotherThreadHoldsTheStderrLockIsReportedAndEndsTheProcess) {
    test::TempDir dir;
    const std::wstring output = dir / L"stderr.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = file;
    startup.hStdError = file;
    std::wstring line = L"\"" + HelperPath() + L"\"";
    PROCESS_INFORMATION info{};
    const bool started = CreateProcessW(HelperPath().c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(file);
    ASSERT_TRUE(started) << "error " << GetLastError();
    // Ended by the report, not by a bound: a report that waited for the lock would never end it.
    const DWORD waited = WaitForSingleObject(info.hProcess, 120000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the crashed process hung in its crash report";
    EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    const std::string text = test::ReadTextFile(output);
    EXPECT_NE(text.find("CRASH: "), std::string::npos) << text;
    EXPECT_NE(text.find("orv_crash_while_locked.exe (process "), std::string::npos) << text;
    EXPECT_NE(text.find(") ended by exception 0xc0000005 at 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("CRASH: write access to 0x0000000000000000\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace bm
