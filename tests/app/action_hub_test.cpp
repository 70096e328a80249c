// The action hub through the UI driver over real stores in a temporary tree: the request built from
// the form, the disabled rules, the replace confirmation (and a confirmed replace that really runs),
// profile management with its failures, the profile copy and the custom path override.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/theme.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/panel_probe.h"
#include "tests/app/ui_driver.h"

namespace bm::test {
namespace {

constexpr int32_t kChrome = static_cast<int32_t>(BrowserKind::Chrome);
constexpr int32_t kBrave = static_cast<int32_t>(BrowserKind::Brave);
constexpr int32_t kNone = static_cast<int32_t>(BrowserKind::None);

class ActionHubTest : public AppSyncFixture {
protected:
    void SetUp() override {
        AppSyncFixture::SetUp();
        bm::ui::ApplyTheme(0);
        WriteBookmarks(ChromePath(), {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B")});
        WriteBookmarks(BravePath(), {Bookmark(L"https://old.example/", L"Old")});
        app.browsers = DetectBrowsersIn(Local(), Roaming());
        SetDraw([this] { app.DrawFrame(); });
    }
    void SetDraw(std::function<void()> next) {
        draw = std::move(next);
        ui.SetDraw(draw);
        ui.Frame();
    }

    std::wstring ChromePath() const { return Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks"; }
    std::wstring BravePath() const { return Local() + L"\\BraveSoftware\\Brave-Browser\\User Data\\Default\\Bookmarks"; }

    int BrowserIndex(BrowserKind kind) const {
        for (size_t i = 0; i < app.browsers.size(); ++i)
            if (app.browsers[i].kind == kind) return static_cast<int>(i);
        return -1;
    }
    int64_t MakeProfile(const std::wstring& name, const std::vector<BookmarkRecord>& records = {}) {
        const int64_t id = app.db.CreateProfile(name);
        if (!records.empty()) app.db.AddBookmarks(id, records);
        app.RefreshProfiles();
        return id;
    }
    std::vector<std::wstring> Urls(const std::vector<BookmarkRecord>& records) {
        std::vector<std::wstring> urls;
        for (const BookmarkRecord& record : records) urls.push_back(NormalizeUrl(record.url));
        std::sort(urls.begin(), urls.end());
        return urls;
    }
    std::vector<std::wstring> BraveUrls() {
        std::wstring error;
        return Urls(ReadChromiumBookmarks(BravePath(), &error));
    }
    std::string Text() { return FrameText(ui, draw); }
    bool ConfirmShown() { return ui.Has("Replace Anyway"); }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(app.logMutex);
        app.logLines.clear();
    }

    // The combos report no label: the one drawn right after the labelled item `before`.
    bool ClickComboAfter(const std::string& before) {
        const std::vector<UiItem>& items = ui.items();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].label != before) continue;
            for (size_t j = i + 1; j < items.size(); ++j)
                if (items[j].label.empty()) return ui.ClickItem(items[j]);
        }
        return false;
    }

    // The item of that label drawn in the window (a dialog) of that name.
    const UiItem* InWindow(const std::string& label, const std::string& window) const {
        for (const UiItem* item : ui.FindAll(label))
            if (item->window == window) return item;
        return nullptr;
    }
    bool ClickIn(const std::string& label, const std::string& window) {
        const UiItem* item = InWindow(label, window);
        if (!item) return false;
        const UiItem target = *item;
        return ui.ClickItem(target);
    }

