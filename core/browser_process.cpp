#include "core/browser_process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>

#include "core/bookmark_record.h"

namespace bm {
namespace {

struct WindowCloseContext {
    const std::vector<uint32_t>* processIds;
    int posted;
};

BOOL CALLBACK CloseWindowEnumProc(HWND window, LPARAM parameter) {
    auto* context = reinterpret_cast<WindowCloseContext*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    const std::vector<uint32_t>& ids = *context->processIds;
    if (std::find(ids.begin(), ids.end(), static_cast<uint32_t>(owner)) != ids.end()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ++context->posted;
    }
    return TRUE;
}

class Win32ProcessPlatform final : public ProcessPlatform {
public:
    std::vector<ProcessEntry> ListProcesses() override {
        std::vector<ProcessEntry> processes;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return processes;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        if (Process32FirstW(snapshot, &entry)) {
            do {
                processes.push_back({static_cast<uint32_t>(entry.th32ProcessID), entry.szExeFile});
            } while (Process32NextW(snapshot, &entry));
        }
        CloseHandle(snapshot);
        return processes;
    }

    int PostCloseToWindows(const std::vector<uint32_t>& processIds) override {
        WindowCloseContext context{&processIds, 0};
        EnumWindows(CloseWindowEnumProc, reinterpret_cast<LPARAM>(&context));
        return context.posted;
    }

    bool Terminate(uint32_t processId, uint32_t exitCode) override {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
        if (process == nullptr) return false;
        const bool ended = TerminateProcess(process, exitCode) != 0;
        CloseHandle(process);
        return ended;
    }

    uint32_t TickCount() override { return GetTickCount(); }
    void SleepFor(uint32_t milliseconds) override { Sleep(milliseconds); }
};

constexpr uint32_t kPollIntervalMs = 80;
constexpr uint32_t kAfterTerminateWaitMs = 1500;
constexpr uint32_t kTerminatedExitCode = 1;

}  // namespace

ProcessPlatform& SystemProcessPlatform() {
    static Win32ProcessPlatform platform;
    return platform;
}

std::vector<uint32_t> FindProcessIds(ProcessPlatform& platform, const std::wstring& exeName) {
    std::vector<uint32_t> ids;
    if (exeName.empty()) return ids;
    const std::wstring target = ToLower(exeName);
    for (const ProcessEntry& process : platform.ListProcesses())
        if (ToLower(process.exeFile) == target) ids.push_back(process.id);
    return ids;
}

bool IsProcessRunning(ProcessPlatform& platform, const std::wstring& exeName) {
    return !FindProcessIds(platform, exeName).empty();
}

int CountRunningProcesses(ProcessPlatform& platform, const std::wstring& exeName) {
    return static_cast<int>(FindProcessIds(platform, exeName).size());
}

int PostCloseToProcessWindows(ProcessPlatform& platform, const std::wstring& exeName) {
    const std::vector<uint32_t> ids = FindProcessIds(platform, exeName);
    if (ids.empty()) return 0;
    return platform.PostCloseToWindows(ids);
}

bool WaitForProcessExit(ProcessPlatform& platform, const std::wstring& exeName, uint32_t timeoutMs) {
    const uint32_t start = platform.TickCount();
    for (;;) {
        // The list comes before the clock, so a zero timeout still sees a process that has gone.
        if (FindProcessIds(platform, exeName).empty()) return true;
        if (static_cast<uint32_t>(platform.TickCount() - start) >= timeoutMs) return false;
        platform.SleepFor(kPollIntervalMs);
    }
}

bool CloseBrowserProcesses(ProcessPlatform& platform, const std::wstring& exeName, uint32_t timeoutMs) {
    if (!IsProcessRunning(platform, exeName)) return true;
    PostCloseToProcessWindows(platform, exeName);
    if (WaitForProcessExit(platform, exeName, timeoutMs)) return true;
    // Whatever did not close on request (background processes, hung windows) is ended.
    for (uint32_t id : FindProcessIds(platform, exeName)) platform.Terminate(id, kTerminatedExitCode);
    return WaitForProcessExit(platform, exeName, kAfterTerminateWaitMs);
}

std::vector<uint32_t> FindProcessIds(const std::wstring& exeName) {
    return FindProcessIds(SystemProcessPlatform(), exeName);
}
bool IsProcessRunning(const std::wstring& exeName) { return IsProcessRunning(SystemProcessPlatform(), exeName); }
int CountRunningProcesses(const std::wstring& exeName) {
    return CountRunningProcesses(SystemProcessPlatform(), exeName);
}
int PostCloseToProcessWindows(const std::wstring& exeName) {
    return PostCloseToProcessWindows(SystemProcessPlatform(), exeName);
}
bool WaitForProcessExit(const std::wstring& exeName, uint32_t timeoutMs) {
    return WaitForProcessExit(SystemProcessPlatform(), exeName, timeoutMs);
}
bool CloseBrowserProcesses(const std::wstring& exeName, uint32_t timeoutMs) {
    return CloseBrowserProcesses(SystemProcessPlatform(), exeName, timeoutMs);
}

}  // namespace bm
