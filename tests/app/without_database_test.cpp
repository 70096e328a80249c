// The window beside an app_data.db it cannot use: the browsers are still found, a sync from browser
// to browser runs through the form, the log says in words what works and what does not, and nothing
// is written into the file.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/theme.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/panel_probe.h"
#include "tests/app/ui_driver.h"
#include "tests/database/database_test_support.h"

namespace bm::test {
namespace {

class WithoutDatabaseTest : public AppSyncFixture {
protected:
    void SetUp() override {
        AppSyncFixture::SetUp();
        bm::ui::ApplyTheme(0);
        // The fixture's sound database is not the one this start uses.
        app.db.Close();
        app.dbOpen = false;
        MakeDirs(dir / L"program");
    }

    std::wstring DbPath() const { return dir / L"program\\app_data.db"; }
    std::wstring ChromePath() const { return Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks"; }
    std::wstring BravePath() const { return Local() + L"\\BraveSoftware\\Brave-Browser\\User Data\\Default\\Bookmarks"; }
    int BrowserIndex(BrowserKind kind) const {
        for (size_t i = 0; i < app.browsers.size(); ++i)
            if (app.browsers[i].kind == kind) return static_cast<int>(i);
        return -1;
    }
    std::vector<std::wstring> BraveUrls() {
        std::wstring error;
        std::vector<std::wstring> urls;
        for (const BookmarkRecord& record : ReadChromiumBookmarks(BravePath(), &error))
            urls.push_back(NormalizeUrl(record.url));
        std::sort(urls.begin(), urls.end());
        return urls;
    }
    // The start as Init makes it, up to the frame after the check of the file has ended.
    void Start() {
        ASSERT_TRUE(app.OpenDatabaseAtStart(DbPath()));
        app.RedetectBrowsers();
        app.RefreshProfiles();
        app.db.WaitForFileCheck();
        ui.SetDraw([this] { app.DrawFrame(); });
        ui.Frame();
    }

    UiDriver ui{ImVec2(3000, 3000)};
};

TEST_F(WithoutDatabaseTest, BrowsersAreFoundAndABrowserToBrowserSyncRunsBesideADamagedDatabase) {
    const std::string damaged = MakeDamagedDatabase(DbPath(), DamagedPage::BookmarksRoot);
    WriteBookmarks(ChromePath(), {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B")});
    WriteBookmarks(BravePath(), {Bookmark(L"https://old.example/", L"Old")});
    Start();

    EXPECT_TRUE(app.withoutDatabase);
    EXPECT_FALSE(app.dbOpen);
    EXPECT_TRUE(app.profiles.empty());
    // Every browser slot is there (the start found none before: detection asked the database).
    EXPECT_EQ(app.browsers.size(), 7u);
    const std::vector<std::wstring> said = LogTexts();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0],
              L"[ERROR] app_data.db is damaged, so Orvellane goes on without it and writes nothing into it. SQLite "
              L"finds it damaged: part of the file does not hold what SQLite wrote there. The file was left unchanged.\n"
              L"Still working: the browsers are found (at their usual places), and syncing from browser to browser, "
              L"export, import into a browser and the explorer of a browser work as always.\n"
              L"Not working: saved profiles and their snapshots, custom bookmark-file paths, and keeping the settings, "
              L"until the file is repaired or moved away and Orvellane is started again.");
    for (const std::wstring& line : said) EXPECT_EQ(line.find(L"Could not"), std::wstring::npos) << ToUtf8(line);
    // The console shows the words whole, wrapped at its width.
    const std::string shown = FrameText(ui, [this] { app.DrawFrame(); });
    EXPECT_NE(shown.find("until the file is repaired or moved away and Orvellane is started again."), std::string::npos);

    // The browsers of the test tree (the program's own are found at the user's usual places).
    app.browsers = DetectBrowsersIn(Local(), Roaming());
    app.sourceType = 0;
    app.sourceIndex = BrowserIndex(BrowserKind::Chrome);
    app.destMode = 0;
    app.destBrowserIndex = BrowserIndex(BrowserKind::Brave);
    app.writeMode = 0;
    ui.Frame();
    ASSERT_TRUE(ui.Click("Sync Now"));
    WaitForJobEnd();
    ui.Frame(2);
    EXPECT_EQ(BraveUrls(), (std::vector<std::wstring>{L"https://a.example", L"https://b.example", L"https://old.example"}));
    bool synced = false;
    for (const std::wstring& line : LogTexts()) synced = synced || line.rfind(L"[OK] Brave: ", 0) == 0;
    EXPECT_TRUE(synced);

    app.SaveSettings();
    app.SaveUiState();
    app.db.Close();
    EXPECT_TRUE(ReadTextFile(DbPath()) == damaged);
    EXPECT_FALSE(PathExists(DbPath() + L"-journal"));
}

// A file another program holds locked is not called damaged, and the program goes on all the same.
TEST_F(WithoutDatabaseTest, ALockedDatabaseIsNotCalledDamaged) {
    {
        AppDatabase made;
        ASSERT_TRUE(made.Open(DbPath()));
        made.CreateProfile(L"Work");
    }
    RawConnection other(DbPath());
    other.Exec("BEGIN EXCLUSIVE;");
    Start();
    other.Exec("ROLLBACK;");
    EXPECT_TRUE(app.withoutDatabase);
    EXPECT_EQ(app.browsers.size(), 7u);
    const std::vector<std::wstring> said = LogTexts();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0].rfind(L"[ERROR] app_data.db could not be used (that does not mean it is damaged), so Orvellane "
                            L"goes on without it and writes nothing into it. It could not be read: another program "
                            L"holds it locked.",
                            0),
              0u)
        << ToUtf8(said[0]);
    EXPECT_NE(said[0].find(L"until Orvellane is started again once the other program has closed the file."),
              std::wstring::npos);
}

}  // namespace
}  // namespace bm::test