    // Large enough that every section of the left column, long rows included, lies inside it
    // (clipped widgets report no label).
    UiDriver ui{ImVec2(3000, 3000)};
    std::function<void()> draw;
};

TEST_F(ActionHubTest, SyncNowBuildsTheRequestOfEveryFormCombination) {
    const int64_t work = MakeProfile(L"Work");
    const int64_t home = MakeProfile(L"Закладки");  // sorted after "Work"
    const int chrome = BrowserIndex(BrowserKind::Chrome);
    const int brave = BrowserIndex(BrowserKind::Brave);
    struct Case {
        int sourceType, sourceIndex, destMode, destBrowserIndex, destProfileIndex;
        SyncRequest expected;
    };
    auto request = [](int32_t sourceType, int32_t sourceKind, int64_t sourceId, std::wstring name, int32_t destMode,
                      int32_t destKind, int64_t destId) {
        SyncRequest r;
        r.sourceType = sourceType;
        r.sourceBrowserKind = sourceKind;
        r.sourceProfileId = sourceId;
        r.sourceName = std::move(name);
        r.destMode = destMode;
        r.destBrowserKind = destKind;
        r.destProfileId = destId;
        r.writeMode = 1;
        return r;
    };
    const Case cases[] = {
        {0, chrome, 0, brave, 1, request(0, kChrome, 0, L"Google Chrome", 0, kBrave, 0)},
        {0, brave, 1, brave, 1, request(0, kBrave, 0, L"Brave", 1, kNone, 0)},
        {0, chrome, 2, brave, 1, request(0, kChrome, 0, L"Google Chrome", 2, kNone, home)},
        {1, 1, 0, chrome, 0, request(1, kNone, home, L"Закладки", 0, kChrome, 0)},
        {1, 0, 1, chrome, 0, request(1, kNone, work, L"Work", 1, kNone, 0)},
        {1, 0, 2, chrome, 1, request(1, kNone, work, L"Work", 2, kNone, home)},
        // Indices past the end of their lists are lowered to the last entry before they are used.
        {1, 9, 2, chrome, 9, request(1, kNone, home, L"Закладки", 2, kNone, home)},
    };
    for (bool autoBackup : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(ToUtf8(c.expected.sourceName) + " mode " + std::to_string(c.destMode));
            app.autoBackup = autoBackup;
            app.writeMode = 1;  // replace with confirmation: the request waits in pendingRequest
            app.sourceType = c.sourceType;
            app.sourceIndex = c.sourceIndex;
            app.destMode = c.destMode;
            app.destBrowserIndex = c.destBrowserIndex;
            app.destProfileIndex = c.destProfileIndex;
            app.pendingRequest = SyncRequest();
            ui.Frame();
            ASSERT_TRUE(ui.Click("Sync Now"));
            ui.Frame();
            ASSERT_TRUE(ConfirmShown());
            const SyncRequest& got = app.pendingRequest;
            EXPECT_EQ(got.sourceType, c.expected.sourceType);
            EXPECT_EQ(got.sourceBrowserKind, c.expected.sourceBrowserKind);
            EXPECT_EQ(got.sourceProfileId, c.expected.sourceProfileId);
            EXPECT_EQ(got.sourceName, c.expected.sourceName);
            EXPECT_EQ(got.destMode, c.expected.destMode);
            EXPECT_EQ(got.destBrowserKind, c.expected.destBrowserKind);
            EXPECT_EQ(got.destProfileId, c.expected.destProfileId);
            EXPECT_EQ(got.writeMode, 1);
            EXPECT_EQ(got.autoBackup, autoBackup);
            // "Cancel" starts nothing and leaves the request where it was.
            ASSERT_TRUE(ui.Click("Cancel"));
            ui.Frame();
            EXPECT_FALSE(ConfirmShown());
            EXPECT_FALSE(app.syncRunning.load());
            EXPECT_FALSE(app.worker.joinable());
            EXPECT_EQ(app.pendingRequest.sourceName, c.expected.sourceName);
        }
    }
}

