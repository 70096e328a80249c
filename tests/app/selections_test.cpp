// Every choice of a profile or a browser in the window stays on the same profile (by id) or browser
// (by key) whatever happens to the lists: a profile created, imported, renamed or deleted, a refresh,
// a finished job's reload. A choice whose profile is gone names none until the user chooses again,
// never the entry that moved into its place nor the default. Driven through the whole frame over
// real stores.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/theme.h"
#include "core/browsers.h"
#include "core/portable_export.h"
#include "tests/app/panel_fixture.h"
#include "tests/app/panel_probe.h"

namespace bm::test {
namespace {

// The profile each selection names, by id (-1: the index names no profile).
struct Chosen {
    int64_t source, dest, explorer, exportSource, importTarget, backups, copyFrom, copyTo;
    bool operator==(const Chosen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Chosen& c) {
    return out << "source " << c.source << ", dest " << c.dest << ", explorer " << c.explorer << ", export source "
               << c.exportSource << ", import target " << c.importTarget << ", backups " << c.backups << ", copy "
               << c.copyFrom << " -> " << c.copyTo;
}

class SelectionsTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        bm::ui::ApplyTheme(0);
        DetectBrowsers();
        work = Make(L"Arbeit", 1);
        trip = Make(L"Reisen 2025", 3);
        home = Make(L"Zuhause", 2);
        app.db.SetDefaultProfileId(home);
        app.RefreshProfiles();

        // Large enough that the whole left column is on screen.
        ui.SetDisplaySize(ImVec2(2400, 3000));
        ui.SetDraw([this] {
            ImGui::LogToBuffer(0);  // the text drawn, for the tests that read it
            app.DrawFrame();
            shownText = ImGui::GetCurrentContext()->LogBuffer.c_str();
            ImGui::LogFinish();
        });
        ui.Frame();
        ASSERT_TRUE(ui.Click("Manage Saved Profiles"));
        ASSERT_TRUE(ui.Click("Import"));  // the section; its button is the second "Import"
        ui.Frame();
    }

    int64_t Make(const std::wstring& name, int bookmarks) {
        const int64_t id = app.db.CreateProfile(name);
        std::vector<BookmarkRecord> records;
        for (int i = 0; i < bookmarks; ++i)
            records.push_back(Bookmark(L"https://" + name.substr(0, 1) + std::to_wstring(i) + L".example/", L"B"));
        if (!records.empty()) app.db.AddBookmarks(id, records);
        return id;
    }

    int Index(int64_t id) const {
        for (size_t i = 0; i < app.profiles.size(); ++i)
            if (app.profiles[i].id == id) return static_cast<int>(i);
        ADD_FAILURE() << "no profile " << id;
        return -1;
    }
    int64_t IdAt(int32_t index) const {
        return index >= 0 && index < static_cast<int32_t>(app.profiles.size()) ? app.profiles[index].id : -1;
    }

    // Every profile selection of the window onto "Reisen 2025", except the destinations.
    Chosen ChooseTrip() {
        app.sourceType = 1;
        app.sourceIndex = Index(trip);
        app.destMode = 2;
        app.destProfileIndex = Index(home);
        app.explorerType = 1;
        app.explorerIndex = Index(trip);
        app.ieSourceType = 1;
        app.ieSourceIndex = Index(trip);
        app.importAsNew = 1;
        app.ieDestProfileIndex = Index(work);
        app.backupProfileIndex = Index(trip);
        app.copyFromProfileIndex = Index(trip);
        app.copyToProfileIndex = Index(work);
        ui.Frame(2);
        EXPECT_EQ(app.ExplorerRowCount(), 3u);
        return Now();
    }

    std::vector<int64_t> Order() const {
        std::vector<int64_t> ids;
        for (const ProfileRecord& profile : app.profiles) ids.push_back(profile.id);
        return ids;
    }

    Chosen Now() const {
        return {IdAt(app.sourceIndex),          IdAt(app.destProfileIndex),   IdAt(app.explorerIndex),
                IdAt(app.ieSourceIndex),        IdAt(app.ieDestProfileIndex), IdAt(app.backupProfileIndex),
                IdAt(app.copyFromProfileIndex), IdAt(app.copyToProfileIndex)};
    }

