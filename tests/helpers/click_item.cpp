// Clicks a widget of the running Orvellane started from one executable file, found by its label
// through the program's probe (kProbeMessage), as a user would: the mouse wheel over the left
// column until it is in view above the console, then a move, press and release posted to the window.
//
//   orv_click_item PATH-OF-ORVELLANE.EXE LABEL
//
// LABEL matches the whole label or its part before "##"; the first such item in drawing order is
// clicked. Exit code 0 after the click, 2 when the window or the item was not found, 1 for wrong
// arguments.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <nlohmann/json.hpp>
#include <string>

#include "app/app.h"
#include "core/bookmark_record.h"
#include "tests/helpers/probe_answer.h"
#include "tests/helpers/process_image.h"

namespace {

struct Search {
    std::wstring exe;
    HWND found = nullptr;
};

BOOL CALLBACK FindOurs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wcscmp(className, bm::ui::kWindowClassName) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (_wcsicmp(helpers::ImageOf(pid).c_str(), search->exe.c_str()) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

nlohmann::json Ask(HWND program, HWND receiver) {
    helpers::g_probeAnswer.clear();
    DWORD_PTR result = 0;
    SendMessageTimeoutW(program, bm::ui::kProbeMessage, reinterpret_cast<WPARAM>(receiver), 0, SMTO_NORMAL, 10000, &result);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return helpers::g_probeAnswer.empty() ? nlohmann::json() : nlohmann::json::parse(helpers::g_probeAnswer, nullptr, false);
}

uint64_t FramesDrawn(HWND program) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(GetPropW(program, bm::ui::kFramesDrawnProperty)));
}

// After posted input: until the program has drawn two frames since (the wheel is applied in the first,
// the items' places follow in the second), however slow a busy machine makes it; at most 30 s.
void WaitForFramesAfter(HWND program, uint64_t before) {
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (IsWindow(program) && FramesDrawn(program) < before + 2 && GetTickCount64() < deadline) Sleep(10);
}

bool Matches(const std::string& label, const std::string& wanted) {
    if (label == wanted) return true;
    const size_t hashes = label.find("##");
    return hashes == wanted.size() && label.compare(0, hashes, wanted) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: orv_click_item PATH-OF-ORVELLANE.EXE LABEL\n");
        return 1;
    }
    Search search;
    search.exe = helpers::FullPath(argv[1]);
    EnumWindows(FindOurs, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return 2;
    const HWND program = search.found;
    const std::string wanted = bm::ToUtf8(argv[2]);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = helpers::ReceiveProbeAnswer;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvellaneClickReceiver";
    RegisterClassW(&wc);
    const HWND receiver = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);

    // A bound on the whole search, not a pace: a window that stops answering is reported, not waited on.
    const ULONGLONG giveUpAt = GetTickCount64() + 180000;
    std::string lastPlacement;
    for (int attempt = 0; attempt < 60 && GetTickCount64() < giveUpAt; ++attempt) {
        const nlohmann::json state = Ask(program, receiver);
        if (!state.is_object() || !state["items"].is_array() || state["items"].empty()) {
            Sleep(200);
            continue;
        }
        double consoleTop = 1e9;  // the horizontal splitter: what lies below it is out of view
        const nlohmann::json* item = nullptr;
        std::string placement;  // where every item stands: unchanged after a turn means the end of the column
        for (const nlohmann::json& entry : state["items"]) {
            const std::string label = entry["label"].get<std::string>();
            placement += label + "@" + std::to_string(entry["y"].get<double>()) + ";";
            if (label == "##split" && entry["w"].get<double>() > entry["h"].get<double>())
                consoleTop = entry["y"].get<double>();
            if (!item && Matches(label, wanted)) item = &entry;
        }
        if (!item) {
            // Items out of view carry no label: turn the wheel over the left column and look again.
            RECT client = {};
            GetClientRect(program, &client);
            const LPARAM at = MAKELPARAM(100, (client.bottom - client.top) / 3);
            PostMessageW(program, WM_MOUSEMOVE, 0, at);
            POINT screen = {100, (client.bottom - client.top) / 3};
            ClientToScreen(program, &screen);
            const uint64_t before = FramesDrawn(program);
            // Down a little at a time; once the column's end is reached without the item (it may have
            // been drawn only after the wheel had passed its place), back to the top to look again.
            const bool atEnd = placement == lastPlacement;
            const int turn = atEnd ? WHEEL_DELTA * 100 : -WHEEL_DELTA * 2;
            lastPlacement = placement;
            PostMessageW(program, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(turn))),
                         MAKELPARAM(screen.x, screen.y));
            WaitForFramesAfter(program, before);
            continue;
        }
        const int x = static_cast<int>((*item)["x"].get<double>() + (*item)["w"].get<double>() / 2);
        const int y = static_cast<int>((*item)["y"].get<double>() + (*item)["h"].get<double>() / 2);
        if (y + (*item)["h"].get<double>() >= consoleTop) {
            // Below the fold of its column: one turn of the wheel over the column, then look again.
            const int above = static_cast<int>(consoleTop) - 40;
            PostMessageW(program, WM_MOUSEMOVE, 0, MAKELPARAM(x, above));
            const uint64_t before = FramesDrawn(program);
            PostMessageW(program, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA * 2)), MAKELPARAM(x, above));
            WaitForFramesAfter(program, before);
            continue;
        }
        PostMessageW(program, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        PostMessageW(program, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        PostMessageW(program, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        DestroyWindow(receiver);
        return 0;
    }
    const nlohmann::json last = Ask(program, receiver);
    DestroyWindow(receiver);
    std::fprintf(stderr, "no item \"%s\" in view; the last frame's items:\n", wanted.c_str());
    if (last.is_object() && last["items"].is_array())
        for (const nlohmann::json& entry : last["items"])
            std::fprintf(stderr, "  %s at %.0f,%.0f\n", entry["label"].get<std::string>().c_str(), entry["y"].get<double>(),
                         entry["x"].get<double>());
    return 2;
}
