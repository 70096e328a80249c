// The dashboard over a real browser folder tree: found or not, "(empty)", "(custom)", "(?)" with
// its tooltip, "RUNNING" with "Close" for a real stand-in process (Opera and Opera GX share one
// executable), the bound profile column, and a failing configuration read.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "app/app.h"
#include "app/theme.h"
#include "core/browser_process.h"
#include "core/browsers.h"
#include "sqlite3.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/panel_probe.h"
#include "tests/app/ui_driver.h"
#include "tests/support/fake_browser.h"

namespace bm::test {
namespace {

class DashboardTest : public AppSyncFixture {
protected:
    void SetUp() override {
        AppSyncFixture::SetUp();
        ApplyThemeForTest();
        WriteBookmarks(Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks",
                       {Bookmark(L"https://a.example/", L"A")});
        WriteTextFile(Local() + L"\\Microsoft\\Edge\\User Data\\Default\\Preferences", "{}");  // no Bookmarks yet
        app.browsers = DetectBrowsersIn(Local(), Roaming());
        ui.SetDraw([this] { app.DrawFrame(); });
        ui.Frame();
    }
    static void ApplyThemeForTest() { bm::ui::ApplyTheme(0); }

    BrowserInfo& Entry(BrowserKind kind) {
        for (BrowserInfo& browser : app.browsers)
            if (browser.kind == kind) return browser;
        throw std::runtime_error("no such browser");
    }
    std::string Text() { return FrameText(ui, [this] { app.DrawFrame(); }); }
    std::string Row(const std::string& text, const std::string& name) { return LineWith(text, "| " + name + " "); }

