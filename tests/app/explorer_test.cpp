// The bookmark explorer through the UI driver: when it loads (first frame, Load, radio buttons, the
// combo, a lowered index, another panel's request), the search's ASCII-only case folding, the texts
// of empty titles and folders, and a 100 000-row profile of which only the visible rows are drawn.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/panels/explorer_view.h"
#include "core/browsers.h"
#include "tests/app/panel_fixture.h"

namespace bm::test {
namespace {

class ExplorerPanelTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        Show(&bm::ui::App::DrawBookmarkExplorer);
    }

    // The explorer's table as the last frame left it.
    ImGuiTable* Table() const {
        ImGuiContext& g = *ui.context();
        for (int i = 0; i < g.Tables.GetMapSize(); ++i) {
            ImGuiTable* table = g.Tables.TryGetMapData(i);
            if (table && table->ColumnsCount == 3 && table->LastFrameActive == g.FrameCount) return table;
        }
        return nullptr;
    }

    // Rows submitted to the table in the last frame, the header not counted.
    int SubmittedRows() const { return app.explorerView ? app.explorerView->rowsDrawn : -1; }

    void Search(const char* text) {
        std::strncpy(app.explorerSearch, text, sizeof app.explorerSearch - 1);
        ui.Frame();
    }

    std::wstring ChromeFile() const { return Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks"; }
};

TEST_F(ExplorerPanelTest, LoadsOnTheFirstFrameAndOnEveryReloadTrigger) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://c1.example/", L"C1"), Bookmark(L"https://c2.example/", L"C2")});
    DetectBrowsers();
    const int64_t work = app.db.CreateProfile(L"Work");
    const int64_t home = app.db.CreateProfile(L"Home");
    ASSERT_EQ(app.db.AddBookmarks(work, {Bookmark(L"https://w1.example", L"W1")}), 1);
    ASSERT_EQ(app.db.AddBookmarks(home, {Bookmark(L"https://h1.example", L"H1"), Bookmark(L"https://h2.example", L"H2"),
                                         Bookmark(L"https://h3.example", L"H3")}),
              3);
    app.RefreshProfiles();
    // As restored from the interface state before the first frame.
    app.explorerType = 1;
    app.explorerIndex = 0;  // profiles are listed by name: Home, Work

    ui.Frame();
    EXPECT_EQ(app.ExplorerRowCount(), 3u);
    EXPECT_TRUE(Shows("3 bookmark(s) loaded")) << shownText;
    EXPECT_EQ(SubmittedRows(), 3);

    // Rows stay until something asks.
    ASSERT_EQ(app.db.AddBookmarks(home, {Bookmark(L"https://h4.example", L"H4")}), 1);
    ui.Frame(2);
    EXPECT_EQ(app.ExplorerRowCount(), 3u);
    ASSERT_TRUE(ui.Click("Load"));
    EXPECT_EQ(app.ExplorerRowCount(), 4u);

    ASSERT_EQ(app.db.AddBookmarks(home, {Bookmark(L"https://h5.example", L"H5")}), 1);
    app.explorerReloadPending = true;  // another panel's request
    ui.Frame();
    EXPECT_EQ(app.ExplorerRowCount(), 5u);
    EXPECT_FALSE(app.explorerReloadPending);

    // A click on the radio button already chosen reloads as well.
    ASSERT_EQ(app.db.AddBookmarks(home, {Bookmark(L"https://h6.example", L"H6")}), 1);
    ASSERT_TRUE(ui.Click("Saved Profile##exp"));
    EXPECT_EQ(app.ExplorerRowCount(), 6u);

    ASSERT_TRUE(ui.Click("Browser##exp"));
    EXPECT_EQ(app.explorerType, 0);
    EXPECT_EQ(app.db.GetSetting(L"ui_explorer_type", L""), L"0");
    ASSERT_EQ(app.browsers[1].kind, BrowserKind::Edge);
    ASSERT_TRUE(ClickCombo("##expBrowser"));
    ASSERT_TRUE(ui.Click("Google Chrome"));
    EXPECT_EQ(app.explorerIndex, 0);
    EXPECT_EQ(app.db.GetSetting(L"ui_explorer_browser", L""), L"chrome");
    EXPECT_EQ(app.ExplorerRowCount(), 2u);

