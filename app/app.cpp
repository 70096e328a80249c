// The App's life: construction, start-up, fonts, and the orderly release of everything it made.
#include "app/app.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_win32.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "app/theme.h"
#include "app/imgui_item_hooks.h"
#include "core/bookmark_record.h"
#include "core/file_backup.h"
#include "core/file_io.h"
#include "core/sqlite_file_copy.h"

namespace bm::ui {

App* g_app = nullptr;

namespace {

void ShowStartupError(const wchar_t* text) { MessageBoxW(nullptr, text, L"Orvellane", MB_ICONERROR); }

std::wstring FontsFolder() {
    wchar_t windowsDir[260] = {};
    const UINT length = GetWindowsDirectoryW(windowsDir, 260);
    if (length == 0 || length >= 260) return {};
    return std::wstring(windowsDir, length) + L"\\Fonts\\";
}

// The first of `names` present in the Windows Fonts folder, as UTF-8; empty when none is.
std::string FindFont(const std::wstring& folder, const std::vector<const wchar_t*>& names) {
    if (folder.empty()) return {};
    for (const wchar_t* name : names) {
        const std::wstring path = folder + name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return ToUtf8(path);
    }
    return {};
}

// The whole file, or an empty buffer when it cannot be read.
std::shared_ptr<std::vector<char>> ReadFontFile(const std::string& utf8Path) {
    auto data = std::make_shared<std::vector<char>>();
    std::string bytes;
    if (!ReadFileBytes(ToWide(utf8Path), bytes) || bytes.empty()) return data;
    data->assign(bytes.begin(), bytes.end());
    return data;
}

}  // namespace

const std::vector<std::vector<const wchar_t*>>& FallbackFontGroups() {
    // One font of each group is merged, the first present; earlier groups win for a shared code
    // point (Japanese before Chinese for the unified Han characters).
    static const std::vector<std::vector<const wchar_t*>> groups = {
        {L"YuGothM.ttc", L"YuGothR.ttc", L"meiryo.ttc", L"msgothic.ttc"},  // Japanese
        {L"msyh.ttc", L"msyh.ttf", L"simsun.ttc"},                         // Chinese
        {L"malgun.ttf", L"gulim.ttc"},                                     // Korean
        {L"seguisym.ttf"},                                                 // symbols
        {L"seguiemj.ttf"},                                                 // emoji (outlines)
    };
    return groups;
}

std::wstring DatabasePathFor(const std::wstring& exePath) {
    const size_t slash = exePath.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : exePath.substr(0, slash);
    return folder + L"\\app_data.db";
}

float FontScaleForDpi(unsigned dpi) {
    const float scale = static_cast<float>(dpi) / 96.0f;
    return scale < 0.75f ? 1.0f : scale;
}

App::App() = default;

App::~App() {
    // The guarded steps of Shutdown; each finds nothing to do after a completed Shutdown.
    Shutdown();
}

std::wstring DatabaseFailureMessage(const std::wstring& reason) {
    std::wstring text = L"Failed to open or create app_data.db next to the executable.";
    if (!reason.empty()) text += L"\n\n" + reason;
    return text;
}

bool App::OpenDatabase(const std::wstring& path, std::wstring* error) {
    dbOpen = false;
    if (!db.Open(path, error)) return false;
    dbOpen = true;
    return true;
}

bool App::OpenDatabaseAtStart(const std::wstring& path) {
    // A schema failure ends the start like a failed open.
    std::wstring reason;
    bool opened = false;
    // The check of the file ends after the window is up: the next frame notes what it found.
    db.SetFileCheckedCallback([this] {
        if (HWND window = hwnd) PostMessageW(window, kWakeMessage, 0, 0);
    });
    try {
        opened = OpenDatabase(path, &reason);
    } catch (const std::exception& failure) {
        reason = ToWide(failure.what());
    }
    if (opened) {
        if (db.ReadOnly()) Log(ReadOnlyDatabaseMessage());
        return true;
    }
    if (db.Trouble() != DatabaseTrouble::None) {
        // Damaged, locked, unreadable: the browsers need no database.
        GoOnWithoutDatabase();
        return true;
    }
    ShowStartupError(DatabaseFailureMessage(reason).c_str());
    return false;
}

bool App::Init(HINSTANCE instance) {
    g_app = this;

    // The database beside the executable.
    if (!OpenDatabaseAtStart(DatabasePathFor(ExecutablePath()))) return false;

    LoadSettings();
    RemoveLeftoverDatabaseCopies();  // private copies of a browser's history that an ended run left behind

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_OWNDC | CS_CLASSDC;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClassName;
    RegisterClassExW(&wc);

    int x = 100, y = 60, width = 1360, height = 860;
    if (hasSavedPlacement) {
        const RECT& r = savedPlacement.rcNormalPosition;
        x = r.left;
        y = r.top;
        width = std::max<int>(r.right - r.left, 980);
        height = std::max<int>(r.bottom - r.top, 640);
    }
    hwnd = CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                           nullptr, instance, nullptr);
    if (!hwnd) return false;
    // The counts of the backups panel arrive from their own thread; each one redraws the window.
    backupCounts.SetOnCounted([window = hwnd] { PostMessageW(window, kWakeMessage, 0, 0); });
    explorerLoader.SetOnProgress([window = hwnd] { PostMessageW(window, kWakeMessage, 0, 0); });
    // Shown before the GL context exists, on a first start as with a saved place: under Wine a
    // window mapped after its first frames can stay black until the next frame, which only input
    // would bring.
    if (hasSavedPlacement) {
        WINDOWPLACEMENT placement = savedPlacement;
        placement.length = sizeof(placement);
        SetWindowPlacement(hwnd, &placement);
    } else {
        ShowWindow(hwnd, SW_SHOWDEFAULT);
    }

