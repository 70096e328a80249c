#pragma once
// What a frame shows beyond the items the UI driver records: the text it draws (through Dear
// ImGui's own text log, which also sees text outside the visible area) and the colours of what a
// window drew, for the tests of the panels that mostly draw plain text.

#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/ui_driver.h"

namespace bm::test {

// Draws one frame of `draw` and returns every text it rendered, one line per row on the screen
// without the indentation (the cells of a table row are "| a | b |"). Tree nodes keep their state: nothing is opened for the log.
inline std::string FrameText(UiDriver& ui, const std::function<void()>& draw) {
    std::string text;
    ui.SetDraw([&] {
        ImGui::LogToBuffer(0);
        draw();
        text = GImGui->LogBuffer.c_str();
        ImGui::LogFinish();
    });
    ui.Frame();
    ui.SetDraw(draw);
    return text;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t first = line.find_first_not_of(" \r");
        const size_t last = line.find_last_not_of(" \r");
        lines.push_back(first == std::string::npos ? "" : line.substr(first, last - first + 1));
    }
    return lines;
}

// The first line holding `needle`, or "" when none does.
inline std::string LineWith(const std::string& text, const std::string& needle) {
    for (const std::string& line : Lines(text))
        if (line.find(needle) != std::string::npos) return line;
    return "";
}

// The window of the last frame whose name holds `part` ("##consoleScroll" finds the child region).
inline ImGuiWindow* WindowNamed(const std::string& part) {
    for (ImGuiWindow* window : GImGui->Windows)
        if (window->Active && std::string(window->Name).find(part) != std::string::npos) return window;
    return nullptr;
}

// The packed colours of the vertices a window drew in the last frame whose top lies between y0
// and y1 (screen coordinates).
inline std::set<ImU32> ColoursDrawn(const ImGuiWindow* window, float y0 = -1e9f, float y1 = 1e9f) {
    std::set<ImU32> colours;
    if (!window) return colours;
    for (const ImDrawVert& vertex : window->DrawList->VtxBuffer)
        if (vertex.pos.y >= y0 && vertex.pos.y <= y1) colours.insert(vertex.col);
    return colours;
}

inline ImU32 Packed(const ImVec4& colour) { return ImGui::ColorConvertFloat4ToU32(colour); }

}  // namespace bm::test