    // A browser that is not detected: an empty table.
    ASSERT_TRUE(ClickCombo("##expBrowser"));
    ASSERT_TRUE(ui.Click("Brave"));
    EXPECT_EQ(app.ExplorerRowCount(), 0u);
    ui.Frame();
    EXPECT_TRUE(Shows("0 bookmark(s) loaded"));
    EXPECT_EQ(SubmittedRows(), 0);

    // The profile shown goes away: the explorer names none and shows nothing until one is chosen.
    ASSERT_TRUE(ui.Click("Saved Profile##exp"));
    ASSERT_TRUE(ClickCombo("##expProfile"));
    ASSERT_TRUE(ui.Click("Work"));
    EXPECT_EQ(app.explorerIndex, 1);
    EXPECT_EQ(app.ExplorerRowCount(), 1u);
    ASSERT_TRUE(app.db.DeleteProfile(work));
    app.RefreshProfiles();
    ui.Frame();
    EXPECT_EQ(app.explorerIndex, -1);
    EXPECT_EQ(app.ExplorerRowCount(), 0u);
    ui.Frame();
    EXPECT_TRUE(Shows("(choose a profile)")) << shownText;

    // With no profile left there is nothing to choose, and the line says so.
    ASSERT_TRUE(app.db.DeleteProfile(home));
    app.RefreshProfiles();
    ui.Frame();
    EXPECT_TRUE(Shows("No saved profiles yet - create one in the action hub or import a file.")) << shownText;
}

TEST_F(ExplorerPanelTest, SearchFoldsAsciiCaseOnlyAndCountsEveryLoadedRow) {
    const int64_t profile = app.db.CreateProfile(L"Mixed");
    BookmarkRecord untitled = Bookmark(L"https://untitled.example/", L"");
    untitled.folder_path = L"";
    BookmarkRecord accented = Bookmark(L"https://ecole.example/", L"\u00e9cole du soir");
    accented.folder_path = L"Bookmarks bar/Reading";
    ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://github.com/", L"GitHub"), untitled, accented}), 3);
    app.RefreshProfiles();
    app.explorerType = 1;

    ui.Frame();
    EXPECT_EQ(SubmittedRows(), 3);
    EXPECT_TRUE(Shows("| (untitled) | https://untitled.example/ | / |")) << shownText;

    // Typed into the field like a user does.
    ASSERT_TRUE(ui.Click("##explorerSearch"));
    ui.Type("GITHUB");
    ui.PressKey(ImGuiKey_Enter);  // leaves the field, which hands its text back
    EXPECT_STREQ(app.explorerSearch, "GITHUB");
    EXPECT_EQ(SubmittedRows(), 1);
    EXPECT_TRUE(Shows("GitHub"));

    const struct {
        const char* needle;
        int rows;
    } cases[] = {
        {"\xc3\x89" "COLE", 0},  // a capital outside ASCII does not match its lower-case form
        {"\xc3\xa9" "COLE", 1},
        {"ECOLE.EXAMPLE", 1},    // the URL
        {"reading", 1},          // the folder
        {"BOOKMARKS BAR", 2},
        {"nothing like it", 0},
        {"", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.needle);
        Search(c.needle);
        EXPECT_EQ(SubmittedRows(), c.rows);
        EXPECT_TRUE(Shows("3 bookmark(s) loaded"));
    }
}

