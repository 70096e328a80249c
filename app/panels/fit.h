#pragma once
// What the panels share. Keeping rows inside a narrow panel: the width a widget will take, a
// SameLine that only joins the line when the widget fits, text cut with an ellipsis, and wrapped
// hints (the left column can be as narrow as 320 pixels under the largest font, so nothing may
// assume one line holds a row). Also the combos over names, the index clamp, the fixed text fields
// and the text of a caught failure.

#include <imgui.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

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

// Lowers an index to the last position of a non-empty list (and raises a negative one to 0).
inline void ClampIndex(int32_t& index, size_t count) {
    if (count == 0) return;
    index = std::clamp(index, 0, static_cast<int32_t>(count) - 1);
}

// A dialog about to open is centred in the window each time it appears (its size is known only
// after its first frames, so the pivot places it by its middle).
inline void CenterNextDialog() {
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
}

// A selection that names no entry yet: its combo asks the user to choose, and its action waits.
inline constexpr int32_t kNoChoice = -1;

// True when `index` names an entry of a list of `count`.
inline bool NamesEntry(int32_t index, size_t count) { return index >= 0 && index < static_cast<int32_t>(count); }

// As ClampIndex, but a selection of no entry (any negative index) stays kNoChoice.
inline void ClampChoice(int32_t& index, size_t count) {
    if (index < 0) {
        index = kNoChoice;
        return;
    }
    if (count > 0 && index >= static_cast<int32_t>(count)) index = static_cast<int32_t>(count) - 1;
}

// A choice between a browser (kind 0) and a saved profile (kind 1) keeps one choice per kind: a
// switch of kind puts the shown choice aside and brings back the one the other kind had, so that no
// position of one list is ever read as a position of the other.
inline bool SwitchKind(int32_t& kind, int32_t& index, int32_t& otherKindIndex, int32_t newKind) {
    if (kind == newKind) return false;
    kind = newKind;
    std::swap(index, otherKindIndex);
    return true;
}

// A combo over UTF-8 names; true when an entry was picked (even the one already chosen). An index
// outside the list previews `placeholder`.
inline bool NameCombo(const char* id, const std::vector<std::string>& names, int32_t& index,
                      const char* placeholder = "") {
    bool picked = false;
    const bool inList = NamesEntry(index, names.size());
    if (ImGui::BeginCombo(id, inList ? names[static_cast<size_t>(index)].c_str() : placeholder)) {
        for (size_t i = 0; i < names.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            const bool selected = static_cast<int32_t>(i) == index;
            if (ImGui::Selectable(names[i].c_str(), selected)) {
                index = static_cast<int32_t>(i);
                picked = true;
            }
            if (selected) ImGui::SetItemDefaultFocus();
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    return picked;
}

// Copies `text` into a fixed field, cut to what fits but never inside a UTF-8 sequence, so the
// field always holds whole characters.
template <size_t N>
void CopyIntoField(char (&field)[N], const std::string& text) {
    size_t length = std::min(text.size(), N - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// The text of a caught failure, for a log line.
inline std::wstring ErrorText(const std::exception& error) { return ToWide(error.what()); }

}  // namespace bm::ui
