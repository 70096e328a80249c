// The event-driven loop: the thread sleeps in GetMessageW and draws only when something happened.
#include "app/app.h"

#include <imgui.h>

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace bm::ui {

namespace {
// WM_SYSTIMER: the system's own timers (caret blink; under Wine also the poll behind
// TrackMouseEvent, which the Win32 back end arms while the pointer is over the window).
constexpr UINT kSystemTimerMessage = 0x0118;
}  // namespace

int App::Run() {
    MSG msg = {};
    // The last frame left input queued or was still changing. True at first: the first frame is
    // drawn at once, not when the first message happens to come.
    bool frameDue = true;
    for (;;) {
        if (!frameDue) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) return 0;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // Drain everything waiting, so that a burst of messages costs one frame.
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return 0;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }

        HandleFinishedSync();
        if (redrawPending || frameDue) {
            redrawPending = false;  // a flag set during the frame waits for the next message
            RenderFrame();
            frameDue = framePacer.AfterFrame(imguiContext, ImGui::GetDrawData());
        }
    }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (ImGui_ImplWin32_WndProcHandler(hwnd, msg, wParam, lParam)) {
        if (g_app) g_app->redrawPending = true;
        return 1;
    }
    App* app = g_app;
    auto redraw = [app] {
        if (app) app->redrawPending = true;
    };

    switch (msg) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (app && wParam != SIZE_MINIMIZED) redraw();
        return 0;
    case WM_ACTIVATE:
        if (app) {
            if (LOWORD(wParam) != 0) {
                RefreshRunningFlags(app->browsers);
                app->outsideReads.Forget();  // the user may have changed things elsewhere
            }
            redraw();
        }
        break;
    case WM_CLOSE:
        if (app) {
            app->SaveSettings();
            redraw();
        }
        break;
    case WM_ENDSESSION:
        if (app) {
            if (wParam) app->SaveSettings();
            redraw();
        }
        break;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = 980;
        info->ptMinTrackSize.y = 640;
        return 0;
    }
    case WM_SYSCOMMAND: {
        const WPARAM command = wParam & 0xFFF0;
        if (command == SC_KEYMENU) return 0;  // Alt stays with the interface's keyboard navigation
        if (app) {
            // Posted, so that the placement is saved after the system command has changed it.
            if (command == SC_MAXIMIZE || command == SC_RESTORE) PostMessageW(hwnd, kWakeMessage, 1, 0);
            redraw();
        }
        break;
    }
    case WM_EXITSIZEMOVE:
        if (app) {
            app->SaveSettings();
            redraw();
        }
        return 0;
    case kSystemTimerMessage:
    case WM_NCHITTEST:
        // Queries and timers of the system itself change nothing on screen. Real input follows as
        // its own messages; without this an idle pointer over the window would cost frames.
        break;
    case kProbeMessage:
        // Answered from the last frame's state; asking draws nothing, except the first time, when the
        // item recording starts and a frame is needed to fill it.
        if (app) {
            if (app->AnswerProbe(reinterpret_cast<HWND>(wParam))) redraw();
        }
        return 0;
    case kWakeMessage:
        if (app) {
            if (wParam == 1) app->SaveSettings();
            redraw();
        }
        return 0;
    default:
        redraw();
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace bm::ui