TEST_F(ExplorerPanelTest, HundredThousandRowsDrawOnlyTheVisibleOnesAndScrollToTheLast) {
    const int64_t profile = app.db.CreateProfile(L"Huge");
    Sql("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999) "
        "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) SELECT " +
        std::to_string(profile) + ", 'https://row.example/' || i, 'Row ' || i, 'Bookmarks bar', 1700000000 FROM n");
    app.RefreshProfiles();
    app.explorerType = 1;
    captureText = false;  // logging the text would draw every row

    ui.Frame(2);
    EXPECT_EQ(app.ExplorerRowCount(), 100000u);
    const int visible = SubmittedRows();
    EXPECT_GT(visible, 5);
    EXPECT_LT(visible, 100);

    // The table is as tall as every row: the last can be scrolled to.
    ImGuiTable* table = Table();
    ASSERT_NE(table, nullptr);
    EXPECT_GT(table->InnerWindow->ScrollMax.y, 99000.0f * ImGui::GetTextLineHeight());
    EXPECT_EQ(app.explorerView->firstDrawn, 0);
    ImGui::SetScrollY(table->InnerWindow, table->InnerWindow->ScrollMax.y);
    ui.Frame(2);
    EXPECT_GT(Table()->InnerWindow->Scroll.y, 0.0f);
    EXPECT_LT(SubmittedRows(), 100);
    EXPECT_EQ(app.explorerView->lastDrawn, 99999);

    Search("row 99999");
    ui.Frame();
    EXPECT_EQ(SubmittedRows(), 1);
}

// The frame only asks for a load: the rows are read on the loader's thread, the frames meanwhile
// say how far it has come, and a load asked for while another runs is the one whose rows are shown.
TEST_F(ExplorerPanelTest, AHundredThousandRowsAreLoadedOffTheFrameAndTheNewestLoadWins) {
    app.waitForExplorerLoads = false;
    const int64_t huge = app.db.CreateProfile(L"Huge");
    Sql("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999) "
        "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) SELECT " +
        std::to_string(huge) + ", 'https://row.example/' || i, 'Row ' || i, 'Bookmarks bar', 1700000000 FROM n");
    const int64_t small = app.db.CreateProfile(L"Small");
    ASSERT_EQ(app.db.AddBookmarks(small, {Bookmark(L"https://s1.example/", L"S1"), Bookmark(L"https://s2.example/", L"S2")}), 2);
    app.RefreshProfiles();  // by name: Huge, Small
    app.explorerType = 1;
    app.explorerIndex = 0;

    ui.Frame();
    EXPECT_EQ(app.ExplorerRowCount(), 0u);
    EXPECT_TRUE(Shows("Loading bookmarks")) << shownText;
    EXPECT_FALSE(Shows("bookmark(s) loaded")) << shownText;
    app.explorerLoader.WaitIdle();
    ui.Frame();
    EXPECT_EQ(app.ExplorerRowCount(), 100000u);
    EXPECT_TRUE(Shows("100000 bookmark(s) loaded")) << shownText;

    // The large profile again, and before its rows have come, the small one: only the small one's
    // rows are ever shown.
    ASSERT_TRUE(ui.Click("Load"));
    app.explorerIndex = 1;
    ui.Frame();
    app.explorerLoader.WaitIdle();
    ui.Frame(2);
    EXPECT_EQ(app.ExplorerRowCount(), 2u);
    EXPECT_TRUE(Shows("2 bookmark(s) loaded")) << shownText;
}

TEST_F(ExplorerPanelTest, BookmarksFileWithWronglyTypedValuesGivesATableAndNoCrash) {
    MakeDirs(Local() + L"\\Google\\Chrome\\User Data\\Default");
    WriteTextFile(ChromeFile(),
                  R"({"roots": {"bookmark_bar": {"type": "folder", "name": 7, "children": "none"},)"
                  R"( "other": {"children": [{"type": "url", "url": 12, "name": ["x"]}, 5, null]}, "synced": []}})");
    DetectBrowsers();
    ASSERT_TRUE(app.browsers[0].detected);
    ui.Frame(2);
    EXPECT_TRUE(Shows("bookmark(s) loaded")) << shownText;
    EXPECT_EQ(SubmittedRows(), static_cast<int>(app.ExplorerRowCount()));
}

}  // namespace
}  // namespace bm::test
