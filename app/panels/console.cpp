// CONSOLE LOG: the log at the bottom of the window, each line coloured by its outcome marker.
#include "app/app.h"

#include <imgui.h>

#include <mutex>

#include "app/theme.h"

namespace bm::ui {

namespace {

// The first marker found decides; an error wins over anything else the line holds.
ImVec4 LogLineColor(const std::wstring& line) {
    auto has = [&line](const wchar_t* marker) { return line.find(marker) != std::wstring::npos; };
    if (has(L"[ERROR]") || has(L"aborted")) return ErrorColor();
    if (has(L"[LOCKED]") || has(L"[SKIP]") || has(L"[WARN]")) return WarningColor();
    if (has(L"[OK]")) return SuccessColor();
    return TextColor();
}

}  // namespace

void App::DrawConsoleLog() {
    ImGui::TextColored(WarningColor(), "CONSOLE LOG");
    ImGui::SameLine();
    ImGui::TextDisabled("Backups, records transferred, success/error messages");

    ImGui::BeginChild("##consoleScroll", ImVec2(0, 0), ImGuiChildFlags_Borders);
    {
        // Held until the scroll position is settled, so the worker's new lines wait for this frame.
        std::lock_guard<std::mutex> lock(logMutex);
        // Wrapped at the panel's width: a long message is read whole, not cut at the edge.
        ImGui::PushTextWrapPos(0.0f);
        for (const std::wstring& line : logLines) ImGui::TextColored(LogLineColor(line), "%s", ToUtf8(line).c_str());
        ImGui::PopTextWrapPos();
        // Follow new lines only while the view is at the bottom; a user who scrolled up stays put.
        if (ImGui::GetScrollY() >= ImGui::GetScrollMaxY() - 4.0f) ImGui::SetScrollHereY(1.0f);
    }
    ImGui::EndChild();
}

}  // namespace bm::ui
