#pragma once
// The receiving end of the program's probe: the program answers kProbeMessage with WM_COPYDATA to
// the window named in the message.

#include <windows.h>

#include <string>

#include "app/app.h"

namespace helpers {

// The text of the last probe answer that arrived.
inline std::string g_probeAnswer;

// The window procedure of a message-only window that receives probe answers into g_probeAnswer.
inline LRESULT CALLBACK ReceiveProbeAnswer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data->dwData == bm::ui::kProbeMessage)
            g_probeAnswer.assign(static_cast<const char*>(data->lpData), data->cbData);
        return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace helpers