TEST_F(ActionHubTest, SyncNowIsDisabledExactlyWhenTheFormCannotNameASourceOrDestination) {
    const std::vector<BrowserInfo> detected = app.browsers;
    struct Case {
        bool browsers, profiles;
        int sourceType, destMode;
        bool disabled;
    };
    const Case cases[] = {
        {true, true, 0, 0, false},   {true, true, 1, 2, false},  {false, true, 0, 1, true},
        {false, true, 1, 1, false},  {false, true, 1, 0, true},  {false, true, 1, 2, false},
        {true, false, 1, 0, true},   {true, false, 0, 2, true},  {true, false, 0, 1, false},
        {false, false, 0, 1, true},  {true, true, 2, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("browsers " + std::to_string(c.browsers) + " profiles " + std::to_string(c.profiles) + " source " +
                     std::to_string(c.sourceType) + " dest " + std::to_string(c.destMode));
        app.browsers = c.browsers ? detected : std::vector<BrowserInfo>{};
        app.profiles.clear();
        if (c.profiles) app.profiles.push_back(ProfileRecord{42, L"P", 0, 0});
        app.sourceType = c.sourceType;
        app.sourceIndex = 0;
        app.destMode = c.destMode;
        app.destBrowserIndex = 1;  // another browser than the source
        app.destProfileIndex = 0;
        app.writeMode = 1;
        app.confirmBeforeSync = true;
        ui.Frame();
        ASSERT_TRUE(ui.Click("Sync Now"));
        ui.Frame();
        EXPECT_EQ(ConfirmShown(), !c.disabled);
        if (ConfirmShown()) {
            ASSERT_TRUE(ui.Click("Cancel"));
            ui.Frame();
        }
    }

    // A choice still to be made, or one browser at both ends, leaves nothing to run.
    app.browsers = detected;
    app.profiles = {ProfileRecord{42, L"P", 0, 0}};
    struct Pair {
        int sourceType, sourceIndex, destMode, destBrowserIndex, destProfileIndex;
        const char* shown;
    };
    const Pair pairs[] = {
        {0, -1, 0, 1, 0, "(choose a browser)"},
        {0, 0, 0, -1, 0, "(choose a browser)"},
        {1, -1, 2, 0, 0, "(choose a profile)"},
        {0, 0, 2, 0, -1, "(choose a profile)"},
        {0, 2, 0, 2, 0, "Source and destination must be different."},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(std::string(p.shown) + " " + std::to_string(p.sourceIndex) + " " + std::to_string(p.destBrowserIndex));
        app.sourceType = p.sourceType;
        app.sourceIndex = p.sourceIndex;
        app.destMode = p.destMode;
        app.destBrowserIndex = p.destBrowserIndex;
        app.destProfileIndex = p.destProfileIndex;
        EXPECT_NE(Text().find(p.shown), std::string::npos);
        ASSERT_TRUE(ui.Click("Sync Now"));
        ui.Frame();
        EXPECT_FALSE(ConfirmShown());
    }
    EXPECT_FALSE(app.syncRunning.load());

    app.browsers.clear();
    app.sourceType = 0;
    const std::string text = Text();
    EXPECT_NE(LineWith(text, "No browsers detected."), "");

    // While a job runs: disabled, relabelled, with the moving bar, and another frame asked for.
    app.browsers = detected;
    app.sourceType = 0;
    app.destMode = 1;
    app.syncRunning = true;
    app.redrawPending = false;
    ui.Frame();
    EXPECT_FALSE(ui.Has("Sync Now"));
    ASSERT_TRUE(ui.Click("Syncing..."));
    ui.Frame();
    EXPECT_FALSE(ConfirmShown());
    EXPECT_TRUE(app.redrawPending);
    EXPECT_NE(LineWith(Text(), "Syncing..."), "");
    EXPECT_NE(Text().find(" working"), std::string::npos);
    app.syncRunning = false;
}

TEST_F(ActionHubTest, AConfirmedReplaceRunsAndMergeOrNoConfirmationGoStraightToTheJob) {
    app.sourceType = 0;
    app.sourceIndex = BrowserIndex(BrowserKind::Chrome);
    app.destMode = 0;
    app.destBrowserIndex = BrowserIndex(BrowserKind::Brave);

    // Merge never asks, whatever the setting.
    app.writeMode = 0;
    ASSERT_TRUE(ui.Click("Sync Now"));
    EXPECT_FALSE(ConfirmShown());
    WaitForJobEnd();
    EXPECT_EQ(BraveUrls(), (std::vector<std::wstring>{L"https://a.example", L"https://b.example", L"https://old.example"}));

    // Replace with confirmation: nothing runs until "Replace Anyway".
    WriteBookmarks(BravePath(), {Bookmark(L"https://old.example/", L"Old")});
    app.writeMode = 1;
    ui.Frame();
    ASSERT_TRUE(ui.Click("Sync Now"));
    ui.Frame();
    ASSERT_TRUE(ConfirmShown());
    EXPECT_FALSE(app.syncRunning.load());
    const std::string text = Text();
    for (const char* line : {"This will DELETE all existing bookmarks at the destination,",
                             "then add the source's bookmarks in their place.",
                             "A backup/snapshot will be taken automatically first,",
                             "so this can be undone from Backups & Restore if needed."})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    ASSERT_TRUE(ui.Click("Replace Anyway"));
    WaitForJobEnd();
    ui.Frame(2);
    EXPECT_FALSE(ConfirmShown());
    EXPECT_EQ(BraveUrls(), (std::vector<std::wstring>{L"https://a.example", L"https://b.example"}));

    // Replace without confirmation goes straight to the job.
    WriteBookmarks(BravePath(), {Bookmark(L"https://old.example/", L"Old")});
    app.confirmBeforeSync = false;
    ASSERT_TRUE(ui.Click("Sync Now"));
    EXPECT_FALSE(ConfirmShown());
    WaitForJobEnd();
    EXPECT_EQ(BraveUrls(), (std::vector<std::wstring>{L"https://a.example", L"https://b.example"}));
}

TEST_F(ActionHubTest, ClickingTheFormSavesTheInterfaceStateEvenWithoutAChange) {
    MakeProfile(L"Work");
    ASSERT_TRUE(ui.Click("Saved Profile##src"));
    EXPECT_EQ(app.sourceType, 1);
    EXPECT_EQ(app.db.GetSetting(L"ui_source_type", L""), L"1");
    ASSERT_TRUE(ui.Click("Target Profile##dst"));
    EXPECT_EQ(app.db.GetSetting(L"ui_dest_mode", L""), L"2");
    ASSERT_TRUE(ui.Click("Replace (Delete Existing First)##mode"));
    EXPECT_EQ(app.db.GetSetting(L"ui_sync_write_mode", L""), L"1");
    EXPECT_NE(LineWith(Text(), "Warning: deletes ALL existing bookmarks at the destination first, then adds the source's."), "");

    app.db.SetSetting(L"ui_sync_write_mode", L"untouched");
    ASSERT_TRUE(ui.Click("Replace (Delete Existing First)##mode"));  // already chosen
    EXPECT_EQ(app.db.GetSetting(L"ui_sync_write_mode", L""), L"1");

    ASSERT_TRUE(ui.Click("Browser##src"));
    ASSERT_TRUE(ClickComboAfter("Saved Profile##src"));
    ui.Frame();
    ASSERT_TRUE(ui.Click("Brave"));
    EXPECT_EQ(app.sourceIndex, BrowserIndex(BrowserKind::Brave));
    EXPECT_EQ(app.db.GetSetting(L"ui_source_browser", L""), L"brave");
}

TEST_F(ActionHubTest, ProfileManagementKeepsEveryListAndTheDefaultInStep) {
    // The panel alone: the explorer would take up (and clear) its reload flag on the next frame.
    SetDraw([this] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(1400, 2000));
        ImGui::Begin("hub");
        app.DrawActionHub();
        ImGui::End();
    });
    ASSERT_TRUE(ui.Click("Manage Saved Profiles"));
    auto create = [this](const std::string& name) {
        ASSERT_TRUE(ui.Click("##newProfile"));
        ui.Type(name);
        ASSERT_TRUE(ui.Click("Create"));
    };

    ASSERT_TRUE(ui.Click("Create"));  // empty field: nothing
    EXPECT_TRUE(app.profiles.empty());

    create("Закладки");
    ASSERT_EQ(app.profiles.size(), 1u);
    const int64_t first = app.profiles[0].id;
    EXPECT_EQ(app.defaultProfileId, first);
    EXPECT_EQ(app.db.GetDefaultProfileId(), first);
    EXPECT_EQ(app.newProfileName[0], '\0');
    create("Café");
    ASSERT_EQ(app.profiles.size(), 2u);
    EXPECT_EQ(app.defaultProfileId, first);  // later profiles do not become the default

    // A duplicate name: one error line in words, shown under the field too; the list as the database holds it.
    ClearLog();
    create("Café");
    ASSERT_EQ(app.profiles.size(), 2u);
    std::vector<std::wstring> log = LogTexts();
    EXPECT_EQ(log, std::vector<std::wstring>{
                       L"[ERROR] Could not create the profile 'Café': A profile named 'Café' already exists."});
    EXPECT_NE(LineWith(Text(), "A profile named 'Café' already exists."), "");

    // The rows read like the combos: UTF-8 names, the default marked.
    std::string text = Text();
    EXPECT_NE(LineWith(text, "* Закладки (Default) [ Set Default ] [ Rename ] [ Delete ]"), "") << text;
    EXPECT_NE(LineWith(text, "Café [ Set Default ] [ Rename ] [ Delete ]"), "") << text;

    // Set Default on "Café" (the first row, the list is sorted by name).
    ASSERT_EQ(app.profiles[0].name, L"Café");
    const int64_t cafe = app.profiles[0].id;
    ClearLog();
    ASSERT_TRUE(ui.ClickItem(*ui.FindAll("Set Default")[0]));
    EXPECT_EQ(app.defaultProfileId, cafe);
    EXPECT_EQ(app.db.GetDefaultProfileId(), cafe);
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"'Café' is now the default profile."});

    // Rename "Café" to "書籤": the dialog starts with the old name.
    app.explorerReloadPending = false;
    ASSERT_TRUE(ui.ClickItem(*ui.FindAll("Rename")[0]));
    ui.Frame();
    EXPECT_EQ(app.renameProfileId, cafe);
    EXPECT_STREQ(app.renameBuf, "Café");
    ASSERT_TRUE(ui.Has("Save"));
    std::snprintf(app.renameBuf, sizeof(app.renameBuf), "%s", "書籤");
    ASSERT_TRUE(ui.Click("Save"));
    ui.Frame();
    EXPECT_FALSE(ui.Has("Save"));
    EXPECT_TRUE(app.explorerReloadPending);
    ASSERT_EQ(app.profiles.size(), 2u);
    EXPECT_EQ(app.profiles[1].name, L"書籤");

    // Renaming to a name another profile has: an error line in words, the dialog stays open saying
    // why, the names unchanged; Cancel closes it.
    ClearLog();
    ASSERT_TRUE(ui.ClickItem(*ui.FindAll("Rename")[1]));
    ui.Frame();
    std::snprintf(app.renameBuf, sizeof(app.renameBuf), "%s", "Закладки");
    ASSERT_TRUE(ui.Click("Save"));
    log = LogTexts();
    EXPECT_EQ(log, std::vector<std::wstring>{L"[ERROR] Could not rename the profile '書籤' to 'Закладки': "
                                             L"A profile named 'Закладки' already exists."});
    EXPECT_EQ(app.profiles[1].name, L"書籤");
    ui.Frame();
    ASSERT_TRUE(ui.Has("Save"));
    EXPECT_NE(LineWith(Text(), "A profile named 'Закладки' already exists."), "");
    ASSERT_TRUE(ClickIn("Cancel", "Rename Profile"));
    ui.Frame();
    EXPECT_FALSE(ui.Has("Save"));

    // Delete the default "書籤" while the form points past the end: no default, indices lowered.
    app.sourceType = 1;
    app.sourceIndex = 1;
    app.explorerReloadPending = false;
    ClearLog();
    ASSERT_TRUE(ui.ClickItem(*ui.FindAll("Delete")[1]));
    ui.Frame();
    ASSERT_TRUE(ClickIn("Delete", "Delete Profile"));
    ui.Frame();
    ASSERT_EQ(app.profiles.size(), 1u);
    EXPECT_EQ(app.profiles[0].name, L"Закладки");
    EXPECT_EQ(app.defaultProfileId, 0);
    EXPECT_EQ(app.db.GetDefaultProfileId(), 0);
    EXPECT_TRUE(app.explorerReloadPending);
    EXPECT_EQ(app.sourceIndex, -1);  // the source was the deleted profile: none until chosen
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"Deleted profile '書籤'."});
    EXPECT_EQ(ui.FindAll("Delete").size(), 1u);

    // With no default left, the next profile created becomes it. (The refused name is still in the field.)
    app.newProfileName[0] = '\0';
    create("Next");
    ASSERT_EQ(app.profiles.size(), 2u);
    EXPECT_EQ(app.defaultProfileId, app.db.GetDefaultProfileId());
    EXPECT_EQ(app.profiles[0].name, L"Next");
    EXPECT_EQ(app.defaultProfileId, app.profiles[0].id);
}

