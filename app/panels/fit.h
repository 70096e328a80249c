#pragma once
// Keeping rows inside a narrow panel: the width a widget will take, a SameLine that only joins the
// line when the widget fits, text cut with an ellipsis, and wrapped hints. The left column can be
// as narrow as 320 pixels under the largest font, so nothing may assume one line holds a row.

#include <imgui.h>

#include <string>

namespace bm::ui {

inline float LabelWidth(const char* label) { return ImGui::CalcTextSize(label, nullptr, true).x; }

inline float ButtonWidth(const char* label) { return LabelWidth(label) + 2 * ImGui::GetStyle().FramePadding.x; }

// SmallButton keeps the horizontal frame padding.
inline float SmallButtonWidth(const char* label) { return ButtonWidth(label); }

inline float RadioWidth(const char* label) {
    const float text = LabelWidth(label);
    return ImGui::GetFrameHeight() + (text > 0 ? ImGui::GetStyle().ItemInnerSpacing.x : 0) + text;
}

// Right edge of the room on the current line (the panel's or the table cell's work area).
inline float LineRight() { return ImGui::GetCursorScreenPos().x + ImGui::GetContentRegionAvail().x; }

// Joins the last item's line when an item of `width` still fits there; else the item starts the
// next line. True when it joined.
inline bool SameLineIfFits(float width) {
    const float right = LineRight();
    if (ImGui::GetItemRectMax().x + ImGui::GetStyle().ItemSpacing.x + width > right) return false;
    ImGui::SameLine();
    return true;
}

// `text` cut at a character boundary with "..." so that it is at most `width` wide.
inline std::string Ellipsized(const std::string& text, float width) {
    if (ImGui::CalcTextSize(text.c_str()).x <= width) return text;
    const float room = width - ImGui::CalcTextSize("...").x;
    size_t length = 0;
    for (size_t next = 0; next < text.size();) {
        size_t end = next + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        if (ImGui::CalcTextSize(text.data(), text.data() + end).x > room) break;
        length = next = end;
    }
    return text.substr(0, length) + "...";
}

// Hints and warnings that wrap at the panel's edge instead of running past it.
inline void WrappedDisabled(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyle().Colors[ImGuiCol_TextDisabled]);
    ImGui::TextWrapped("%s", text);
    ImGui::PopStyleColor();
}
inline void WrappedColored(const ImVec4& colour, const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, colour);
    ImGui::TextWrapped("%s", text);
    ImGui::PopStyleColor();
}

}  // namespace bm::ui
