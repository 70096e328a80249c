// The menu bar driven by clicks and keys: the theme, font size and settings items store their
// values at once; the help dialogs open and close; F5 refreshes even under a dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "app/app.h"
#include "app/theme.h"
#include "tests/app/ui_driver.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t kAbsent[] = L"<absent>";

class MenuBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.OpenDatabase(dir / L"app_data.db"));
        app.waitForExplorerLoads = true;  // the menus' reloads are looked at, not the wait for them
        bm::ui::ApplyTheme(0);
        ui.SetDraw([this] { app.DrawFrame(); });
        ui.Frame();
    }
    void TearDown() override { bm::ui::g_theme = 0; }

    std::wstring Stored(const std::wstring& key) { return app.db.GetSetting(key, kAbsent); }

    // Opens each menu of the path in turn, then clicks its last entry.
    void Choose(std::initializer_list<const char*> path) {
        for (const char* label : path) {
            ASSERT_TRUE(ui.Click(label)) << "no item " << label;
        }
    }

    bm::test::TempDir dir;
    bm::test::UiDriver ui;
    bm::ui::App app;
};

TEST_F(MenuBarTest, ThemeItemsSwitchTheLookAndStoreItOnlyWhenItChanges) {
    Choose({"View", "Dark theme"});
    EXPECT_EQ(Stored(L"theme"), kAbsent);  // already dark: nothing written

    Choose({"View", "Light theme"});
    EXPECT_EQ(app.lightTheme, 1);
    EXPECT_EQ(bm::ui::g_theme, 1);
    EXPECT_EQ(Stored(L"theme"), L"light");
    EXPECT_FLOAT_EQ(ImGui::GetStyle().Colors[ImGuiCol_WindowBg].x, 0.97f);

    Choose({"View", "Dark theme"});
    EXPECT_EQ(app.lightTheme, 0);
    EXPECT_EQ(bm::ui::g_theme, 0);
    EXPECT_EQ(Stored(L"theme"), L"dark");
}

TEST_F(MenuBarTest, AClickOnAnotherMenusTitleOpensThatMenuAndASecondClickClosesIt) {
    // Which menu stands open: the item each one holds is drawn only while it is open.
    auto open = [this] {
        std::string shown;
        for (const auto& [menu, item] : {std::pair{"File", "Exit"}, std::pair{"View", "Dark theme"},
                                         std::pair{"Settings", "Confirm before replace sync"},
                                         std::pair{"Help", "About Orvellane"}})
            if (ui.Has(item)) shown += shown.empty() ? menu : std::string(",") + menu;
        return shown;
    };
    ASSERT_TRUE(ui.Click("File"));
    ui.Frame();
    EXPECT_EQ(open(), "File");
    // From one open menu to the next, each by a click on its title. The mouse rests on the title for
    // a few frames first, as it does on its way there in the real window: that hover alone opens the
    // menu, and the click must not take it for "close again".
    for (const char* title : {"View", "Help", "Settings", "File"}) {
        SCOPED_TRACE(title);
        ASSERT_TRUE(ui.Hover(title));
        ui.Frame(3);
        EXPECT_EQ(open(), title);
        ASSERT_TRUE(ui.Click(title));
        ui.Frame(2);
        EXPECT_EQ(open(), title);
    }
    // A click on the title of the menu a click opened closes it, as before.
    ASSERT_TRUE(ui.Click("File"));
    ui.Frame(2);
    EXPECT_EQ(open(), "");
    // And the next click opens it again.
    ASSERT_TRUE(ui.Click("Help"));
    ui.Frame(2);
    EXPECT_EQ(open(), "Help");
    ASSERT_TRUE(ui.Click("Help"));
    ui.Frame(2);
    EXPECT_EQ(open(), "");
}

TEST_F(MenuBarTest, FontSizeItemsStoreTheIndexAndAskForAFrame) {
    Choose({"View", "Font size", "Large"});
    EXPECT_EQ(app.fontSizeIndex, 2);
    EXPECT_EQ(Stored(L"font_size"), L"2");

    app.db.SetSetting(L"font_size", L"untouched");
    app.redrawPending = false;
    Choose({"View", "Font size", "Large"});
    EXPECT_EQ(Stored(L"font_size"), L"untouched");  // the size in force: nothing happens
    EXPECT_EQ(app.fontSizeIndex, 2);

    Choose({"View", "Font size", "Small"});
    EXPECT_EQ(app.fontSizeIndex, 0);
    EXPECT_EQ(Stored(L"font_size"), L"0");
    EXPECT_TRUE(app.redrawPending);
}

