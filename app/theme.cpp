#include "app/theme.h"

namespace bm::ui {

int g_theme = 0;

namespace {

struct ThemedColor {
    ImGuiCol slot;
    ImVec4 dark;
    ImVec4 light;
};

const ThemedColor kThemedColors[] = {
    {ImGuiCol_Text, {0.92f, 0.93f, 0.96f, 1.0f}, {0.10f, 0.11f, 0.14f, 1.0f}},
    {ImGuiCol_TextDisabled, {0.55f, 0.57f, 0.62f, 1.0f}, {0.38f, 0.40f, 0.44f, 1.0f}},
    {ImGuiCol_WindowBg, {0.07f, 0.08f, 0.11f, 1.0f}, {0.97f, 0.97f, 0.99f, 1.0f}},
    {ImGuiCol_ChildBg, {0.09f, 0.10f, 0.14f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}},
    // Opaque: menus and popups lie over text that must not show through.
    {ImGuiCol_PopupBg, {0.08f, 0.09f, 0.13f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}},
    {ImGuiCol_Border, {0.20f, 0.22f, 0.28f, 0.60f}, {0.82f, 0.83f, 0.87f, 1.0f}},
    {ImGuiCol_FrameBg, {0.12f, 0.13f, 0.18f, 1.0f}, {0.92f, 0.93f, 0.95f, 1.0f}},
    {ImGuiCol_FrameBgHovered, {0.16f, 0.18f, 0.24f, 1.0f}, {0.87f, 0.90f, 0.98f, 1.0f}},
    {ImGuiCol_FrameBgActive, {0.18f, 0.20f, 0.27f, 1.0f}, {0.82f, 0.87f, 0.98f, 1.0f}},
    {ImGuiCol_TitleBg, {0.06f, 0.07f, 0.10f, 1.0f}, {0.93f, 0.94f, 0.96f, 1.0f}},
    {ImGuiCol_TitleBgActive, {0.08f, 0.09f, 0.13f, 1.0f}, {0.90f, 0.92f, 0.96f, 1.0f}},
    {ImGuiCol_MenuBarBg, {0.08f, 0.09f, 0.13f, 1.0f}, {0.93f, 0.94f, 0.96f, 1.0f}},
    {ImGuiCol_ScrollbarBg, {0.07f, 0.08f, 0.11f, 1.0f}, {0.95f, 0.95f, 0.97f, 1.0f}},
    {ImGuiCol_ScrollbarGrab, {0.24f, 0.26f, 0.33f, 1.0f}, {0.80f, 0.81f, 0.85f, 1.0f}},
    {ImGuiCol_ScrollbarGrabHovered, {0.30f, 0.33f, 0.42f, 1.0f}, {0.70f, 0.72f, 0.78f, 1.0f}},
    {ImGuiCol_ScrollbarGrabActive, {0.36f, 0.40f, 0.50f, 1.0f}, {0.60f, 0.63f, 0.70f, 1.0f}},
    {ImGuiCol_CheckMark, {0.16f, 0.47f, 1.0f, 1.0f}, {0.16f, 0.47f, 1.0f, 1.0f}},
    {ImGuiCol_SliderGrab, {0.16f, 0.47f, 1.0f, 1.0f}, {0.16f, 0.47f, 1.0f, 1.0f}},
    {ImGuiCol_SliderGrabActive, {0.10f, 0.38f, 0.90f, 1.0f}, {0.10f, 0.38f, 0.90f, 1.0f}},
    {ImGuiCol_Button, {0.15f, 0.17f, 0.23f, 1.0f}, {0.90f, 0.91f, 0.95f, 1.0f}},
    {ImGuiCol_ButtonHovered, {0.27f, 0.56f, 1.0f, 1.0f}, {0.27f, 0.56f, 1.0f, 1.0f}},
    {ImGuiCol_ButtonActive, {0.10f, 0.38f, 0.90f, 1.0f}, {0.10f, 0.38f, 0.90f, 1.0f}},
    {ImGuiCol_Header, {0.16f, 0.18f, 0.24f, 1.0f}, {0.88f, 0.90f, 0.96f, 1.0f}},
    {ImGuiCol_HeaderHovered, {0.27f, 0.56f, 1.0f, 1.0f}, {0.27f, 0.56f, 1.0f, 1.0f}},
    {ImGuiCol_HeaderActive, {0.10f, 0.38f, 0.90f, 1.0f}, {0.10f, 0.38f, 0.90f, 1.0f}},
    {ImGuiCol_Separator, {0.20f, 0.22f, 0.28f, 1.0f}, {0.85f, 0.86f, 0.89f, 1.0f}},
    {ImGuiCol_ResizeGrip, {0.16f, 0.47f, 1.0f, 1.0f}, {0.16f, 0.47f, 1.0f, 1.0f}},
    {ImGuiCol_ResizeGripHovered, {0.27f, 0.56f, 1.0f, 1.0f}, {0.27f, 0.56f, 1.0f, 1.0f}},
    {ImGuiCol_ResizeGripActive, {0.10f, 0.38f, 0.90f, 1.0f}, {0.10f, 0.38f, 0.90f, 1.0f}},
    {ImGuiCol_TabHovered, {0.27f, 0.56f, 1.0f, 1.0f}, {0.27f, 0.56f, 1.0f, 1.0f}},
    {ImGuiCol_Tab, {0.10f, 0.11f, 0.16f, 1.0f}, {0.90f, 0.91f, 0.94f, 1.0f}},
    {ImGuiCol_TabSelected, {0.14f, 0.17f, 0.26f, 1.0f}, {0.85f, 0.89f, 0.98f, 1.0f}},
    {ImGuiCol_TabSelectedOverline, {0.16f, 0.47f, 1.0f, 1.0f}, {0.16f, 0.47f, 1.0f, 1.0f}},
    {ImGuiCol_PlotLines, {0.16f, 0.47f, 1.0f, 1.0f}, {0.16f, 0.47f, 1.0f, 1.0f}},
    {ImGuiCol_PlotHistogram, {1.0f, 0.82f, 0.0f, 1.0f}, {0.85f, 0.65f, 0.0f, 1.0f}},
    {ImGuiCol_TableHeaderBg, {0.12f, 0.13f, 0.18f, 1.0f}, {0.90f, 0.91f, 0.94f, 1.0f}},
    {ImGuiCol_TableBorderStrong, {0.22f, 0.24f, 0.30f, 1.0f}, {0.80f, 0.81f, 0.85f, 1.0f}},
    {ImGuiCol_TableBorderLight, {0.16f, 0.18f, 0.23f, 1.0f}, {0.88f, 0.89f, 0.92f, 1.0f}},
    {ImGuiCol_TableRowBg, {0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}},
    {ImGuiCol_TableRowBgAlt, {1.0f, 1.0f, 1.0f, 0.02f}, {0.0f, 0.0f, 0.0f, 0.02f}},
    {ImGuiCol_TextSelectedBg, {0.16f, 0.47f, 1.0f, 0.35f}, {0.16f, 0.47f, 1.0f, 0.25f}},
    {ImGuiCol_NavCursor, {0.90f, 0.20f, 0.20f, 1.0f}, {0.90f, 0.20f, 0.20f, 1.0f}},
};

ImVec4 Pick(float dr, float dg, float db, float lr, float lg, float lb) {
    return g_theme == 1 ? ImVec4(lr, lg, lb, 1.0f) : ImVec4(dr, dg, db, 1.0f);
}

}  // namespace

void ApplyTheme(int theme) {
    g_theme = theme;

    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowPadding = ImVec2(14, 14);
    style.WindowRounding = 10;
    style.WindowBorderSize = 0;
    style.ChildRounding = 8;
    style.PopupRounding = 8;
    style.PopupBorderSize = 1;
    style.FramePadding = ImVec2(10, 6);
    style.FrameRounding = 6;
    style.FrameBorderSize = 1;
    style.ItemSpacing = ImVec2(10, 8);
    style.ItemInnerSpacing = ImVec2(8, 6);
    style.IndentSpacing = 18;
    style.ScrollbarSize = 14;
    style.ScrollbarRounding = 8;
    style.GrabMinSize = 10;
    style.GrabRounding = 6;
    style.TabRounding = 6;
    style.TabBorderSize = 0;

    const bool dark = theme == 0;
    for (const ThemedColor& color : kThemedColors) style.Colors[color.slot] = dark ? color.dark : color.light;
}

ImVec4 AccentColor() { return Pick(0.16f, 0.47f, 1.0f, 0.08f, 0.32f, 0.78f); }
ImVec4 TealColor() { return Pick(0.35f, 0.80f, 0.90f, 0.08f, 0.42f, 0.52f); }
ImVec4 GreenTitleColor() { return Pick(0.35f, 0.80f, 0.45f, 0.08f, 0.48f, 0.22f); }
ImVec4 DangerColor() { return Pick(0.90f, 0.20f, 0.20f, 0.72f, 0.12f, 0.12f); }
ImVec4 WarningColor() { return Pick(1.0f, 0.82f, 0.0f, 0.62f, 0.42f, 0.0f); }
ImVec4 TextColor() { return Pick(0.80f, 0.82f, 0.86f, 0.16f, 0.17f, 0.20f); }
ImVec4 ErrorColor() { return Pick(0.95f, 0.35f, 0.35f, 0.78f, 0.14f, 0.14f); }
ImVec4 SuccessColor() { return Pick(0.25f, 0.75f, 0.35f, 0.06f, 0.48f, 0.20f); }
ImVec4 MutedColor() { return Pick(0.55f, 0.57f, 0.62f, 0.36f, 0.38f, 0.42f); }
ImVec4 CautionColor() { return Pick(1.0f, 0.55f, 0.15f, 0.72f, 0.38f, 0.0f); }

}  // namespace bm::ui
