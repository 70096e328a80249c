// The console log: each line coloured by the first marker it holds, and a view that follows new
// lines only while it is at the bottom.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "app/theme.h"
#include "tests/app/panel_probe.h"
#include "tests/app/ui_driver.h"
#include "tests/support/temp_dir.h"

namespace {

using bm::test::ColoursDrawn;
using bm::test::Packed;
using bm::test::WindowNamed;

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.OpenDatabase(dir / L"app_data.db"));
        bm::ui::ApplyTheme(0);
        ui.SetDraw([this] { app.DrawFrame(); });
        ui.Frame();
    }
    void TearDown() override { bm::ui::ApplyTheme(0); }

    void SetLog(std::initializer_list<std::wstring> lines) {
        std::lock_guard<std::mutex> lock(app.logMutex);
        app.logLines.assign(lines.begin(), lines.end());
    }
    ImGuiWindow* Console() { return WindowNamed("##consoleScroll"); }

    bm::test::TempDir dir;
    bm::test::UiDriver ui;
    bm::ui::App app;
};

TEST_F(ConsoleTest, EachLineTakesTheColourOfTheFirstMarkerItHoldsInBothThemes) {
    enum Colour { Error, Warning, Success, Text };
    struct Case {
        const wchar_t* line;
        Colour colour;
    };
    const Case cases[] = {
        {L"[10:00:00] [ERROR] Could not read Google Chrome", Error},
        {L"[10:00:00] --- Sync aborted ---", Error},
        {L"[10:00:00] [OK] Brave: 3 added [ERROR] later", Error},
        {L"[10:00:00] [LOCKED] Opera is running", Warning},
        {L"[10:00:00] [SKIP] Vivaldi not detected", Warning},
        {L"[10:00:00] [OK] Закладки: 2 added, 1 skipped", Success},
        {L"[10:00:00] --- Sync started ---", Text},
        {L"[10:00:00] --- Sync finished: 2 destination(s) processed ---", Text},
        {L"[10:00:00] [REPLACE] Deleting existing bookmarks", Text},
        {L"[10:00:00] Backup created: C:\\x\\Bookmarks.backup_1.bak", Text},
        {L"[10:00:00] Loaded 3 bookmark(s)", Text},
        {L"[10:00:00] Closing Opera completely...", Text},
        {L"[10:00:00] [error] and Aborted are not markers", Text},
    };
    for (int theme : {0, 1}) {
        bm::ui::ApplyTheme(theme);
        const ImU32 palette[] = {Packed(bm::ui::ErrorColor()), Packed(bm::ui::WarningColor()),
                                 Packed(bm::ui::SuccessColor()), Packed(bm::ui::TextColor())};
        for (const Case& c : cases) {
            SCOPED_TRACE(bm::ToUtf8(c.line) + (theme ? " (light)" : " (dark)"));
            SetLog({c.line});
            ui.Frame();
            const std::set<ImU32> drawn = ColoursDrawn(Console());
            for (int colour = Error; colour <= Text; ++colour) {
                if (colour == c.colour) {
                    EXPECT_TRUE(drawn.count(palette[colour])) << "expected colour " << colour << " missing";
                } else if (palette[colour] != palette[c.colour]) {
                    EXPECT_FALSE(drawn.count(palette[colour])) << "colour " << colour << " drawn";
                }
            }
        }
    }
}

TEST_F(ConsoleTest, TitleAndLinesReadAsStoredAndAnEmptyLogDrawsAnEmptyRegion) {
    std::string text = bm::test::FrameText(ui, [this] { app.DrawFrame(); });
    EXPECT_NE(bm::test::LineWith(text, "CONSOLE LOG"), "");
    EXPECT_NE(bm::test::LineWith(text, "Backups, records transferred, success/error messages"), "");
    ASSERT_NE(Console(), nullptr);
    EXPECT_EQ(ColoursDrawn(Console()).count(Packed(bm::ui::TextColor())), 0u);

    SetLog({L"[09:15:02] [OK] Café → 書籤: 1 added", L"", L"[09:15:03] 100% done %s %d"});
    text = bm::test::FrameText(ui, [this] { app.DrawFrame(); });
    EXPECT_NE(text.find("[09:15:02] [OK] Café → 書籤: 1 added"), std::string::npos) << text;
    EXPECT_NE(text.find("[09:15:03] 100% done %s %d"), std::string::npos) << text;
}

TEST_F(ConsoleTest, FollowsNewLinesOnlyWhileScrolledToTheBottom) {
    for (int i = 0; i < 80; ++i) app.Log(L"line " + std::to_wstring(i));
    ui.Frame(3);
    ImGuiWindow* console = Console();
    ASSERT_NE(console, nullptr);
    ASSERT_GT(console->ScrollMax.y, 0.0f);
    EXPECT_FLOAT_EQ(console->Scroll.y, console->ScrollMax.y);

    const float maxBefore = console->ScrollMax.y;
    for (int i = 0; i < 5; ++i) app.Log(L"more " + std::to_wstring(i));
    ui.Frame(3);
    console = Console();
    EXPECT_GT(console->ScrollMax.y, maxBefore);
    EXPECT_FLOAT_EQ(console->Scroll.y, console->ScrollMax.y);

    // The user scrolls up with the wheel: new lines no longer move the view.
    ui.MoveMouse(console->InnerRect.GetCenter());
    ImGui::GetIO().AddMouseWheelEvent(0.0f, 3.0f);
    ui.Frame(2);
    console = Console();
    const float scrolledTo = console->Scroll.y;
    ASSERT_LT(scrolledTo, console->ScrollMax.y - 4.0f);
    for (int i = 0; i < 5; ++i) app.Log(L"later " + std::to_wstring(i));
    ui.Frame(3);
    console = Console();
    EXPECT_FLOAT_EQ(console->Scroll.y, scrolledTo);
    EXPECT_GT(console->ScrollMax.y, scrolledTo + 4.0f);
}

}  // namespace