    void ImportIntoNewProfile(const std::wstring& name) {
        const std::wstring file = dir / L"import.json";
        std::wstring error;
        ASSERT_TRUE(ExportBookmarks({Bookmark(L"https://imported.example/", L"I")}, file, &error)) << ToUtf8(error);
        std::snprintf(app.importPath, sizeof app.importPath, "%s", ToUtf8(file).c_str());
        std::snprintf(app.importNewProfileName, sizeof app.importNewProfileName, "%s", ToUtf8(name).c_str());
        ui.Frame();
        const std::vector<const UiItem*> found = ui.FindAll("Import");
        ASSERT_EQ(found.size(), 2u);
        const UiItem button = *found[1];
        ASSERT_TRUE(ui.ClickItem(button));
        ui.Frame();
    }

    // "Delete" on the profile's row, then "Delete" in the question.
    void DeleteProfile(int64_t id) {
        ui.Frame();
        const std::vector<const UiItem*> rows = ui.FindAll("Delete");
        ASSERT_GT(rows.size(), static_cast<size_t>(Index(id)));
        const UiItem row = *rows[Index(id)];
        ASSERT_TRUE(ui.ClickItem(row));
        ui.Frame();
        ASSERT_TRUE(ClickIn("Delete", "Delete Profile"));
        ui.Frame(2);
    }

