#pragma once
// Whether a browser runs, and closing it: its windows first, then whatever processes are left.
// A browser is named by its executable file name ("chrome.exe"), compared without regard to case.

#include <cstdint>
#include <string>
#include <vector>

namespace bm {

struct ProcessEntry {
    uint32_t id = 0;
    std::wstring exeFile;  // file name only, as the system lists it
};

// The five things process control needs of the system. SystemProcessPlatform() is the real one;
// tests may drive the logic with a fake.
class ProcessPlatform {
public:
    virtual ~ProcessPlatform() = default;
    // Every running process; empty when the list cannot be taken.
    virtual std::vector<ProcessEntry> ListProcesses() = 0;
    // Posts a close request to every top-level window (hidden ones included) owned by one of the
    // processes; returns the number of windows it was posted to.
    virtual int PostCloseToWindows(const std::vector<uint32_t>& processIds) = 0;
    // Ends the process with the exit code; false when it cannot be opened or ended.
    virtual bool Terminate(uint32_t processId, uint32_t exitCode) = 0;
    // Milliseconds of a counter that wraps at 32 bits.
    virtual uint32_t TickCount() = 0;
    virtual void SleepFor(uint32_t milliseconds) = 0;
};

ProcessPlatform& SystemProcessPlatform();

// Ids of the processes whose executable file name equals exeName ignoring case, in snapshot order.
// An empty name finds nothing.
std::vector<uint32_t> FindProcessIds(const std::wstring& exeName);
bool IsProcessRunning(const std::wstring& exeName);
int CountRunningProcesses(const std::wstring& exeName);
// Number of windows a close request was posted to.
int PostCloseToProcessWindows(const std::wstring& exeName);
// True as soon as no process of that name runs; false when the time is up. Polls every 80 ms.
bool WaitForProcessExit(const std::wstring& exeName, uint32_t timeoutMs);
// Asks the windows to close and waits up to timeoutMs; then terminates what is left (exit code 1)
// and waits up to 1500 ms more. True when no process of that name runs at the end.
bool CloseBrowserProcesses(const std::wstring& exeName, uint32_t timeoutMs);

// The same operations over a given platform.
std::vector<uint32_t> FindProcessIds(ProcessPlatform& platform, const std::wstring& exeName);
bool IsProcessRunning(ProcessPlatform& platform, const std::wstring& exeName);
int CountRunningProcesses(ProcessPlatform& platform, const std::wstring& exeName);
int PostCloseToProcessWindows(ProcessPlatform& platform, const std::wstring& exeName);
bool WaitForProcessExit(ProcessPlatform& platform, const std::wstring& exeName, uint32_t timeoutMs);
bool CloseBrowserProcesses(ProcessPlatform& platform, const std::wstring& exeName, uint32_t timeoutMs);

}  // namespace bm
