// Where the real program's frames spend their time: starts orvellane.exe from the given path (with
// an app_data.db beside it holding a profile with snapshots, bound to a browser), forces frames with
// nothing changing, asks the program for each frame's timings (the probe) and prints the median of
// each part in milliseconds. Run it under Wine with a display:
//
//   orv_frame_profile PATH\orvellane.exe [FRAMES]
//
// Exit code 0 after printing, 1 when the program could not be started or did not answer.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app.h"
#include "database/app_database.h"
#include "tests/helpers/probe_answer.h"
#include "tests/helpers/process_window.h"

namespace {

HWND FindProgramWindow(DWORD pid) { return helpers::FindProcessWindow(pid, bm::ui::kWindowClassName); }

uint64_t Frames(HWND window) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(GetPropW(window, bm::ui::kFramesDrawnProperty)));
}

void WaitQuiet(HWND window) {
    uint64_t last = Frames(window);
    for (int quiet = 0, i = 0; quiet < 3 && i < 100; ++i) {
        Sleep(200);
        const uint64_t now = Frames(window);
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orv_frame_profile PATH\\orvellane.exe [FRAMES]\n");
        return 1;
    }
    const std::wstring exe = argv[1];
    const int frames = argc > 2 ? std::max(1, _wtoi(argv[2])) : 40;
    const std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/"));
    {
        bm::AppDatabase db;
        if (!db.Open(folder + L"\\app_data.db")) return 1;
        if (db.ListProfiles().empty()) {
            const int64_t id = db.CreateProfile(L"Profile");
            for (int i = 0; i < 5; ++i) db.CreateSnapshot(id, L"Snapshot " + std::to_wstring(i));
            db.SetBrowserConfig(L"chrome", id, L"");
            db.SetDefaultProfileId(id);
        }
    }

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &info))
        return 1;
    HWND window = nullptr;
    for (int i = 0; i < 300 && !window; ++i) {
        Sleep(100);
        window = FindProgramWindow(info.dwProcessId);
    }
    if (!window) return 1;
    WaitQuiet(window);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = helpers::ReceiveProbeAnswer;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvellaneFrameProfile";
    RegisterClassW(&wc);
    HWND receiver = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);

    std::map<std::string, std::vector<double>> parts;
    for (int i = 0; i < frames; ++i) {
        const uint64_t before = Frames(window);
        PostMessageW(window, bm::ui::kWakeMessage, 0, 0);
        for (int wait = 0; wait < 400 && Frames(window) == before; ++wait) Sleep(5);
        helpers::g_probeAnswer.clear();
        SendMessageTimeoutW(window, bm::ui::kProbeMessage, reinterpret_cast<WPARAM>(receiver), 0, SMTO_NORMAL, 10000, nullptr);
        const nlohmann::json state = nlohmann::json::parse(helpers::g_probeAnswer, nullptr, false);
        if (state.is_discarded() || !state.contains("frameMs")) return 1;
        for (const auto& [part, ms] : state["frameMs"].items()) parts[part].push_back(ms.get<double>());
    }

    std::printf("%-14s %10s\n", "part", "median ms");
    for (auto& [part, times] : parts) {
        std::sort(times.begin(), times.end());
        std::printf("%-14s %10.3f\n", part.c_str(), times[times.size() / 2]);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}