    int64_t work = 0, trip = 0, home = 0;
};

TEST_F(SelectionsTest, AnImportIntoANewProfileThatSortsFirstMovesNoSelection) {
    const Chosen before = ChooseTrip();
    ImportIntoNewProfile(L"Import aus HTML");
    ASSERT_EQ(app.profiles.size(), 4u);
    ASSERT_EQ(app.profiles[1].name, L"Import aus HTML");  // before "Reisen 2025"

    EXPECT_EQ(Now(), before);
    EXPECT_EQ(app.ExplorerRowCount(), 3u);  // still the rows of "Reisen 2025"

    // Sync Now runs from the profile the user chose, into the one chosen, and says so first.
    app.writeMode = 1;
    ui.Frame();
    ASSERT_TRUE(ui.Click("Sync Now"));
    ui.Frame();
    EXPECT_EQ(app.pendingRequest.sourceProfileId, trip);
    EXPECT_EQ(app.pendingRequest.sourceName, L"Reisen 2025");
    EXPECT_EQ(app.pendingRequest.destProfileId, home);
    EXPECT_EQ(LineWith(FrameText(ui, [this] { app.DrawFrame(); }), "Emptied first:"),
              "Emptied first: saved profile 'Zuhause'");
    ASSERT_TRUE(ClickIn("Cancel", "Confirm Replace Sync"));

    // What is stored for the next start names the same profiles.
    app.SaveUiState();
    EXPECT_EQ(app.db.GetSetting(L"ui_source_profile", L""), std::to_wstring(trip));
    EXPECT_EQ(app.db.GetSetting(L"ui_explorer_profile", L""), std::to_wstring(trip));
    EXPECT_EQ(app.db.GetSetting(L"ui_ie_source_profile", L""), std::to_wstring(trip));
    EXPECT_EQ(app.db.GetSetting(L"ui_ie_dest_profile", L""), std::to_wstring(work));
}

TEST_F(SelectionsTest, EverySelectionFollowsItsProfileThroughEachChangeOfTheList) {
    const Chosen before = ChooseTrip();
    struct Step {
        const char* what;
        std::function<void()> act;
    };
    const Step steps[] = {
        {"a profile created that sorts first",
         [&] {
             ASSERT_TRUE(ui.Click("##newProfile"));
             ui.Type("0 Neu");
             ASSERT_TRUE(ui.Click("Create"));
         }},
        {"the chosen profile renamed to sort first",
         [&] {
             const UiItem rename = *ui.FindAll("Rename")[Index(trip)];
             ASSERT_TRUE(ui.ClickItem(rename));
             ui.Frame();
             std::snprintf(app.renameBuf, sizeof app.renameBuf, "%s", "00 Reisen");
             ASSERT_TRUE(ui.Click("Save"));
         }},
        {"another profile renamed to sort last", [&] { ASSERT_TRUE(app.db.RenameProfile(work, L"~ Arbeit")); app.RefreshProfiles(); }},
        {"F5 after a profile appeared elsewhere",
         [&] {
             app.db.CreateProfile(L"000 Extern");
             ui.PressKey(ImGuiKey_F5);
         }},
        {"a finished job's reload",
         [&] {
             app.db.CreateProfile(L"0000 Noch einer");
             SyncRequest job;
             job.sourceType = 1;
             job.sourceProfileId = home;
             job.sourceName = L"Zuhause";
             job.destMode = 2;
             job.destProfileId = work;
             app.StartSync(job);
             WaitForJobEnd();
             app.HandleFinishedSync();
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const std::vector<int64_t> order = Order();
        step.act();
        ui.Frame(2);
        EXPECT_NE(Order(), order);  // positions did move
        EXPECT_EQ(Now(), before);
        EXPECT_EQ(app.ExplorerRowCount(), 3u);
    }
}

TEST_F(SelectionsTest, DeletingAnotherProfileKeepsEverySelectionAndEmptiesOnlyItsOwn) {
    Chosen expected = ChooseTrip();
    DeleteProfile(work);  // the first row: "Reisen 2025" moves into its place
    ASSERT_EQ(app.profiles.size(), 2u);
    expected.importTarget = -1;  // no profile, neither the default nor the entry now at its position
    expected.copyTo = -1;
    EXPECT_EQ(Now(), expected);
    EXPECT_EQ(app.ExplorerRowCount(), 3u);
}

TEST_F(SelectionsTest, AfterDeletingTheChosenProfileEveryPanelAsksToChooseAndNothingRunsUntilChosen) {
    ChooseTrip();
    app.writeMode = 0;  // a merge would start at once
    DeleteProfile(trip);
    EXPECT_EQ(Now(), (Chosen{-1, home, -1, -1, work, -1, -1, work}));
    EXPECT_EQ(app.ExplorerRowCount(), 0u);
    ui.Frame();
    // The action hub's source, the explorer and the backups panel (the export section is closed).
    size_t asking = 0;
    for (size_t at = shownText.find("(choose a profile)"); at != std::string::npos;
         at = shownText.find("(choose a profile)", at + 1))
        ++asking;
    EXPECT_GE(asking, 3u) << shownText;
    EXPECT_TRUE(Shows("Choose a profile to see its snapshots.")) << shownText;

    // "Sync Now" has no source: a click starts nothing.
    NewLogLines();
    ASSERT_TRUE(ui.Click("Sync Now"));
    ui.Frame();
    EXPECT_FALSE(app.worker.joinable());
    EXPECT_TRUE(NewLogLines().empty());

    // Deleting the default profile that the destination names empties the destination too.
    DeleteProfile(home);
    EXPECT_EQ(app.defaultProfileId, 0);
    EXPECT_EQ(Now(), (Chosen{-1, -1, -1, -1, work, -1, -1, work}));
}

TEST_F(SelectionsTest, ARefreshKeepsEveryBrowserSelectionOnItsBrowser) {
    auto kindAt = [this](int32_t index) { return app.browsers.at(static_cast<size_t>(index)).kind; };
    auto indexOf = [this](BrowserKind kind) {
        for (size_t i = 0; i < app.browsers.size(); ++i)
            if (app.browsers[i].kind == kind) return static_cast<int32_t>(i);
        return -1;
    };
    // A list in another order than detection gives, so that every position moves on refresh.
    std::reverse(app.browsers.begin(), app.browsers.end());
    app.sourceType = 0;
    app.sourceIndex = indexOf(BrowserKind::Edge);
    app.destMode = 0;
    app.destBrowserIndex = indexOf(BrowserKind::Brave);
    app.backupBrowserIndex = indexOf(BrowserKind::Chrome);
    app.customBrowserIndex = indexOf(BrowserKind::Firefox);
    app.explorerType = 0;
    app.explorerIndex = indexOf(BrowserKind::Chrome);
    app.ieSourceType = 0;
    app.ieSourceIndex = indexOf(BrowserKind::Brave);
    const BrowserKind reversedFirst = app.browsers.front().kind;

    ui.PressKey(ImGuiKey_F5);
    ASSERT_NE(app.browsers.front().kind, reversedFirst);
    EXPECT_EQ(kindAt(app.sourceIndex), BrowserKind::Edge);
    EXPECT_EQ(kindAt(app.destBrowserIndex), BrowserKind::Brave);
    EXPECT_EQ(kindAt(app.backupBrowserIndex), BrowserKind::Chrome);
    EXPECT_EQ(kindAt(app.customBrowserIndex), BrowserKind::Firefox);
    EXPECT_EQ(kindAt(app.explorerIndex), BrowserKind::Chrome);
    EXPECT_EQ(kindAt(app.ieSourceIndex), BrowserKind::Brave);
}

// The combos report no label: the first unlabelled item drawn after the labelled item `before`.
bool ClickComboAfter(UiDriver& ui, const std::string& before) {
    const std::vector<UiItem>& items = ui.items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].label != before) continue;
        for (size_t j = i + 1; j < items.size(); ++j)
            if (items[j].label.empty()) return ui.ClickItem(items[j]);
    }
    return false;
}

