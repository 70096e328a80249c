// One frame: the fixed layout of the whole interface in one full-window Dear ImGui window.
#include "app/app.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_win32.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/panels/fit.h"
#include "app/splitter.h"

namespace bm::ui {

namespace {

constexpr float kSplitterThickness = 6.0f;
constexpr float kMinConsoleHeight = 90.0f;
constexpr float kBodyRoomAboveConsole = 280.0f;
constexpr float kMinColumnWidth = 320.0f;
constexpr float kFirstLeftShare = 0.42f;

// The left column never gets narrower than its widest widget that cannot wrap (the action hub's
// replace radio button) at the font in force, so a large font cannot push it out of reach.
float LeftColumnMinWidth() {
    const ImGuiStyle& style = ImGui::GetStyle();
    const float widest = RadioWidth("Replace (Delete Existing First)##mode");
    return std::max(kMinColumnWidth, std::ceil(widest + 2 * style.WindowPadding.x + style.ScrollbarSize + 2));
}

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Stores the time `draw` took in `total`.
template <typename Draw>
void Timed(double& total, Draw&& draw) {
    const Clock::time_point start = Clock::now();
    draw();
    total = MsSince(start);
}

}  // namespace

void App::RenderFrame() {
    const Clock::time_point frameStart = Clock::now();
    ProbeFrameBegin();
    Timed(frameTimings.newFrame, [] {
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplWin32_NewFrame();
        ImGui::NewFrame();
    });
    DrawFrame();
    Timed(frameTimings.render, [] { ImGui::Render(); });
    ProbeFrameEnd();

    Timed(frameTimings.gl, [this] {
        RECT client = {};
        GetClientRect(hwnd, &client);
        glViewport(0, 0, client.right - client.left, client.bottom - client.top);
        glClearColor(0.05f, 0.06f, 0.08f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    });
    Timed(frameTimings.swap, [this] { SwapBuffers(hdc); });
    frameTimings.total = MsSince(frameStart);

    ++framesDrawn;
    SetPropW(hwnd, kFramesDrawnProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(framesDrawn)));
}

void App::DrawFrame() {
    NoteDatabaseCheck();
    ImFont* font = fonts[std::clamp(fontSizeIndex, 0, 3)];
    if (font) ImGui::PushFont(font, font->LegacySize);

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos, ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(viewport->WorkSize, ImGuiCond_Always);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    const ImGuiWindowFlags rootFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                       ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                                       ImGuiWindowFlags_MenuBar | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                       ImGuiWindowFlags_NoNavFocus;
    ImGui::Begin("##root", nullptr, rootFlags);
    ImGui::PopStyleVar();

    Timed(frameTimings.menuBar, [this] { DrawMenuBar(); });

    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(12, 10));
    ImGui::BeginChild("##contentPad", ImVec2(0, 0), ImGuiChildFlags_AlwaysUseWindowPadding, 0);

    const ImVec2 available = ImGui::GetContentRegionAvail();
    const float consoleMax = std::max(available.y - kBodyRoomAboveConsole - kSplitterThickness, kMinConsoleHeight);
    consoleHeight = std::clamp(consoleHeight, kMinConsoleHeight, consoleMax);

    ImGui::BeginChild("##body", ImVec2(0, available.y - consoleHeight - kSplitterThickness), 0, 0);
    const ImVec2 body = ImGui::GetContentRegionAvail();
    if (!leftPaneWidthValid || leftPaneWidth <= 0.0f) {
        leftPaneWidthValid = true;
        leftPaneWidth = body.x * kFirstLeftShare;
    }
    const float leftMin = LeftColumnMinWidth();
    const float leftMax = std::max(body.x - kMinColumnWidth - kSplitterThickness, leftMin);
    leftPaneWidth = std::clamp(leftPaneWidth, leftMin, leftMax);

    ImGui::BeginChild("##leftcol", ImVec2(leftPaneWidth, body.y), ImGuiChildFlags_Borders, 0);
    Timed(frameTimings.dashboard, [this] { DrawDashboard(); });
    ImGui::Separator();
    Timed(frameTimings.actionHub, [this] { DrawActionHub(); });
    ImGui::Separator();
    Timed(frameTimings.backups, [this] { DrawBackupsPanel(); });
    ImGui::Separator();
    Timed(frameTimings.importExport, [this] { DrawImportExport(); });
    ImGui::EndChild();

    ImGui::SameLine(0, 0);
    if (Splitter("##vsplit", true, kSplitterThickness, body.y, &leftPaneWidth, leftMin, leftMax))
        redrawPending = true;

    ImGui::SameLine(0, 0);
    ImGui::BeginChild("##rightcol", ImVec2(0, body.y), ImGuiChildFlags_Borders, 0);
    Timed(frameTimings.explorer, [this] { DrawBookmarkExplorer(); });
    ImGui::EndChild();
    ImGui::EndChild();  // ##body

    if (Splitter("##hsplit", false, kSplitterThickness, ImGui::GetContentRegionAvail().x, &consoleHeight,
                 kMinConsoleHeight, consoleMax))
        redrawPending = true;

    Timed(frameTimings.console, [this] { DrawConsoleLog(); });

    ImGui::EndChild();  // ##contentPad
    ImGui::PopStyleVar();

    Timed(frameTimings.dialogs, [this] { DrawCloseBrowsersDialog(); });

    ImGui::End();
    if (font) ImGui::PopFont();
}

}  // namespace bm::ui
