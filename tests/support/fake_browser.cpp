#include "tests/support/fake_browser.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "core/bookmark_record.h"
#include "tests/support/process_start.h"

#ifndef ORV_FAKE_BROWSER_EXE
#error "ORV_FAKE_BROWSER_EXE must name the built fake_browser helper"
#endif

namespace bm::test {
namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr UINT kKilledExitCode = 9;

const wchar_t* BehaviorArgument(FakeBrowserBehavior behavior) {
    switch (behavior) {
    case FakeBrowserBehavior::NoWindow: return L"nowindow";
    case FakeBrowserBehavior::IgnoresClose: return L"ignoreclose";
    case FakeBrowserBehavior::ClosesOnRequest: break;
    }
    return L"window";
}

}  // namespace

std::wstring FakeBrowserHelperPath() {
    // The build names it by its path on the build machine; under Wine the Unix root is drive Z:.
    std::wstring path = ToWide(ORV_FAKE_BROWSER_EXE);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (!path.empty() && path.front() == L'\\') path = L"Z:" + path;
    return path;
}

FakeBrowser::FakeBrowser(const std::wstring& exeName, FakeBrowserBehavior behavior, uint32_t lifetimeMs) {
    exePath_ = folder_ / exeName;
    if (!CopyFileW(FakeBrowserHelperPath().c_str(), exePath_.c_str(), FALSE))
        throw std::runtime_error("cannot copy the fake browser helper (error " + std::to_string(GetLastError()) + ")");

    static std::atomic<unsigned> counter{0};
    const std::wstring readyName = L"Local\\OrvFakeBrowserReady-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(counter.fetch_add(1));
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    if (ready == nullptr) throw std::runtime_error("cannot create the ready event of a fake browser");

    std::wstring commandLine = L"\"" + exePath_ + L"\" --mode=" + BehaviorArgument(behavior) + L" --ready=" +
                               readyName + L" --parent=" + std::to_wstring(GetCurrentProcessId()) +
                               L" --lifetime=" + std::to_wstring(lifetimeMs);
    PROCESS_INFORMATION info{};
    std::string failure;
    if (!StartProcess(exePath_, commandLine, folder_.path(), CREATE_NO_WINDOW, info, &failure)) {
        CloseHandle(ready);
        throw std::runtime_error("cannot start a fake browser: " + failure);
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;

    // Ready, or ended before it got there (its window could not be created, say).
    HANDLE waits[2] = {ready, info.hProcess};
    const DWORD result = WaitForMultipleObjects(2, waits, FALSE, kStartTimeoutMs);
    CloseHandle(ready);
    if (result != WAIT_OBJECT_0) {
        const std::optional<uint32_t> code = ExitCode();
        Kill();
        CloseHandle(process_);
        process_ = nullptr;
        if (code && *code == 2)
            throw std::runtime_error("the fake browser could not create its window (is there a display?)");
        throw std::runtime_error(code ? "the fake browser ended at start with exit code " + std::to_string(*code)
                                      : std::string("the fake browser did not get ready in time"));
    }
}

FakeBrowser::~FakeBrowser() {
    if (process_ == nullptr) return;
    Kill();
    CloseHandle(process_);
}

bool FakeBrowser::IsRunning() const { return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool FakeBrowser::WaitForExit(uint32_t timeoutMs) const {
    return process_ == nullptr || WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

std::optional<uint32_t> FakeBrowser::ExitCode() const {
    if (process_ == nullptr || IsRunning()) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
    return static_cast<uint32_t>(code);
}

void FakeBrowser::Kill() {
    if (process_ == nullptr || !IsRunning()) return;
    TerminateProcess(process_, kKilledExitCode);
    WaitForSingleObject(process_, 10000);
}

}  // namespace bm::test
