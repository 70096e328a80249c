// The two looks: the themed sizes and colours, the colours left to the library, and the palette.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "app/theme.h"
#include "tests/app/ui_driver.h"

namespace {

using bm::ui::ApplyTheme;

const ImGuiCol kThemedSlots[] = {
    ImGuiCol_Text, ImGuiCol_TextDisabled, ImGuiCol_WindowBg, ImGuiCol_ChildBg, ImGuiCol_PopupBg, ImGuiCol_Border,
    ImGuiCol_FrameBg, ImGuiCol_FrameBgHovered, ImGuiCol_FrameBgActive, ImGuiCol_TitleBg, ImGuiCol_TitleBgActive,
    ImGuiCol_MenuBarBg, ImGuiCol_ScrollbarBg, ImGuiCol_ScrollbarGrab, ImGuiCol_ScrollbarGrabHovered,
    ImGuiCol_ScrollbarGrabActive, ImGuiCol_CheckMark, ImGuiCol_SliderGrab, ImGuiCol_SliderGrabActive,
    ImGuiCol_Button, ImGuiCol_ButtonHovered, ImGuiCol_ButtonActive, ImGuiCol_Header, ImGuiCol_HeaderHovered,
    ImGuiCol_HeaderActive, ImGuiCol_Separator, ImGuiCol_ResizeGrip, ImGuiCol_ResizeGripHovered,
    ImGuiCol_ResizeGripActive, ImGuiCol_TabHovered, ImGuiCol_Tab, ImGuiCol_TabSelected,
    ImGuiCol_TabSelectedOverline, ImGuiCol_PlotLines, ImGuiCol_PlotHistogram, ImGuiCol_TableHeaderBg,
    ImGuiCol_TableBorderStrong, ImGuiCol_TableBorderLight, ImGuiCol_TableRowBg, ImGuiCol_TableRowBgAlt,
    ImGuiCol_TextSelectedBg, ImGuiCol_NavCursor,
};

bool Themed(int slot) { return std::find(std::begin(kThemedSlots), std::end(kThemedSlots), slot) != std::end(kThemedSlots); }

void ExpectColor(const ImVec4& actual, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(actual.x, r);
    EXPECT_FLOAT_EQ(actual.y, g);
    EXPECT_FLOAT_EQ(actual.z, b);
    EXPECT_FLOAT_EQ(actual.w, a);
}

bool Same(const ImVec4& a, const ImVec4& b) { return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w; }

class ThemeTest : public ::testing::Test {
protected:
    void TearDown() override { bm::ui::g_theme = 0; }
    bm::test::UiDriver ui;  // a fresh context with the library's own style
};

TEST_F(ThemeTest, ListsFortyTwoColours) {
    // Every slot starts at a value no look uses: the slots a look writes are exactly the listed 42.
    const ImVec4 untouched(-1, -1, -1, -1);
    for (int theme : {0, 1}) {
        SCOPED_TRACE(theme);
        ImVec4* c = ImGui::GetStyle().Colors;
        for (int slot = 0; slot < ImGuiCol_COUNT; ++slot) c[slot] = untouched;
        ApplyTheme(theme);
        int written = 0;
        for (int slot = 0; slot < ImGuiCol_COUNT; ++slot) {
            const bool changed = !Same(c[slot], untouched);
            written += changed ? 1 : 0;
            EXPECT_EQ(changed, Themed(slot)) << ImGui::GetStyleColorName(slot);
        }
        EXPECT_EQ(written, 42);
    }
}

TEST_F(ThemeTest, SetsTheSizesOfBothLooks) {
    for (int theme : {0, 1}) {
        SCOPED_TRACE(theme);
        ApplyTheme(theme);
        const ImGuiStyle& s = ImGui::GetStyle();
        EXPECT_EQ(s.WindowPadding.x, 14);
        EXPECT_EQ(s.WindowPadding.y, 14);
        EXPECT_EQ(s.WindowRounding, 10);
        EXPECT_EQ(s.WindowBorderSize, 0);
        EXPECT_EQ(s.ChildRounding, 8);
        EXPECT_EQ(s.PopupRounding, 8);
        EXPECT_EQ(s.PopupBorderSize, 1);
        EXPECT_EQ(s.FramePadding.x, 10);
        EXPECT_EQ(s.FramePadding.y, 6);
        EXPECT_EQ(s.FrameRounding, 6);
        EXPECT_EQ(s.FrameBorderSize, 1);
        EXPECT_EQ(s.ItemSpacing.x, 10);
        EXPECT_EQ(s.ItemSpacing.y, 8);
        EXPECT_EQ(s.ItemInnerSpacing.x, 8);
        EXPECT_EQ(s.ItemInnerSpacing.y, 6);
        EXPECT_EQ(s.IndentSpacing, 18);
        EXPECT_EQ(s.ScrollbarSize, 14);
        EXPECT_EQ(s.ScrollbarRounding, 8);
        EXPECT_EQ(s.GrabMinSize, 10);
        EXPECT_EQ(s.GrabRounding, 6);
        EXPECT_EQ(s.TabRounding, 6);
        EXPECT_EQ(s.TabBorderSize, 0);
    }
}

TEST_F(ThemeTest, ColoursOfEachLook) {
    const ImVec4* c = ImGui::GetStyle().Colors;
    ApplyTheme(0);
    ExpectColor(c[ImGuiCol_Text], 0.92f, 0.93f, 0.96f, 1);
    ExpectColor(c[ImGuiCol_PopupBg], 0.08f, 0.09f, 0.13f, 1.0f);
    ExpectColor(c[ImGuiCol_Border], 0.20f, 0.22f, 0.28f, 0.60f);
    ExpectColor(c[ImGuiCol_PlotHistogram], 1, 0.82f, 0, 1);
    ExpectColor(c[ImGuiCol_TableRowBgAlt], 1, 1, 1, 0.02f);
    ExpectColor(c[ImGuiCol_TextSelectedBg], 0.16f, 0.47f, 1, 0.35f);
    ExpectColor(c[ImGuiCol_NavCursor], 0.90f, 0.20f, 0.20f, 1);
    ApplyTheme(1);
    ExpectColor(c[ImGuiCol_Text], 0.10f, 0.11f, 0.14f, 1);
    ExpectColor(c[ImGuiCol_ChildBg], 1, 1, 1, 1);
    ExpectColor(c[ImGuiCol_Border], 0.82f, 0.83f, 0.87f, 1);
    ExpectColor(c[ImGuiCol_PlotHistogram], 0.85f, 0.65f, 0, 1);
    ExpectColor(c[ImGuiCol_TableRowBgAlt], 0, 0, 0, 0.02f);
    ExpectColor(c[ImGuiCol_TextSelectedBg], 0.16f, 0.47f, 1, 0.25f);
    ExpectColor(c[ImGuiCol_TabSelected], 0.85f, 0.89f, 0.98f, 1);
}

TEST_F(ThemeTest, UnlistedColoursKeepTheLibraryDefaultInBothLooks) {
    ImGuiStyle defaults;
    ImGui::StyleColorsDark(&defaults);
    const ImVec4* c = ImGui::GetStyle().Colors;
    for (int theme : {1, 0, 1}) {
        ApplyTheme(theme);
        for (int slot = 0; slot < ImGuiCol_COUNT; ++slot) {
            if (Themed(slot)) continue;
            EXPECT_TRUE(Same(c[slot], defaults.Colors[slot])) << ImGui::GetStyleColorName(slot) << " in look " << theme;
        }
    }
}

TEST_F(ThemeTest, SwitchingBackRestoresTheDarkLookExactly) {
    ApplyTheme(0);
    ImGuiStyle dark = ImGui::GetStyle();
    ApplyTheme(1);
    int changed = 0;
    for (ImGuiCol slot : kThemedSlots) changed += Same(ImGui::GetStyle().Colors[slot], dark.Colors[slot]) ? 0 : 1;
    EXPECT_GT(changed, 20);  // most themed colours differ between the looks
    ApplyTheme(0);
    for (int slot = 0; slot < ImGuiCol_COUNT; ++slot)
        EXPECT_TRUE(Same(ImGui::GetStyle().Colors[slot], dark.Colors[slot])) << ImGui::GetStyleColorName(slot);
}

TEST_F(ThemeTest, PaletteFollowsTheLookInForceAtTheCall) {
    ApplyTheme(0);
    ExpectColor(bm::ui::AccentColor(), 0.16f, 0.47f, 1, 1);
    ExpectColor(bm::ui::WarningColor(), 1, 0.82f, 0, 1);
    ExpectColor(bm::ui::CautionColor(), 1, 0.55f, 0.15f, 1);
    ApplyTheme(1);
    EXPECT_EQ(bm::ui::g_theme, 1);
    ExpectColor(bm::ui::AccentColor(), 0.08f, 0.32f, 0.78f, 1);
    ExpectColor(bm::ui::TealColor(), 0.08f, 0.42f, 0.52f, 1);
    ExpectColor(bm::ui::GreenTitleColor(), 0.08f, 0.48f, 0.22f, 1);
    ExpectColor(bm::ui::DangerColor(), 0.72f, 0.12f, 0.12f, 1);
    ExpectColor(bm::ui::WarningColor(), 0.62f, 0.42f, 0, 1);
    ExpectColor(bm::ui::TextColor(), 0.16f, 0.17f, 0.20f, 1);
    ExpectColor(bm::ui::ErrorColor(), 0.78f, 0.14f, 0.14f, 1);
    ExpectColor(bm::ui::SuccessColor(), 0.06f, 0.48f, 0.20f, 1);
    ExpectColor(bm::ui::MutedColor(), 0.36f, 0.38f, 0.42f, 1);
    ExpectColor(bm::ui::CautionColor(), 0.72f, 0.38f, 0, 1);
    // Any value other than 1 reads as dark.
    bm::ui::g_theme = 2;
    ExpectColor(bm::ui::ErrorColor(), 0.95f, 0.35f, 0.35f, 1);
}

}  // namespace