int32_t BrowserAt(const bm::ui::App& app, BrowserKind kind) {
    for (size_t i = 0; i < app.browsers.size(); ++i)
        if (app.browsers[i].kind == kind) return static_cast<int32_t>(i);
    return -1;
}

TEST_F(SelectionsTest, EachKindOfSourceKeepsItsOwnChoiceAndAProfileIsNeverTakenForABrowser) {
    ASSERT_TRUE(ui.Click("Export"));
    ui.Frame();
    struct Pair {
        const char* browserRadio;
        const char* profileRadio;
        int32_t* index;
    };
    const Pair pairs[] = {{"Browser##src", "Saved Profile##src", &app.sourceIndex},
                          {"Browser##exp", "Saved Profile##exp", &app.explorerIndex},
                          {"Browser##ie", "Saved Profile##ie", &app.ieSourceIndex}};
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.browserRadio);
        // Mozilla Firefox chosen through its combo.
        ASSERT_TRUE(ui.Click(pair.browserRadio));
        ASSERT_TRUE(ClickComboAfter(ui, pair.profileRadio));
        ui.Frame();
        ASSERT_TRUE(ui.Click("Mozilla Firefox"));
        ui.Frame();
        ASSERT_EQ(*pair.index, BrowserAt(app, BrowserKind::Firefox));

        // The profile kind was never chosen: it asks, whatever profile stands at Firefox's position.
        ASSERT_TRUE(ui.Click(pair.profileRadio));
        ui.Frame();
        EXPECT_EQ(*pair.index, -1);
        EXPECT_TRUE(Shows("(choose a profile)")) << shownText;

        // Back to the browser: Firefox again, not the browser at a profile's position.
        ASSERT_TRUE(ui.Click(pair.browserRadio));
        ui.Frame();
        EXPECT_EQ(*pair.index, BrowserAt(app, BrowserKind::Firefox));

        // A profile chosen for the profile kind comes back the same way.
        ASSERT_TRUE(ui.Click(pair.profileRadio));
        ASSERT_TRUE(ClickComboAfter(ui, pair.profileRadio));
        ui.Frame();
        ASSERT_TRUE(ui.Click("Zuhause"));
        ui.Frame();
        ASSERT_EQ(IdAt(*pair.index), home);
        ASSERT_TRUE(ui.Click(pair.browserRadio));
        ui.Frame();
        EXPECT_EQ(*pair.index, BrowserAt(app, BrowserKind::Firefox));
        ASSERT_TRUE(ui.Click(pair.profileRadio));
        ui.Frame();
        EXPECT_EQ(IdAt(*pair.index), home);
        ASSERT_TRUE(ui.Click(pair.browserRadio));
        ui.Frame();
    }
    app.SaveUiState();
    EXPECT_EQ(app.db.GetSetting(L"ui_source_browser", L""), L"firefox");
    EXPECT_EQ(app.db.GetSetting(L"ui_source_profile", L""), std::to_wstring(home));

    // A destination kind never chosen asks too: "Target Profile" is not the first profile.
    app.destProfileIndex = -1;
    ASSERT_TRUE(ui.Click("Target Profile##dst"));
    ui.Frame();
    EXPECT_EQ(app.destProfileIndex, -1);
    ASSERT_TRUE(ui.Click("Single Browser##dst"));
    ui.Frame();
    app.destBrowserIndex = BrowserAt(app, BrowserKind::Brave);
    ASSERT_TRUE(ui.Click("Target Profile##dst"));
    ui.Frame();
    EXPECT_EQ(app.destProfileIndex, -1);
    ASSERT_TRUE(ui.Click("Single Browser##dst"));
    ui.Frame();
    EXPECT_EQ(app.destBrowserIndex, BrowserAt(app, BrowserKind::Brave));
}

