#include "core/browser_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "tests/support/fake_browser.h"

namespace bm {
namespace {

using test::FakeBrowser;
using test::FakeBrowserBehavior;

// A system of processes on a virtual clock: windows close when asked (or not), termination may fail.
class FakePlatform : public ProcessPlatform {
public:
    struct Process {
        uint32_t id;
        std::wstring exeFile;
        bool hasWindow = true;
        bool closesOnRequest = true;
        bool terminable = true;
        bool running = true;
        bool closeRequested = false;
        uint32_t exitCode = 0;
    };

    std::vector<Process> processes;
    uint32_t now = 1000;
    int listCalls = 0;
    int sleeps = 0;
    std::vector<uint32_t> terminated;

    std::vector<ProcessEntry> ListProcesses() override {
        ++listCalls;
        std::vector<ProcessEntry> list;
        for (const Process& p : processes)
            if (p.running) list.push_back({p.id, p.exeFile});
        return list;
    }
    int PostCloseToWindows(const std::vector<uint32_t>& ids) override {
        int posted = 0;
        for (Process& p : processes) {
            if (!p.running || !p.hasWindow || std::find(ids.begin(), ids.end(), p.id) == ids.end()) continue;
            ++posted;
            p.closeRequested = true;
        }
        return posted;
    }
    bool Terminate(uint32_t id, uint32_t exitCode) override {
        terminated.push_back(id);
        for (Process& p : processes) {
            if (p.id != id || !p.running || !p.terminable) continue;
            p.running = false;
            p.exitCode = exitCode;
            return true;
        }
        return false;
    }
    uint32_t TickCount() override { return now; }
    void SleepFor(uint32_t ms) override {
        ++sleeps;
        now += ms;
        // A window asked to close goes away while the caller sleeps.
        for (Process& p : processes)
            if (p.running && p.closeRequested && p.closesOnRequest) p.running = false;
    }
};

TEST(ProcessControlLogic, EmptyNameFindsNothingWithoutLookingAtProcesses) {
    FakePlatform platform;
    platform.processes.push_back({1, L""});
    EXPECT_TRUE(FindProcessIds(platform, L"").empty());
    EXPECT_FALSE(IsProcessRunning(platform, L""));
    EXPECT_EQ(CountRunningProcesses(platform, L""), 0);
    EXPECT_TRUE(CloseBrowserProcesses(platform, L"", 2500));
    EXPECT_EQ(platform.listCalls, 0);
    EXPECT_FALSE(platform.processes[0].closeRequested);
}

TEST(ProcessControlLogic, NamesMatchWithoutRegardToCaseAndEveryProcessCounts) {
    FakePlatform platform;
    platform.processes = {{10, L"FIREFOX.EXE"}, {11, L"chrome.exe"}, {12, L"Firefox.exe"}, {13, L"firefox.exe.old"}};
    EXPECT_EQ(FindProcessIds(platform, L"firefox.exe"), (std::vector<uint32_t>{10, 12}));
    EXPECT_EQ(CountRunningProcesses(platform, L"FireFox.EXE"), 2);
    EXPECT_FALSE(IsProcessRunning(platform, L"firefox"));
}

TEST(ProcessControlLogic, WaitWithZeroTimeoutLooksOnceWithoutSleeping) {
    FakePlatform platform;
    platform.processes = {{1, L"opera.exe"}};
    EXPECT_FALSE(WaitForProcessExit(platform, L"opera.exe", 0));
    EXPECT_EQ(platform.sleeps, 0);
    EXPECT_TRUE(WaitForProcessExit(platform, L"brave.exe", 0));
}

TEST(ProcessControlLogic, WaitSurvivesTheTickCounterWrappingAround) {
    FakePlatform platform;
    platform.processes = {{1, L"opera.exe"}};
    platform.now = 0xFFFFFF00u;  // 256 ms before the wrap
    EXPECT_FALSE(WaitForProcessExit(platform, L"opera.exe", 500));
    // 80 ms steps until at least 500 ms have passed: 7 sleeps, not an early or an endless end.
    EXPECT_EQ(platform.sleeps, 7);
}

TEST(ProcessControlLogic, WindowsThatCloseInTimeAreNeverTerminated) {
    FakePlatform platform;
    platform.processes = {{1, L"chrome.exe"}, {2, L"chrome.exe"}, {3, L"msedge.exe"}};
    EXPECT_TRUE(CloseBrowserProcesses(platform, L"chrome.exe", 2500));
    EXPECT_TRUE(platform.terminated.empty());
    EXPECT_FALSE(platform.processes[0].running);
    EXPECT_FALSE(platform.processes[1].running);
    EXPECT_TRUE(platform.processes[2].running);
    EXPECT_FALSE(platform.processes[2].closeRequested);
}

TEST(ProcessControlLogic, LeftoverProcessesAreTerminatedWithExitCodeOne) {
    FakePlatform platform;
    platform.processes = {{1, L"chrome.exe"}, {2, L"chrome.exe"}, {3, L"chrome.exe"}};
    platform.processes[1].hasWindow = false;
    platform.processes[2].closesOnRequest = false;
    const uint32_t start = platform.now;
    EXPECT_TRUE(CloseBrowserProcesses(platform, L"chrome.exe", 400));
    EXPECT_EQ(platform.processes[0].exitCode, 0u);
    EXPECT_EQ(platform.terminated, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(platform.processes[1].exitCode, 1u);
    EXPECT_EQ(platform.processes[2].exitCode, 1u);
    EXPECT_FALSE(platform.processes[2].running);
    EXPECT_GE(platform.now - start, 400u);
    EXPECT_LT(platform.now - start, 400u + 80u);
}

TEST(ProcessControlLogic, AProcessThatCannotBeEndedMakesCloseFailAfterTheFixedWait) {
    FakePlatform platform;
    platform.processes = {{7, L"vivaldi.exe"}};
    platform.processes[0].closesOnRequest = false;
    platform.processes[0].terminable = false;
    const uint32_t start = platform.now;
    EXPECT_FALSE(CloseBrowserProcesses(platform, L"vivaldi.exe", 200));
    EXPECT_TRUE(platform.processes[0].running);
    // The timeout, then 1500 ms after the termination attempt, each rounded up to the next poll.
    EXPECT_EQ(platform.now - start, 240u + 1520u);
}

// The same rules against real processes of the fake browser helper.

TEST(ProcessControl, RunningProcessesAreFoundByNameIgnoringCase) {
    FakeBrowser first(L"chrome.exe");
    FakeBrowser second(L"chrome.exe", FakeBrowserBehavior::NoWindow);
    FakeBrowser upper(L"OPERA.EXE");

    EXPECT_TRUE(IsProcessRunning(L"chrome.exe"));
    EXPECT_TRUE(IsProcessRunning(L"CHROME.exe"));
    EXPECT_EQ(CountRunningProcesses(L"chrome.exe"), 2);
    std::vector<uint32_t> ids = FindProcessIds(L"Chrome.EXE");
    std::sort(ids.begin(), ids.end());
    std::vector<uint32_t> expected = {first.ProcessId(), second.ProcessId()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(FindProcessIds(L"opera.exe"), std::vector<uint32_t>{upper.ProcessId()});
    EXPECT_FALSE(IsProcessRunning(L"chrome"));
    EXPECT_FALSE(IsProcessRunning(L""));
    EXPECT_EQ(CountRunningProcesses(L""), 0);

    second.Kill();
    EXPECT_EQ(CountRunningProcesses(L"chrome.exe"), 1);
    EXPECT_TRUE(WaitForProcessExit(L"brave.exe", 0));
    EXPECT_FALSE(WaitForProcessExit(L"chrome.exe", 0));
}

TEST(ProcessControl, CloseAsksWindowsFirstAndEndsWhatIsLeft) {
    struct Case {
        FakeBrowserBehavior behavior;
        uint32_t expectedExitCode;
        bool hasWindow;
    };
    const Case cases[] = {
        {FakeBrowserBehavior::ClosesOnRequest, 0, true},
        {FakeBrowserBehavior::NoWindow, 1, false},
        {FakeBrowserBehavior::IgnoresClose, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.behavior));
        FakeBrowser browser(L"vivaldi.exe", c.behavior);
        FakeBrowser bystander(L"msedge.exe");
        if (c.behavior != FakeBrowserBehavior::ClosesOnRequest) {
            // Posting alone leaves these running. (The system may give a process hidden top-level
            // windows of its own besides the browser's.)
            const int posted = PostCloseToProcessWindows(L"vivaldi.exe");
            if (c.hasWindow) EXPECT_GE(posted, 1);
            else EXPECT_EQ(posted, 0);
            EXPECT_FALSE(browser.WaitForExit(200));
        }
        EXPECT_TRUE(CloseBrowserProcesses(L"vivaldi.exe", 300));
        // Once it reports success the process is gone; no extra waiting.
        ASSERT_TRUE(browser.WaitForExit(0));
        EXPECT_EQ(browser.ExitCode(), c.expectedExitCode);
        EXPECT_TRUE(bystander.IsRunning());
    }
}

TEST(ProcessControl, ABrowserAndItsBackgroundProcessCloseTogether) {
    // Opera and Opera GX share one executable name: closing one closes both.
    FakeBrowser opera(L"opera.exe");
    FakeBrowser operaGx(L"Opera.exe");
    FakeBrowser background(L"opera.exe", FakeBrowserBehavior::NoWindow);
    EXPECT_EQ(CountRunningProcesses(L"opera.exe"), 3);
    EXPECT_TRUE(CloseBrowserProcesses(L"opera.exe", 500));
    EXPECT_EQ(CountRunningProcesses(L"opera.exe"), 0);
    ASSERT_TRUE(opera.WaitForExit(0) && operaGx.WaitForExit(0) && background.WaitForExit(0));
    EXPECT_EQ(opera.ExitCode(), 0u);
    EXPECT_EQ(operaGx.ExitCode(), 0u);
    EXPECT_EQ(background.ExitCode(), 1u);
}

TEST(ProcessControl, NothingRunningIsClosedAtOnce) {
    EXPECT_TRUE(CloseBrowserProcesses(L"brave.exe", 60000));
    EXPECT_EQ(PostCloseToProcessWindows(L"brave.exe"), 0);
}

}  // namespace
}  // namespace bm
