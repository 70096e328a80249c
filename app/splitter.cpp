#include "app/splitter.h"

#include <imgui.h>

#include <algorithm>

namespace bm::ui {

bool Splitter(const char* id, bool vertical, float thickness, float length, float* value, float minValue,
              float maxValue) {
    ImGui::PushID(id);
    ImGui::InvisibleButton("##split", vertical ? ImVec2(thickness, length) : ImVec2(length, thickness));
    const bool hovered = ImGui::IsItemHovered();
    const bool active = ImGui::IsItemActive();
    if (hovered || active) ImGui::SetMouseCursor(vertical ? ImGuiMouseCursor_ResizeEW : ImGuiMouseCursor_ResizeNS);

    if (active) {
        const ImVec2 delta = ImGui::GetIO().MouseDelta;
        const float moved = *value + (vertical ? delta.x : -delta.y);
        *value = std::min(std::max(moved, minValue), maxValue);
    }

    const ImGuiCol color = active ? ImGuiCol_SeparatorActive : hovered ? ImGuiCol_SeparatorHovered : ImGuiCol_Separator;
    ImGui::GetWindowDrawList()->AddRectFilled(ImGui::GetItemRectMin(), ImGui::GetItemRectMax(),
                                              ImGui::GetColorU32(color, 1.0f), 0.0f);
    ImGui::PopID();
    return active;
}

}  // namespace bm::ui
