#pragma once
// Real processes that stand in for a running browser, for tests of process control and of everything
// that must notice or close a running browser (sync engine, sync worker, dashboard, backups panel).
//
//   bm::test::FakeBrowser chrome(L"chrome.exe");                       // closes on WM_CLOSE, exit code 0
//   bm::test::FakeBrowser service(L"opera.exe", FakeBrowserBehavior::NoWindow);
//   bm::test::FakeBrowser stubborn(L"msedge.exe", FakeBrowserBehavior::IgnoresClose);
//   EXPECT_TRUE(bm::IsProcessRunning(L"chrome.exe"));
//   ... code under test closes it ...
//   EXPECT_TRUE(chrome.WaitForExit(3000));
//   EXPECT_EQ(chrome.ExitCode(), 0u);   // 1 when it was terminated by CloseBrowserProcesses
//
// The constructor copies the helper program (tests/helpers/fake_browser_process.cpp) under the given
// file name into a private temporary folder, starts it and returns once it runs and, for the two window
// behaviours, has its top-level window; it throws std::runtime_error when that fails. The destructor
// terminates the process if it still runs, waits for it and removes the folder, so no fake browser
// outlives its test. As a last guard the helper ends itself when the test program ends, or after
// `lifetimeMs` (exit code 3).
//
// Processes are visible to everything in the same Wine prefix, and every test program of a build
// shares one. A test program that starts fake browsers under real browser names (or counts or closes
// such processes) must therefore not run in parallel with another that does: give its ctest test the
// lock shared by all of them, in tests/CMakeLists.txt:
//   set_tests_properties(<test name> PROPERTIES RESOURCE_LOCK orv_browser_processes)
// (the orv_browser_process_tests() helper there does exactly that).

#include <cstdint>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace bm::test {

enum class FakeBrowserBehavior {
    ClosesOnRequest,  // one top-level window; WM_CLOSE ends the process with exit code 0
    NoWindow,         // no window at all, like a browser's background process
    IgnoresClose,     // one top-level window that ignores WM_CLOSE
};

class FakeBrowser {
public:
    explicit FakeBrowser(const std::wstring& exeName,
                         FakeBrowserBehavior behavior = FakeBrowserBehavior::ClosesOnRequest,
                         uint32_t lifetimeMs = 60000);
    ~FakeBrowser();
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    uint32_t ProcessId() const { return processId_; }
    // Full path of the started copy, e.g. "C:\users\...\orvtest-...\chrome.exe".
    const std::wstring& ExePath() const { return exePath_; }
    bool IsRunning() const;
    // True once the process has ended, false when it still runs after timeoutMs.
    bool WaitForExit(uint32_t timeoutMs) const;
    // The exit code as the system reports it (read inside Wine: the Unix status of a terminated
    // Wine process says nothing); nothing while the process runs.
    std::optional<uint32_t> ExitCode() const;
    // Ends the process at once (exit code 9) and waits for it.
    void Kill();

private:
    TempDir folder_;
    std::wstring exePath_;
    void* process_ = nullptr;  // process handle
    uint32_t processId_ = 0;
};

// Where the built helper program is.
std::wstring FakeBrowserHelperPath();

}  // namespace bm::test
