// A stand-in for a browser process, for the tests of process control and everything built on it.
// The tests copy it under a browser's executable name (chrome.exe, opera.exe, ...) and start it; see
// tests/support/fake_browser.h for the way tests use it.
//
// Arguments (all optional):
//   --mode=window | nowindow | ignoreclose
//       window       one top-level window; WM_CLOSE destroys it and the process exits with code 0
//       nowindow     no window at all, like a browser's background process
//       ignoreclose  one top-level window that ignores WM_CLOSE
//   --ready=NAME     a named event to set once the process is up (and its window exists)
//   --parent=PID     exit (code 4) as soon as that process has ended
//   --lifetime=MS    exit (code 3) after that long whatever happens; default 60000
// Exit code 2 means the window could not be created.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

enum class Mode { Window, NoWindow, IgnoreClose };

constexpr int kExitCreateFailed = 2;
constexpr int kExitLifetimeOver = 3;
constexpr int kExitParentGone = 4;

Mode g_mode = Mode::Window;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        if (g_mode == Mode::IgnoreClose) return 0;
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest) {
    const size_t length = std::wcslen(prefix);
    if (text.compare(0, length, prefix) != 0) return false;
    rest = text.substr(length);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring readyName;
    DWORD parentId = 0;
    DWORD lifetimeMs = 60000;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        std::wstring value;
        if (StartsWith(argument, L"--mode=", value)) {
            if (value == L"nowindow") g_mode = Mode::NoWindow;
            else if (value == L"ignoreclose") g_mode = Mode::IgnoreClose;
            else g_mode = Mode::Window;
        } else if (StartsWith(argument, L"--ready=", value)) {
            readyName = value;
        } else if (StartsWith(argument, L"--parent=", value)) {
            parentId = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
        } else if (StartsWith(argument, L"--lifetime=", value)) {
            lifetimeMs = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
        }
    }

    HANDLE parent = parentId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, parentId) : nullptr;
    if (parentId != 0 && parent == nullptr) return kExitParentGone;

    if (g_mode != Mode::NoWindow) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OrvellaneFakeBrowserWindow";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Fake browser", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                      100, nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window == nullptr) return kExitCreateFailed;
    }

    if (!readyName.empty()) {
        if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName.c_str())) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }

    const ULONGLONG deadline = GetTickCount64() + lifetimeMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return kExitLifetimeOver;
        const DWORD handleCount = parent != nullptr ? 1 : 0;
        const DWORD wait = MsgWaitForMultipleObjects(handleCount, &parent, FALSE, static_cast<DWORD>(deadline - now),
                                                     QS_ALLINPUT);
        if (parent != nullptr && wait == WAIT_OBJECT_0) return kExitParentGone;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
