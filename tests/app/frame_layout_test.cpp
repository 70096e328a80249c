// The frame's layout: first widths, the two splitters and their clamps, drawn through the UI driver.
#include <gtest/gtest.h>

#include "app/app.h"
#include "app/theme.h"
#include "tests/app/ui_driver.h"
#include "tests/support/temp_dir.h"

namespace {

class FrameLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.OpenDatabase(dir / L"app_data.db"));
        bm::ui::ApplyTheme(0);
        ui.SetDraw([this] { app.DrawFrame(); });
    }

    // The vertical and the horizontal splitter bars of the last frame.
    const bm::test::UiItem* Bar(bool vertical) {
        for (const bm::test::UiItem* item : ui.FindAll("##split"))
            if ((item->rect.GetHeight() > item->rect.GetWidth()) == vertical) return item;
        return nullptr;
    }
    // The "##body" child of the last frame (not a child inside it).
    const bm::test::UiItem* Body() {
        for (const bm::test::UiItem& item : ui.items())
            if (item.label.rfind("##root/##contentPad", 0) == 0 &&
                item.label.compare(item.label.find_last_of('/') + 1, 6, "##body") == 0)
                return &item;
        return nullptr;
    }
    // Width of "##body", from the vertical bar and the first width rule.
    float BodyWidth() { return firstLeftWidth / 0.42f; }

    bm::test::TempDir dir;
    bm::test::UiDriver ui{ImVec2(1360, 860)};
    bm::ui::App app;
    float firstLeftWidth = 0;
};

TEST_F(FrameLayoutTest, FirstFrameGivesTheLeftColumnItsShareAndKeepsTheConsole) {
    ui.Frame();
    EXPECT_TRUE(app.leftPaneWidthValid);
    // 1360 wide, 12 px padding each side: the body is 1336 wide.
    EXPECT_NEAR(app.leftPaneWidth, 1336 * 0.42f, 0.5f);
    EXPECT_FLOAT_EQ(app.consoleHeight, 150);
    const bm::test::UiItem* vbar = Bar(true);
    const bm::test::UiItem* hbar = Bar(false);
    ASSERT_NE(vbar, nullptr);
    ASSERT_NE(hbar, nullptr);
    EXPECT_FLOAT_EQ(vbar->rect.GetWidth(), 6);
    EXPECT_FLOAT_EQ(hbar->rect.GetHeight(), 6);
    EXPECT_NEAR(vbar->rect.Min.x, 12 + app.leftPaneWidth, 0.5f);
    EXPECT_NEAR(hbar->rect.GetWidth(), 1336, 0.5f);
}

TEST_F(FrameLayoutTest, VerticalSplitterStopsAtBothColumnMinimums) {
    ui.Frame();
    const float body = 1336;
    ASSERT_TRUE(ui.Drag(*Bar(true), ImVec2(-2000, 0)));
    EXPECT_FLOAT_EQ(app.leftPaneWidth, 320);
    ASSERT_TRUE(ui.Drag(*Bar(true), ImVec2(5000, 0)));
    EXPECT_FLOAT_EQ(app.leftPaneWidth, body - 326);
    ASSERT_TRUE(ui.Drag(*Bar(true), ImVec2(-100, 0)));
    EXPECT_FLOAT_EQ(app.leftPaneWidth, body - 426);
}

TEST_F(FrameLayoutTest, HorizontalSplitterDraggedUpGrowsTheConsoleUpToItsCeiling) {
    ui.Frame();
    const bm::test::UiItem* hbar = Bar(false);
    ASSERT_NE(hbar, nullptr);
    ASSERT_TRUE(ui.Drag(*hbar, ImVec2(0, -40)));
    EXPECT_FLOAT_EQ(app.consoleHeight, 190);
    ASSERT_TRUE(ui.Drag(*Bar(false), ImVec2(0, -5000)));
    // Room of ##contentPad: the viewport minus the menu bar and 2 x 10 padding; 280 + 6 stay above.
    const float ceiling = app.consoleHeight;
    EXPECT_GT(ceiling, 400);
    ASSERT_TRUE(ui.Drag(*Bar(false), ImVec2(0, 5000)));
    EXPECT_FLOAT_EQ(app.consoleHeight, 90);
    // The ceiling leaves exactly 280 + 6 above the console: the body is then 280 high.
    app.consoleHeight = 5000;
    ui.Frame();
    EXPECT_FLOAT_EQ(app.consoleHeight, ceiling);
    const bm::test::UiItem* body = nullptr;
    for (const bm::test::UiItem& item : ui.items())
        if (item.label.rfind("##root/##contentPad", 0) == 0 &&
            item.label.compare(item.label.find_last_of('/') + 1, 6, "##body") == 0)  // not a child inside it
            body = &item;
    ASSERT_NE(body, nullptr);
    EXPECT_FLOAT_EQ(body->rect.GetHeight(), 280);
}

