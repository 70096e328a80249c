// One frame: the fixed layout of the whole interface in one full-window Dear ImGui window.
#include "app/app.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_win32.h>

#include <algorithm>
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

}  // namespace

void App::RenderFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    DrawFrame();
    ImGui::Render();

    RECT client = {};
    GetClientRect(hwnd, &client);
    glViewport(0, 0, client.right - client.left, client.bottom - client.top);
    glClearColor(0.05f, 0.06f, 0.08f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SwapBuffers(hdc);

    ++framesDrawn;
    SetPropW(hwnd, kFramesDrawnProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(framesDrawn)));
}

void App::DrawFrame() {
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

    DrawMenuBar();

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
    DrawDashboard();
    ImGui::Separator();
    DrawActionHub();
    ImGui::Separator();
    DrawBackupsPanel();
    ImGui::Separator();
    DrawImportExport();
    ImGui::EndChild();

    ImGui::SameLine(0, 0);
    if (Splitter("##vsplit", true, kSplitterThickness, body.y, &leftPaneWidth, leftMin, leftMax))
        redrawPending = true;

    ImGui::SameLine(0, 0);
    ImGui::BeginChild("##rightcol", ImVec2(0, body.y), ImGuiChildFlags_Borders, 0);
    DrawBookmarkExplorer();
    ImGui::EndChild();
    ImGui::EndChild();  // ##body

    if (Splitter("##hsplit", false, kSplitterThickness, ImGui::GetContentRegionAvail().x, &consoleHeight,
                 kMinConsoleHeight, consoleMax))
        redrawPending = true;

    DrawConsoleLog();

    ImGui::EndChild();  // ##contentPad
    ImGui::PopStyleVar();

    DrawCloseBrowsersDialog();

    ImGui::End();
    if (font) ImGui::PopFont();
}

}  // namespace bm::ui