TEST_F(ActionHubTest, TheReplaceConfirmationNamesTheSourceAndTheDestinationsItWillEmpty) {
    const int64_t work = MakeProfile(L"Work");
    MakeProfile(L"Zuhause");
    const int chrome = BrowserIndex(BrowserKind::Chrome);
    const int brave = BrowserIndex(BrowserKind::Brave);
    struct Case {
        int sourceType, sourceIndex, destMode, destBrowserIndex, destProfileIndex;
        const char* source;
        const char* named;
    };
    // Chrome and Brave are the two browsers with a bookmarks file in the test tree.
    const Case cases[] = {
        {0, chrome, 0, brave, 0, "Source: Google Chrome", "Emptied first: Brave"},
        {0, brave, 0, chrome, 0, "Source: Brave", "Emptied first: Google Chrome"},
        {0, chrome, 1, 0, 0, "Source: Google Chrome", "Emptied first: Brave"},
        {1, 0, 1, 0, 0, "Source: saved profile 'Work'", "Emptied first: Google Chrome, Brave"},
        {0, chrome, 2, 0, 1, "Source: Google Chrome", "Emptied first: saved profile 'Zuhause'"},
        {1, 1, 2, 0, 0, "Source: saved profile 'Zuhause'", "Emptied first: saved profile 'Work'"},
    };
    app.writeMode = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        app.sourceType = c.sourceType;
        app.sourceIndex = c.sourceIndex;
        app.destMode = c.destMode;
        app.destBrowserIndex = c.destBrowserIndex;
        app.destProfileIndex = c.destProfileIndex;
        ui.Frame();
        ASSERT_TRUE(ui.Click("Sync Now"));
        ui.Frame();
        ASSERT_TRUE(ConfirmShown());
        const std::string text = Text();
        EXPECT_EQ(LineWith(text, "Source:"), c.source);
        EXPECT_EQ(LineWith(text, "Emptied first:"), c.named);
        ASSERT_TRUE(ui.Click("Cancel"));
        ui.Frame();
        EXPECT_FALSE(ConfirmShown());
    }
    EXPECT_FALSE(app.syncRunning.load());
    EXPECT_EQ(app.db.ListSnapshots(work).size(), 0u);  // nothing ran
}