    // Another connection takes a table away under the App's feet.
    void DropTable(const char* table) {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(ToUtf8(dir / L"app_data.db").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, (std::string("DROP TABLE ") + table + ";").c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(other);
    }

    UiDriver ui;
};

TEST_F(DashboardTest, RowsShowFoundEmptyCustomAndBoundProfiles) {
    // A stored custom path that does not exist: not detected, marked as custom.
    BrowserInfo& brave = Entry(BrowserKind::Brave);
    brave.bookmarksPath = dir / L"nowhere\\Bookmarks";
    brave.detected = FileExists(brave.bookmarksPath);
    brave.hasCustomPath = true;
    // Only a bound id that names a saved profile shows a name; the id 0 that the panel stores never does.
    const int64_t id = app.db.CreateProfile(L"Закладки");
    app.db.SetBrowserConfig(L"vivaldi", id, L"");
    app.db.SetBrowserConfig(L"firefox", 0, L"");
    app.RefreshProfiles();

    const std::string text = Text();
    EXPECT_NE(LineWith(text, "DASHBOARD"), "");
    EXPECT_NE(LineWith(text, "Detected browsers, process lock status & profile bindings"), "");
    EXPECT_NE(LineWith(text, "| Browser | Detected | Process Lock | Bound Profile |"), "") << text;
    EXPECT_NE(LineWith(text, "Tip: browsers often stay in Task Manager after you close the window. Use Close, then Refresh."),
              "");

    struct Case {
        const char* name;
        const char* row;
    };
    const Case cases[] = {
        {"Google Chrome", "| Google Chrome | Found | Closed | -- |"},
        {"Microsoft Edge", "| Microsoft Edge | Found (empty) | Closed | -- |"},
        {"Brave", "| Brave (custom) | Not found | Closed | -- |"},
        {"Vivaldi", "| Vivaldi | Not found | Closed | Закладки |"},
        {"Mozilla Firefox", "| Mozilla Firefox | Not found | Closed | -- |"},
    };
    for (const Case& c : cases) EXPECT_EQ(Row(text, c.name), c.row) << text;

    // The "(empty)" test does not look at the disk on every frame: a file a browser writes meanwhile
    // shows once the window is activated again (which forgets what was read), or after a refresh.
    WriteBookmarks(Entry(BrowserKind::Edge).bookmarksPath, {Bookmark(L"https://e.example/", L"E")});
    EXPECT_EQ(Row(Text(), "Microsoft Edge"), "| Microsoft Edge | Found (empty) | Closed | -- |");
    app.outsideReads.Forget();  // as on WM_ACTIVATE
    EXPECT_EQ(Row(Text(), "Microsoft Edge"), "| Microsoft Edge | Found | Closed | -- |");

    // Deleting the bound profile leaves "--".
    app.db.DeleteProfile(id);
    app.RefreshProfiles();
    EXPECT_EQ(Row(Text(), "Vivaldi"), "| Vivaldi | Not found | Closed | -- |");
}

TEST_F(DashboardTest, ARunningOperaShowsOnBothRowsWithATooltipAndCloseEndsIt) {
    FakeBrowser opera(L"opera.exe");
    bm::ui::RefreshRunningFlags(app.browsers);
    std::string text = Text();
    EXPECT_EQ(Row(text, "Opera"), "| Opera | Not found (?) | RUNNING [ Close ] | -- |") << text;
    EXPECT_EQ(Row(text, "Opera GX"), "| Opera GX | Not found (?) | RUNNING [ Close ] | -- |") << text;
    EXPECT_EQ(Row(text, "Google Chrome"), "| Google Chrome | Found | Closed | -- |");

    const std::vector<const UiItem*> closeButtons = ui.FindAll("Close");
    ASSERT_EQ(closeButtons.size(), 2u);
    const UiItem operaClose = *closeButtons[0];
    const UiItem operaGxClose = *closeButtons[1];
    EXPECT_NE(operaClose.id, operaGxClose.id);

    // RUNNING is drawn in the danger colour on the row of its button.
    EXPECT_TRUE(ColoursDrawn(WindowNamed("##leftcol"), operaClose.rect.Min.y - 2, operaClose.rect.Max.y)
                    .count(Packed(bm::ui::DangerColor())));

    // Hover along the Opera row, left of its button, until the "(?)" tooltip shows.
    const ImGuiWindow* column = WindowNamed("##leftcol");
    ASSERT_NE(column, nullptr);
    const std::string tooltip =
        "Opera is running, but its profile folder wasn't found.\nThis usually means a portable or custom install.\n"
        "Use 'Custom / Portable Browser Path' below to point at it directly.";
    bool shown = false;
    for (float x = column->InnerRect.Min.x; x < operaClose.rect.Min.x && !shown; x += 6.0f) {
        ui.MoveMouse(ImVec2(x, operaClose.Center().y));
        shown = Text().find("Opera is running, but its profile folder wasn't found.") != std::string::npos;
    }
    ASSERT_TRUE(shown) << "no tooltip over the (?) of the Opera row";
    text = Text();
    for (const std::string& line : Lines(tooltip)) EXPECT_NE(text.find(line), std::string::npos) << line;

    // "Close" on the Opera GX row arms the dialog for that one executable; closing it ends the
    // process both rows stand for.
    app.pendingRequest.sourceName = L"kept";
    app.syncAfterClose = true;
    ASSERT_TRUE(ui.ClickItem(operaGxClose));
    EXPECT_EQ(app.closeQueueExe, std::vector<std::wstring>{L"opera.exe"});
    EXPECT_EQ(app.closeQueueNames, std::vector<std::wstring>{L"Opera GX"});
    EXPECT_FALSE(app.syncAfterClose);
    ui.Frame(2);
    ASSERT_TRUE(ui.Click("Close completely"));
    EXPECT_TRUE(opera.WaitForExit(5000));
    ui.Frame(2);
    text = Text();
    EXPECT_EQ(Row(text, "Opera"), "| Opera | Not found | Closed | -- |") << text;
    EXPECT_EQ(Row(text, "Opera GX"), "| Opera GX | Not found | Closed | -- |") << text;
    EXPECT_FALSE(ui.Has("Close"));
    EXPECT_FALSE(app.syncRunning.load());  // the dashboard's close starts no job
}

TEST_F(DashboardTest, BrowserNamesAndStatusHeadersAreWholeAtTheUsualWidths) {
    app.LoadFonts();  // the four sizes, as the program loads them
    ui.SetDisplaySize(ImVec2(1344, 821));  // the client area of the window's first size
    struct Case {
        int font;
        float pane;          // 0: the first share of the window
        bool headersWhole;   // else only the browser names must be
    };
    const Case cases[] = {{0, 0, true}, {1, 0, true}, {2, 0, false}, {2, 640, true}, {3, 760, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("font " + std::to_string(c.font) + ", pane " + std::to_string(c.pane));
        app.fontSizeIndex = c.font;
        app.leftPaneWidth = c.pane;
        app.leftPaneWidthValid = c.pane > 0;
        // Dear ImGui cuts a text with "..." when it is wider than the room from the cell's work
        // start to the column's right edge; the names are cut by the panel the same way.
        std::map<std::string, float> room, needed;
        float longestName = 0;
        ui.SetDraw([&] {
            app.DrawFrame();
            ImGuiTable* grid = nullptr;
            for (int i = 0; i < GImGui->Tables.GetMapSize(); ++i) {
                ImGuiTable* table = GImGui->Tables.TryGetMapData(i);
                if (table && table->ColumnsCount == 4 && table->LastFrameActive == GImGui->FrameCount &&
                    std::string(ImGui::TableGetColumnName(table, 2)) == "Process Lock")
                    grid = table;
            }
            if (!grid) return;
            ImGui::PushFont(app.fonts[c.font], app.fonts[c.font]->LegacySize);
            for (int n = 0; n < 4; ++n) {
                const std::string header = ImGui::TableGetColumnName(grid, n);
                room[header] = grid->Columns[n].MaxX - grid->Columns[n].WorkMinX;
                needed[header] = ImGui::CalcTextSize(header.c_str()).x;
            }
            for (const BrowserInfo& browser : app.browsers)
                longestName = std::max(longestName, ImGui::CalcTextSize(ToUtf8(browser.displayName).c_str()).x);
            ImGui::PopFont();
        });
        ui.Frame(3);
        ASSERT_EQ(room.size(), 4u) << "no browser table drawn";
        EXPECT_GE(room["Browser"] - ImGui::GetStyle().CellPadding.x, longestName) << "a browser name is cut";
        if (c.headersWhole) {
            for (const char* header : {"Detected", "Process Lock"})
                EXPECT_GE(room[header], needed[header]) << header << " is cut";
        }
    }
}

TEST_F(DashboardTest, AFailingConfigurationReadShowsDashesAndIsLoggedOnce) {
    const int64_t id = app.db.CreateProfile(L"Work");
    app.db.SetBrowserConfig(L"chrome", id, L"");
    app.RefreshProfiles();
    EXPECT_EQ(Row(Text(), "Google Chrome"), "| Google Chrome | Found | Closed | Work |");

    DropTable("browser_configs");  // through another connection: the program's own writes are not seen
    {
        std::lock_guard<std::mutex> lock(app.logMutex);
        app.logLines.clear();
    }
    app.outsideReads.Forget();  // as on WM_ACTIVATE, so the next frame reads the table again
    ui.Frame(5);
    EXPECT_EQ(Row(Text(), "Google Chrome"), "| Google Chrome | Found | Closed | -- |");
    const std::vector<std::wstring> log = LogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(L"[ERROR] Could not read the browser configurations: ", 0), 0u) << ToUtf8(log[0]);
}

TEST_F(DashboardTest, FramesReadTheDiskAndTheDatabaseOnlyAfterSomethingChanged) {
    const int64_t work = app.db.CreateProfile(L"Work");
    app.db.SetBrowserConfig(L"chrome", work, L"");
    app.RefreshProfiles();
    EXPECT_EQ(Row(Text(), "Google Chrome"), "| Google Chrome | Found | Closed | Work |");
    const bm::ui::OutsideReads::Reads first = app.outsideReads.reads;
    EXPECT_GT(first.configs, 0);
    EXPECT_GT(first.files, 0);

    ui.Frame(5);
    EXPECT_EQ(app.outsideReads.reads.configs, first.configs);
    EXPECT_EQ(app.outsideReads.reads.files, first.files);

    // A write through the program's connection: the bindings are read again, the files are not.
    const int64_t home = app.db.CreateProfile(L"Home");
    app.db.SetBrowserConfig(L"chrome", home, L"");
    app.RefreshProfiles();
    EXPECT_EQ(Row(Text(), "Google Chrome"), "| Google Chrome | Found | Closed | Home |");
    EXPECT_GT(app.outsideReads.reads.configs, first.configs);
    EXPECT_EQ(app.outsideReads.reads.files, first.files);

    // A line in the log (every action reports itself there, from any thread): all is read again.
    app.Log(L"Something was done.");
    ui.Frame();
    EXPECT_GT(app.outsideReads.reads.files, first.files);
}

}  // namespace
}  // namespace bm::test