TEST_F(SelectionsTest, EmptyChoicesStayEmptyOverARestartAndAFreshStartChoosesNothing) {
    ChooseTrip();
    app.sourceType = 0;  // the profile source is put aside, still on "Reisen 2025"
    std::swap(app.sourceIndex, app.sourceOtherKindIndex);
    app.sourceIndex = BrowserAt(app, BrowserKind::Edge);
    DeleteProfile(trip);
    app.SaveUiState();
    EXPECT_EQ(app.sourceOtherKindIndex, -1);

    // The next start, over the same database.
    bm::ui::App next;
    ASSERT_TRUE(next.OpenDatabase(dir / L"app_data.db"));
    next.browsers = DetectBrowsersIn(Local(), Roaming());
    next.RefreshProfiles();
    next.LoadUiState();
    auto idAt = [&next](int32_t index) {
        return index >= 0 && index < static_cast<int32_t>(next.profiles.size()) ? next.profiles[index].id : -1;
    };
    EXPECT_EQ(next.browsers[next.sourceIndex].kind, BrowserKind::Edge);
    EXPECT_EQ(next.sourceOtherKindIndex, -1);
    EXPECT_EQ(next.explorerIndex, -1);
    EXPECT_EQ(next.ieSourceIndex, -1);
    EXPECT_EQ(next.backupProfileIndex, -1);
    EXPECT_EQ(next.copyFromProfileIndex, -1);
    EXPECT_EQ(idAt(next.destProfileIndex), home);
    EXPECT_EQ(idAt(next.copyToProfileIndex), work);

    // A fresh start: nothing chosen, nothing that could run, no error before anything was done.
    TempDir freshDir;
    bm::ui::App fresh;
    ASSERT_TRUE(fresh.OpenDatabase(freshDir / L"app_data.db"));
    fresh.dbOpen = true;
    fresh.browsers = DetectBrowsersIn(Local(), Roaming());
    for (const wchar_t* name : {L"Eins", L"Zwei"}) fresh.db.CreateProfile(name);
    fresh.RefreshProfiles();
    fresh.LoadUiState();
    UiDriver freshUi(ImVec2(2400, 3000));
    std::string text;
    freshUi.SetDraw([&] {
        ImGui::LogToBuffer(0);
        fresh.DrawFrame();
        text = ImGui::GetCurrentContext()->LogBuffer.c_str();
        ImGui::LogFinish();
    });
    freshUi.Frame();
    ASSERT_TRUE(freshUi.Click("Copy Profile -> Profile (Replace Destination)"));
    freshUi.Frame();
    EXPECT_NE(text.find("(choose a browser)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Source and destination must be different."), std::string::npos) << text;
    ASSERT_TRUE(freshUi.Click("Sync Now"));
    freshUi.Frame();
    EXPECT_FALSE(fresh.worker.joinable());
    EXPECT_FALSE(freshUi.Has("Replace Anyway"));
}

}  // namespace
}  // namespace bm::test