TEST_F(ActionHubTest, DeleteAsksFirstNamingTheProfileWithItsBookmarkAndSnapshotCounts) {
    SetDraw([this] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(1400, 2000));
        ImGui::Begin("hub");
        app.DrawActionHub();
        ImGui::End();
    });
    const int64_t trip = MakeProfile(L"Reisen 2025", {Bookmark(L"https://a.example/", L"A"),
                                                      Bookmark(L"https://b.example/", L"B"),
                                                      Bookmark(L"https://c.example/", L"C")});
    app.db.CreateSnapshot(trip, L"One");
    app.db.CreateSnapshot(trip, L"Two");
    ASSERT_TRUE(ui.Click("Manage Saved Profiles"));
    ClearLog();

    ASSERT_TRUE(ui.Click("Delete"));
    ui.Frame();
    const std::string text = Text();
    EXPECT_NE(LineWith(text, "Delete the saved profile 'Reisen 2025'?"), "") << text;
    EXPECT_NE(LineWith(text, "Its 3 bookmark(s) and 2 snapshot(s) are deleted with it."), "") << text;
    EXPECT_EQ(app.db.ListProfiles().size(), 1u);  // asked, not done

    ASSERT_TRUE(ClickIn("Cancel", "Delete Profile"));
    ui.Frame();
    EXPECT_EQ(InWindow("Delete", "Delete Profile"), nullptr);
    EXPECT_EQ(app.db.GetBookmarks(trip).size(), 3u);
    EXPECT_EQ(app.db.ListSnapshots(trip).size(), 2u);
    EXPECT_TRUE(LogTexts().empty());

    ASSERT_TRUE(ui.Click("Delete"));
    ui.Frame();
    ASSERT_TRUE(ClickIn("Delete", "Delete Profile"));
    ui.Frame();
    EXPECT_TRUE(app.db.ListProfiles().empty());
    EXPECT_TRUE(app.profiles.empty());
    EXPECT_TRUE(app.db.ListSnapshots(trip).empty());
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"Deleted profile 'Reisen 2025'."});
}