TEST_F(FrameLayoutTest, StoredSizesAreClampedByTheFirstFrame) {
    app.consoleHeight = 2000;
    app.leftPaneWidth = 5000;
    app.leftPaneWidthValid = true;
    ui.Frame();
    // Lowered to its ceiling, not to some smaller height: the body above keeps exactly its 280.
    EXPECT_GT(app.consoleHeight, 400);
    ASSERT_NE(Body(), nullptr);
    EXPECT_FLOAT_EQ(Body()->rect.GetHeight(), 280);
    const float ceiling = app.consoleHeight;
    ASSERT_TRUE(ui.Drag(*Bar(false), ImVec2(0, -5000)));
    EXPECT_FLOAT_EQ(app.consoleHeight, ceiling);
    EXPECT_FLOAT_EQ(app.leftPaneWidth, 1336 - 326);
}

TEST_F(FrameLayoutTest, TooSmallWindowKeepsTheMinimums) {
    ui.SetDisplaySize(ImVec2(500, 300));
    app.leftPaneWidth = 400;
    app.leftPaneWidthValid = true;
    ui.Frame();
    EXPECT_FLOAT_EQ(app.consoleHeight, 90);
    EXPECT_FLOAT_EQ(app.leftPaneWidth, 320);
}

TEST_F(FrameLayoutTest, FontIndexOutsideTheSlotsIsClampedForDrawing) {
    app.LoadFonts();
    for (ImFont* font : app.fonts) ASSERT_NE(font, nullptr);
    app.fontSizeIndex = 9;
    ui.Frame();
    EXPECT_EQ(ImGui::GetIO().Fonts->Fonts.Size, 4);
    app.fontSizeIndex = -3;
    ui.Frame();
    EXPECT_EQ(app.fontSizeIndex, -3);  // only drawing clamps
}

TEST(FontsTest, FourSizesScaledByDpiAndNamedByPixelSize) {
    EXPECT_FLOAT_EQ(bm::ui::FontScaleForDpi(144), 1.5f);
    EXPECT_FLOAT_EQ(bm::ui::FontScaleForDpi(72), 0.75f);
    EXPECT_FLOAT_EQ(bm::ui::FontScaleForDpi(60), 1.0f);
    EXPECT_FLOAT_EQ(bm::ui::FontScaleForDpi(0), 1.0f);

    bm::test::UiDriver ui;
    bm::ui::App app;  // no window: scale 1
    app.LoadFonts();
    const float sizes[4] = {15, 17, 20, 24};
    const char* names[4] = {"UI 15", "UI 17", "UI 20", "UI 24"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(app.fonts[i], nullptr);
        EXPECT_FLOAT_EQ(app.fonts[i]->LegacySize, sizes[i]);
        ASSERT_FALSE(app.fonts[i]->Sources.empty());
        EXPECT_STREQ(app.fonts[i]->Sources[0]->Name, names[i]);
    }
}

TEST(DatabasePathTest, BesideTheExecutableOrInTheCurrentFolder) {
    EXPECT_EQ(bm::ui::DatabasePathFor(L"C:\\Tools\\Orvellane\\orvellane.exe"), L"C:\\Tools\\Orvellane\\app_data.db");
    EXPECT_EQ(bm::ui::DatabasePathFor(L"C:/Tools/orvellane.exe"), L"C:/Tools\\app_data.db");
    EXPECT_EQ(bm::ui::DatabasePathFor(L"orvellane.exe"), L".\\app_data.db");
    EXPECT_EQ(bm::ui::DatabasePathFor(L""), L".\\app_data.db");
}

}  // namespace
