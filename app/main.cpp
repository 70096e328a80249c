// The program's entry: one instance at a time, then the App's life from Init to Shutdown.
#include <windows.h>

#include "app/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using bm::ui::App;

    HANDLE mutex = CreateMutexW(nullptr, TRUE, bm::ui::kSingleInstanceMutexName);
    if (!mutex) {
        MessageBoxW(nullptr, L"Could not start Orvellane.", L"Orvellane", MB_ICONERROR);
        return 1;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another instance runs: hand it the focus and leave.
        if (HWND other = FindWindowW(bm::ui::kWindowClassName, nullptr)) {
            if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
            SetForegroundWindow(other);
            BringWindowToTop(other);
        }
        CloseHandle(mutex);
        return 0;
    }

    int code = 1;
    {
        App app;
        if (app.Init(instance)) {
            code = app.Run();
            app.Shutdown();
        } else {
            MessageBoxW(nullptr, L"Failed to initialize Orvellane.", L"Orvellane", MB_ICONERROR);
            code = 1;
        }
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        mutex = nullptr;
    }  // the App is destroyed after the mutex is released
    return code;
}