TEST_F(ActionHubTest, ARenameStartsWithWholeCharactersOfALongName) {
    std::wstring name;
    for (int i = 0; i < 70; ++i) name += L"é";  // 140 bytes in UTF-8
    MakeProfile(name);
    ASSERT_TRUE(ui.Click("Manage Saved Profiles"));
    ASSERT_TRUE(ui.Click("Rename"));
    ui.Frame();
    EXPECT_EQ(std::string(app.renameBuf), ToUtf8(name.substr(0, 63)));  // 126 bytes: no half character
    ASSERT_TRUE(ui.Click("Cancel"));
    ui.Frame();
    EXPECT_EQ(app.profiles[0].name, name);
}

TEST_F(ActionHubTest, ProfileCopyReplacesTheDestinationAndNeedsTwoDifferentProfiles) {
    ASSERT_TRUE(ui.Click("Copy Profile -> Profile (Replace Destination)"));
    EXPECT_NE(LineWith(Text(), "Create at least one profile first."), "");

    const int64_t source = MakeProfile(L"A source", {Bookmark(L"https://s1.example/", L"S1"), Bookmark(L"https://s2.example/", L"S2")});
    ui.Frame();
    EXPECT_NE(LineWith(Text(), "Source and destination must be different."), "");
    ASSERT_TRUE(ui.Click("Copy & Replace Destination"));
    EXPECT_FALSE(ConfirmShown());
    EXPECT_FALSE(app.worker.joinable());

    const int64_t target = MakeProfile(L"B target", {Bookmark(L"https://t.example/", L"T")});
    app.copyFromProfileIndex = 0;
    app.copyToProfileIndex = 1;
    ui.Frame();
    ASSERT_TRUE(ui.Click("Copy & Replace Destination"));
    ui.Frame(2);  // the dialog opens on the frame after the click
    ASSERT_TRUE(ConfirmShown());
    EXPECT_EQ(app.pendingRequest.sourceType, 1);
    EXPECT_EQ(app.pendingRequest.sourceProfileId, source);
    EXPECT_EQ(app.pendingRequest.sourceName, L"A source");
    EXPECT_EQ(app.pendingRequest.destMode, 2);
    EXPECT_EQ(app.pendingRequest.destProfileId, target);
    EXPECT_EQ(app.pendingRequest.writeMode, 1);
    EXPECT_EQ(app.pendingRequest.sourceBrowserKind, kNone);
    EXPECT_EQ(app.pendingRequest.destBrowserKind, kNone);
    ASSERT_TRUE(ui.Click("Cancel"));

    app.confirmBeforeSync = false;
    ui.Frame();
    ASSERT_TRUE(ui.Click("Copy & Replace Destination"));
    EXPECT_FALSE(ConfirmShown());
    WaitForJobEnd();
    EXPECT_EQ(Urls(app.db.GetBookmarks(target)), (std::vector<std::wstring>{L"https://s1.example", L"https://s2.example"}));
    EXPECT_EQ(app.db.ListSnapshots(target).size(), 1u);  // replace always snapshots first
}