TEST_F(MenuBarTest, SettingsTogglesStoreOneOrZero) {
    Choose({"Settings", "Automatic backup before writes"});
    EXPECT_FALSE(app.autoBackup);
    EXPECT_EQ(Stored(L"auto_backup"), L"0");
    EXPECT_TRUE(app.confirmBeforeSync);

    Choose({"Settings", "Confirm before replace sync"});
    EXPECT_FALSE(app.confirmBeforeSync);
    EXPECT_EQ(Stored(L"confirm_before_sync"), L"0");

    Choose({"Settings", "Automatic backup before writes"});
    EXPECT_TRUE(app.autoBackup);
    EXPECT_EQ(Stored(L"auto_backup"), L"1");
}

TEST_F(MenuBarTest, HelpDialogsOpenAndCloseWithTheirButton) {
    for (const char* title : {"How to restore backups", "About Orvellane"}) {
        SCOPED_TRACE(title);
        Choose({"Help", title});
        ui.Frame(2);
        ASSERT_TRUE(ui.Has("Close")) << "dialog not shown";
        EXPECT_FALSE(app.openAbout);
        EXPECT_FALSE(app.openRestoreHelp);
        ui.Frame(3);
        ASSERT_TRUE(ui.Has("Close")) << "dialog closed by itself";
        ASSERT_TRUE(ui.Click("Close"));
        ui.Frame(2);
        EXPECT_FALSE(ui.Has("Close"));
    }
}

TEST_F(MenuBarTest, F5RefreshesEvenWhileADialogIsOpen) {
    // The explorer shows a saved profile; a reload shows what the profile holds now.
    const int64_t id = app.db.CreateProfile(L"Work");
    app.RefreshProfiles();
    app.explorerType = 1;
    ui.Frame();
    ASSERT_EQ(app.ExplorerRowCount(), 0u);
    bm::BookmarkRecord record;
    record.url = L"https://a.example";
    ASSERT_EQ(app.db.AddBookmarks(id, {record}), 1);
    Choose({"Help", "About Orvellane"});
    ui.Frame(2);
    ASSERT_TRUE(ui.Has("Close"));
    ASSERT_EQ(app.ExplorerRowCount(), 0u);
    ui.PressKey(ImGuiKey_F5);
    EXPECT_EQ(app.ExplorerRowCount(), 1u);
    EXPECT_TRUE(ui.Has("Close"));  // the dialog stays
}

TEST_F(MenuBarTest, FileRefreshReloadsTheSavedProfiles) {
    const int64_t id = app.db.CreateProfile(L"Work");
    app.db.SetDefaultProfileId(id);
    bm::BookmarkRecord record;
    record.url = L"https://a.example";
    ASSERT_EQ(app.db.AddBookmarks(id, {record}), 1);
    app.explorerType = 1;
    ui.Frame();
    ASSERT_EQ(app.ExplorerRowCount(), 0u);  // no profile listed yet
    Choose({"File", "Refresh browsers & profiles"});
    ASSERT_EQ(app.profiles.size(), 1u);
    EXPECT_EQ(app.profiles[0].name, L"Work");
    EXPECT_EQ(app.defaultProfileId, id);
    EXPECT_EQ(app.ExplorerRowCount(), 1u);  // the explorer reloaded
}

// WM_CLOSE messages waiting for this thread, for `window` or (null) for the thread itself.
int TakeCloseMessages(HWND window) {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) ++count;
    return count;
}

TEST_F(MenuBarTest, ExitWithoutAWindowDoesNothing) {
    // Posting to a null window would put WM_CLOSE on the thread's own queue.
    TakeCloseMessages(nullptr);
    Choose({"File", "Exit"});
    ui.Frame();
    EXPECT_EQ(TakeCloseMessages(nullptr), 0);
    EXPECT_EQ(Stored(L"theme"), kAbsent);  // nothing saved either
    EXPECT_FALSE(ui.Has("Exit"));           // the menu closed

    // With a window the same item does post, to that window: the check above can see a post.
    HWND window = CreateWindowExW(0, L"STATIC", L"exit", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    app.hwnd = window;
    Choose({"File", "Exit"});
    app.hwnd = nullptr;
    EXPECT_EQ(TakeCloseMessages(window), 1);
    DestroyWindow(window);
}

}  // namespace