    hdc = GetDC(hwnd);
    PIXELFORMATDESCRIPTOR pfd = {};
    pfd.nSize = sizeof(pfd);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.cDepthBits = 24;
    pfd.cStencilBits = 8;
    pfd.iLayerType = PFD_MAIN_PLANE;
    const int format = hdc ? ChoosePixelFormat(hdc, &pfd) : 0;
    bool glReady = format != 0 && SetPixelFormat(hdc, format, &pfd);
    if (glReady) hglrc = wglCreateContext(hdc);
    glReady = glReady && hglrc && wglMakeCurrent(hdc, hglrc);
    if (!glReady) {
        TeardownGL();
        UnregisterClassW(kWindowClassName, instance);
        return false;
    }

    IMGUI_CHECKVERSION();
    imguiContext = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.IniFilename = nullptr;
    // Frames are drawn only when something happens, so a blinking caret would freeze at whatever
    // phase the last frame caught it in.
    io.ConfigInputTextCursorBlink = false;
    // Ids are unique by construction (the tests check it); the library's red debug box is not for users.
    io.ConfigDebugHighlightIdConflicts = false;

    LoadFonts();
    ImGui_ImplWin32_Init(hwnd);
    ImGui_ImplOpenGL3_Init("#version 130");
    ApplyTheme(lightTheme);

    UpdateWindow(hwnd);

    RedetectBrowsers();
    // Private copies of a browser's history that backups cut short left beside its file.
    for (const BrowserInfo& browser : browsers)
        if (browser.detected) RemoveLeftoverBackupCopies(browser.bookmarksPath);
    RefreshProfiles();
    LoadUiState();
    startupComplete = true;

    Log(L"Orvellane started. Detected " + std::to_wstring(browsers.size()) + L" known browser slot(s).");
    return true;
}

void App::LoadFonts() {
    const float scale = hwnd ? FontScaleForDpi(GetDpiForWindow(hwnd)) : 1.0f;
    const std::wstring folder = FontsFolder();
    const std::string path = FindFont(folder, {L"segoeui.ttf", L"calibri.ttf", L"arial.ttf"});

    // Fallbacks for the scripts the main font lacks. Each file is read once and shared by the four
    // sizes; the atlas loads glyphs from it only when a text needs them.
    fallbackFontData.clear();
    for (const std::vector<const wchar_t*>& group : FallbackFontGroups()) {
        const std::string fallback = FindFont(folder, group);
        if (fallback.empty()) continue;
        auto data = ReadFontFile(fallback);
        if (!data->empty()) fallbackFontData.push_back(std::move(data));
    }

    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    const float sizes[4] = {15.0f, 17.0f, 20.0f, 24.0f};
    for (int i = 0; i < 4; ++i) {
        ImFontConfig config;
        config.OversampleH = 2;
        config.OversampleV = 1;
        config.RasterizerMultiply = 1.08f;
        config.SizePixels = sizes[i] * scale;
        std::snprintf(config.Name, sizeof(config.Name), "UI %.0f", config.SizePixels);
        ImFont* font = nullptr;
        // No glyph ranges: every glyph of the file may be used (titles come in any script).
        if (!path.empty()) font = atlas->AddFontFromFileTTF(path.c_str(), config.SizePixels, &config, nullptr);
        if (!font) font = atlas->AddFontDefault(&config);
        for (const auto& data : fallbackFontData) {
            ImFontConfig merge;
            merge.MergeMode = true;
            merge.DstFont = font;
            merge.FontDataOwnedByAtlas = false;  // shared by the sizes; kept alive by fallbackFontData
            merge.OversampleH = 1;
            merge.OversampleV = 1;
            merge.SizePixels = config.SizePixels;
            std::snprintf(merge.Name, sizeof(merge.Name), "Fallback %.0f", config.SizePixels);
            atlas->AddFontFromMemoryTTF(data->data(), static_cast<int>(data->size()), config.SizePixels, &merge, nullptr);
        }
        fonts[i] = font;
    }
}

void App::TeardownGL() {
    if (hglrc) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(hglrc);
        hglrc = nullptr;
    }
    if (hdc && hwnd) {
        ReleaseDC(hwnd, hdc);
        hdc = nullptr;
    }
}

void App::Shutdown() {
    // Only a successful start saves: after a failed one the lists are empty and would overwrite
    // the stored selections.
    if (startupComplete && hwnd && dbOpen) SaveSettings();

    // A running job is not cancelled: its last steps still use the database, the log and the window.
    if (worker.joinable()) worker.join();
    // A backup being counted is read to its end; the rest of the queue is dropped.
    backupCounts.Stop();
    explorerLoader.Stop();  // it reads through the database, which closes below

    if (probeItems) {
        SetItemHookSink(nullptr);
        probeItems.reset();
    }

    if (imguiContext) {
        ImGui::SetCurrentContext(imguiContext);
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplWin32_Shutdown();
        ImGui::DestroyContext(imguiContext);
        imguiContext = nullptr;
    }

    TeardownGL();

    if (hwnd) {
        HWND window = hwnd;
        DestroyWindow(window);  // WM_DESTROY posts the quit message; WndProc still reaches the App here
        hwnd = nullptr;
    }

    db.Close();
    dbOpen = false;
    startupComplete = false;

    if (g_app == this) g_app = nullptr;
}

}  // namespace bm::ui