TEST_F(ActionHubTest, SavePathOverrideStoresThePathAndAnEmptyOneRemovesIt) {
    const std::wstring custom = dir / L"portable\\Bookmarks";
    WriteBookmarks(custom, {Bookmark(L"https://p.example/", L"P")});
    ASSERT_TRUE(ui.Click("Custom / Portable Browser Path"));
    app.customBrowserIndex = 0;
    ui.Frame();
    std::snprintf(app.customPath, sizeof(app.customPath), "%s", ToUtf8(custom).c_str());
    ClearLog();
    ASSERT_TRUE(ui.Click("Save Path Override"));
    const std::wstring name = app.browsers[0].displayName;
    EXPECT_EQ(app.db.GetBrowserConfig(BrowserKey(app.browsers[0].kind)).custom_path, custom);
    EXPECT_TRUE(app.browsers[0].hasCustomPath);
    EXPECT_TRUE(app.browsers[0].detected);
    EXPECT_EQ(app.browsers[0].bookmarksPath, custom);
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"Custom path set for " + name + L": " + custom});
    EXPECT_STREQ(app.customPath, ToUtf8(custom).c_str());  // the field keeps its text

    app.customPath[0] = '\0';
    ClearLog();
    ASSERT_TRUE(ui.Click("Save Path Override"));
    EXPECT_EQ(app.db.GetBrowserConfig(BrowserKey(app.browsers[0].kind)).custom_path, L"");
    EXPECT_FALSE(app.browsers[0].hasCustomPath);
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"Custom path removed for " + name +
                                                    L": its detected bookmarks file is used again."});

    // With no override to remove, an empty field is refused and says so.
    ClearLog();
    ASSERT_TRUE(ui.Click("Save Path Override"));
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"No path typed: " + name +
                                                    L" has no custom path, nothing was changed."});
}

}  // namespace
}  // namespace bm::test

namespace bm::test {
namespace {

// Answers the next "Select bookmarks file" dialog of this process: types `path` and presses OK, or
// cancels it when `path` is empty. Gives up after a while so that a test never hangs.
std::thread AnswerFileDialog(const std::wstring& path) {
    return std::thread([path] {
        for (int attempt = 0; attempt < 1200; ++attempt) {
            HWND dialog = FindWindowW(nullptr, L"Select bookmarks file (Bookmarks JSON or places.sqlite)");
            if (dialog != nullptr) {
                if (path.empty()) {
                    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                } else {
                    // The file name field: edt1 in the classic dialog, cmb13 in the Explorer one.
                    SetDlgItemTextW(dialog, 0x480, path.c_str());
                    SetDlgItemTextW(dialog, 0x47c, path.c_str());
                    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                }
                return;
            }
            Sleep(50);
        }
    });
}

TEST_F(ActionHubTest, BrowseFillsThePathFieldFromTheFileDialogAndCancelLeavesIt) {
    const std::wstring chosen = dir / L"Портативный\\Bookmarks";
    WriteBookmarks(chosen, {Bookmark(L"https://p.example/", L"P")});
    app.hwnd = nullptr;  // no owner window for the dialog
    ASSERT_TRUE(ui.Click("Custom / Portable Browser Path"));
    std::snprintf(app.customPath, sizeof(app.customPath), "%s", "before");

    std::thread answer = AnswerFileDialog(L"");
    ASSERT_TRUE(ui.Click("Browse..."));
    answer.join();
    EXPECT_STREQ(app.customPath, "before");

    answer = AnswerFileDialog(chosen);
    ASSERT_TRUE(ui.Click("Browse..."));
    answer.join();
    EXPECT_EQ(ToWide(app.customPath), chosen);
}

}  // namespace
}  // namespace bm::test
