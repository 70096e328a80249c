// Settings and interface state through app_data.db: defaults of a first start, tolerant parsing,
// a full save and load, and selections restored against lists that have changed.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <mutex>
#include <vector>

#include "app/app.h"
#include "app/setting_values.h"
#include "tests/database/database_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using bm::BrowserInfo;
using bm::BrowserKind;
using bm::ui::App;

const wchar_t kAbsent[] = L"<absent>";

std::vector<BrowserInfo> Browsers(std::initializer_list<BrowserKind> kinds) {
    std::vector<BrowserInfo> list;
    for (BrowserKind kind : kinds) {
        BrowserInfo info;
        info.kind = kind;
        info.displayName = bm::BrowserDisplayName(kind);
        list.push_back(info);
    }
    return list;
}

// A plain hidden top-level window, so that the App can read a window placement.
class TestWindow {
public:
    TestWindow() {
        hwnd = CreateWindowExW(0, L"STATIC", L"settings test", WS_OVERLAPPEDWINDOW, 150, 90, 1100, 700, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() {
        if (hwnd) DestroyWindow(hwnd);
    }
    HWND hwnd = nullptr;
};

class SettingsTest : public ::testing::Test {
protected:
    std::wstring DbPath() { return dir / L"app_data.db"; }
    void Open(App& app) { ASSERT_TRUE(app.OpenDatabase(DbPath())); }
    bm::test::TempDir dir;
};

TEST_F(SettingsTest, FirstStartGivesTheDefaults) {
    App app;
    Open(app);
    app.browsers = Browsers({BrowserKind::Chrome, BrowserKind::Edge});
    app.LoadSettings();
    app.RefreshProfiles();
    app.explorerReloadPending = false;
    app.LoadUiState();
    EXPECT_EQ(app.lightTheme, 0);
    EXPECT_TRUE(app.autoBackup);
    EXPECT_TRUE(app.confirmBeforeSync);
    EXPECT_EQ(app.fontSizeIndex, 1);
    EXPECT_FALSE(app.leftPaneWidthValid);
    EXPECT_FLOAT_EQ(app.consoleHeight, 150);
    EXPECT_FALSE(app.hasSavedPlacement);
    // Nothing chosen yet: a new user's first Sync Now cannot run Chrome into Chrome.
    EXPECT_EQ(app.sourceType, 0);
    EXPECT_EQ(app.sourceIndex, -1);
    EXPECT_EQ(app.sourceOtherKindIndex, -1);
    EXPECT_EQ(app.destMode, 0);
    EXPECT_EQ(app.destBrowserIndex, -1);
    EXPECT_EQ(app.destProfileIndex, -1);
    EXPECT_EQ(app.explorerIndex, -1);
    EXPECT_EQ(app.copyFromProfileIndex, -1);
    EXPECT_EQ(app.copyToProfileIndex, -1);
    EXPECT_EQ(app.importAsNew, 1);
    EXPECT_TRUE(app.explorerReloadPending);
}

struct StoredCase {
    const wchar_t* key;
    const wchar_t* value;
    int (*read)(const App&);
    int expected;
};

TEST_F(SettingsTest, StoredTextsParseOrFallBack) {
    const StoredCase cases[] = {
        {L"theme", L"light", [](const App& a) { return a.lightTheme; }, 1},
        {L"theme", L"Light", [](const App& a) { return a.lightTheme; }, 0},
        {L"auto_backup", L"false", [](const App& a) { return int(a.autoBackup); }, 1},
        {L"auto_backup", L"0", [](const App& a) { return int(a.autoBackup); }, 0},
        {L"confirm_before_sync", L"0", [](const App& a) { return int(a.confirmBeforeSync); }, 0},
        {L"confirm_before_sync", L" 0", [](const App& a) { return int(a.confirmBeforeSync); }, 1},
        {L"font_size", L"7", [](const App& a) { return a.fontSizeIndex; }, 3},
        {L"font_size", L"-2", [](const App& a) { return a.fontSizeIndex; }, 0},
        {L"font_size", L"abc", [](const App& a) { return a.fontSizeIndex; }, 1},
        {L"font_size", L"2xyz", [](const App& a) { return a.fontSizeIndex; }, 2},
        {L"font_size", L"99999999999999999999", [](const App& a) { return a.fontSizeIndex; }, 1},
        {L"left_pane_width", L"319.9", [](const App& a) { return int(a.leftPaneWidthValid); }, 0},
        {L"left_pane_width", L"320", [](const App& a) { return int(a.leftPaneWidth); }, 320},
        {L"left_pane_width", L"  455.5px", [](const App& a) { return int(a.leftPaneWidth * 10); }, 4555},
        {L"console_height", L"89.5", [](const App& a) { return int(a.consoleHeight); }, 150},
        {L"console_height", L"90", [](const App& a) { return int(a.consoleHeight); }, 90},
        {L"console_height", L"tall", [](const App& a) { return int(a.consoleHeight); }, 150},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " = " << bm::ToUtf8(c.value));
        bm::test::TempDir caseDir;
        App app;
        ASSERT_TRUE(app.OpenDatabase(caseDir / L"app_data.db"));
        app.db.SetSetting(c.key, c.value);
        app.LoadSettings();
        EXPECT_EQ(c.read(app), c.expected);
    }
}

TEST_F(SettingsTest, InterfaceModesAreClamped) {
    App app;
    Open(app);
    app.db.SetSetting(L"ui_dest_mode", L"5");
    app.db.SetSetting(L"ui_source_type", L"-1");
    app.db.SetSetting(L"ui_sync_write_mode", L"3");
    app.db.SetSetting(L"ui_ie_import_as_new", L"x");
    app.LoadUiState();
    EXPECT_EQ(app.destMode, 2);
    EXPECT_EQ(app.sourceType, 0);
    EXPECT_EQ(app.writeMode, 1);
    EXPECT_EQ(app.importAsNew, 1);
    app.db.SetSetting(L"ui_dest_mode", L"-1");
    app.LoadUiState();
    EXPECT_EQ(app.destMode, 0);
}

TEST_F(SettingsTest, SavedWindowPlacementIsUsedOnlyWhenItIsOnAMonitor) {
    struct PlacementCase {
        int left, top, right, bottom, show;
        bool used;
        UINT showCmd;
    };
    const PlacementCase cases[] = {
        {100, 80, 900, 580, 2, true, SW_SHOWNORMAL},  // saved while minimised: back normal
        {100, 80, 900, 580, 3, true, SW_SHOWMAXIMIZED},
        {100, 80, 100, 580, 1, false, 0},            // empty
        {-90000, -90000, -89000, -89500, 1, false, 0},  // on no monitor
        {INT_MIN, 80, 900, 580, 1, false, 0},
    };
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << "," << c.top << "," << c.right << "," << c.bottom);
        bm::test::TempDir caseDir;
        App app;
        ASSERT_TRUE(app.OpenDatabase(caseDir / L"app_data.db"));
        app.db.SetSetting(L"win_left", std::to_wstring(c.left));
        app.db.SetSetting(L"win_top", std::to_wstring(c.top));
        app.db.SetSetting(L"win_right", std::to_wstring(c.right));
        app.db.SetSetting(L"win_bottom", std::to_wstring(c.bottom));
        app.db.SetSetting(L"win_show", std::to_wstring(c.show));
        app.LoadSettings();
        EXPECT_EQ(app.hasSavedPlacement, c.used);
        if (!c.used) continue;
        EXPECT_EQ(app.savedPlacement.showCmd, c.showCmd);
        EXPECT_EQ(app.savedPlacement.rcNormalPosition.left, c.left);
        EXPECT_EQ(app.savedPlacement.rcNormalPosition.bottom, c.bottom);
        EXPECT_EQ(app.savedPlacement.length, sizeof(WINDOWPLACEMENT));
    }
}

TEST_F(SettingsTest, SaveAndLoadKeepEveryGeneralSettingAndThePlacement) {
    TestWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    WINDOWPLACEMENT actual = {};
    actual.length = sizeof(actual);
    ASSERT_TRUE(GetWindowPlacement(window.hwnd, &actual));
    const RECT expected = actual.rcNormalPosition;
    {
        App app;
        Open(app);
        app.hwnd = window.hwnd;
        app.lightTheme = 1;
        app.fontSizeIndex = 3;
        app.autoBackup = false;
        app.confirmBeforeSync = false;
        app.leftPaneWidth = 455.5f;
        app.consoleHeight = 212.25f;
        app.SaveSettings();
        EXPECT_EQ(app.db.GetSetting(L"left_pane_width", kAbsent), L"455.500000");
        EXPECT_EQ(app.db.GetSetting(L"win_left", kAbsent), std::to_wstring(expected.left));
        EXPECT_EQ(app.db.GetSetting(L"win_bottom", kAbsent), std::to_wstring(expected.bottom));
        EXPECT_EQ(app.db.GetSetting(L"win_show", kAbsent), std::to_wstring(actual.showCmd));
        EXPECT_NE(app.db.GetSetting(L"ui_dest_mode", kAbsent), kAbsent);  // the interface state came along
        app.hwnd = nullptr;
    }
    App app;
    Open(app);
    app.LoadSettings();
    EXPECT_EQ(app.lightTheme, 1);
    EXPECT_EQ(app.fontSizeIndex, 3);
    EXPECT_FALSE(app.autoBackup);
    EXPECT_FALSE(app.confirmBeforeSync);
    EXPECT_TRUE(app.leftPaneWidthValid);
    EXPECT_FLOAT_EQ(app.leftPaneWidth, 455.5f);
    EXPECT_FLOAT_EQ(app.consoleHeight, 212.25f);
    ASSERT_TRUE(app.hasSavedPlacement);
    const RECT& r = app.savedPlacement.rcNormalPosition;
    EXPECT_EQ(r.left, expected.left);
    EXPECT_EQ(r.top, expected.top);
    EXPECT_EQ(r.right, expected.right);
    EXPECT_EQ(r.bottom, expected.bottom);
    EXPECT_EQ(r.left, 150);
}

TEST_F(SettingsTest, SaveWritesNothingWithoutAWindow) {
    App app;
    Open(app);
    app.SaveSettings();
    EXPECT_EQ(app.db.GetSetting(L"theme", kAbsent), kAbsent);
    EXPECT_EQ(app.db.GetSetting(L"ui_dest_mode", kAbsent), kAbsent);
}

// A start that fails after the window exists has empty lists: saving then would replace the
// stored selections with fallbacks. Only a completed start saves at shutdown.
TEST_F(SettingsTest, ShutdownSavesOnlyAfterACompletedStart) {
    for (const bool completed : {false, true}) {
        SCOPED_TRACE(completed ? "completed start" : "failed start");
        bm::test::TempDir folder;
        const std::wstring path = folder / L"app_data.db";
        {
            bm::AppDatabase db;
            ASSERT_TRUE(db.Open(path));
            db.SetSetting(L"theme", L"light");
            db.SetSetting(L"ui_dest_profile", L"7");
            db.SetSetting(L"ui_dest_browser", L"firefox");
        }
        TestWindow window;
        ASSERT_NE(window.hwnd, nullptr);
        {
            App app;
            ASSERT_TRUE(app.OpenDatabase(path));
            app.LoadSettings();
            app.lightTheme = 0;  // what the failed start would otherwise write back
            app.hwnd = window.hwnd;
            app.startupComplete = completed;
            app.Shutdown();
            EXPECT_EQ(app.hwnd, nullptr);
        }
        window.hwnd = nullptr;  // Shutdown destroyed it
        bm::AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        EXPECT_EQ(db.GetSetting(L"theme", kAbsent), completed ? L"dark" : L"light");
        EXPECT_EQ(db.GetSetting(L"ui_dest_profile", kAbsent), completed ? L"0" : L"7");
        EXPECT_EQ(db.GetSetting(L"ui_dest_browser", kAbsent), completed ? L"" : L"firefox");
        EXPECT_EQ(db.GetSetting(L"win_left", kAbsent) != kAbsent, completed);
    }
}

TEST_F(SettingsTest, SelectionsAreStoredByKeyAndIdAndRestoredAgainstChangedLists) {
    int64_t work = 0, home = 0, old = 0;
    {
        App app;
        Open(app);
        work = app.db.CreateProfile(L"Work");
        home = app.db.CreateProfile(L"Home");
        old = app.db.CreateProfile(L"Old");
        app.db.SetDefaultProfileId(home);
        app.RefreshProfiles();  // sorted by name: Home, Old, Work
        ASSERT_EQ(app.profiles.size(), 3u);
        app.browsers = Browsers({BrowserKind::Chrome, BrowserKind::Edge, BrowserKind::Vivaldi, BrowserKind::Firefox});

        auto indexOf = [&app](int64_t id) {
            for (size_t i = 0; i < app.profiles.size(); ++i)
                if (app.profiles[i].id == id) return int(i);
            return -1;
        };
        app.sourceType = 0;
        app.sourceIndex = 2;  // vivaldi
        app.destMode = 2;
        app.destBrowserIndex = 3;  // firefox
        app.destProfileIndex = indexOf(work);
        app.writeMode = 1;
        app.explorerType = 1;
        app.explorerIndex = indexOf(old);
        app.backupBrowserIndex = 1;  // edge
        app.backupProfileIndex = indexOf(old);
        app.ieSourceType = 0;
        app.ieSourceIndex = 3;  // firefox
        app.ieDestProfileIndex = indexOf(work);
        app.importAsNew = 0;
        app.customBrowserIndex = 7;  // past the end: stored as no key
        app.copyFromProfileIndex = indexOf(work);
        app.copyToProfileIndex = -1;  // stored as "0"
        app.SaveUiState();
        EXPECT_EQ(app.db.GetSetting(L"ui_source_browser", kAbsent), L"vivaldi");
        EXPECT_EQ(app.db.GetSetting(L"ui_source_profile", kAbsent), kAbsent);
        EXPECT_EQ(app.db.GetSetting(L"ui_explorer_browser", kAbsent), kAbsent);
        EXPECT_EQ(app.db.GetSetting(L"ui_explorer_profile", kAbsent), std::to_wstring(old));
        EXPECT_EQ(app.db.GetSetting(L"ui_custom_browser", kAbsent), L"");
        EXPECT_EQ(app.db.GetSetting(L"ui_copy_to_profile", kAbsent), L"0");

        // With a profile source, the browser key of the source keeps its old value.
        app.sourceType = 1;
        app.sourceIndex = indexOf(work);
        app.SaveUiState();
        EXPECT_EQ(app.db.GetSetting(L"ui_source_browser", kAbsent), L"vivaldi");
        EXPECT_EQ(app.db.GetSetting(L"ui_source_profile", kAbsent), std::to_wstring(work));

        ASSERT_TRUE(app.db.DeleteProfile(old));
    }

    // Next start: the browser list in another order, "Old" gone, "Aaa" sorted first.
    App app;
    Open(app);
    const int64_t aaa = app.db.CreateProfile(L"Aaa");
    app.browsers = Browsers({BrowserKind::Firefox, BrowserKind::Vivaldi, BrowserKind::Edge, BrowserKind::Chrome});
    app.RefreshProfiles();  // Aaa, Home, Work
    ASSERT_EQ(app.profiles.size(), 3u);
    ASSERT_EQ(app.profiles[1].id, home);
    app.LoadUiState();
    EXPECT_EQ(app.sourceType, 1);
    EXPECT_EQ(app.profiles[app.sourceIndex].id, work);
    EXPECT_EQ(app.destMode, 2);
    EXPECT_EQ(app.destBrowserIndex, 0);  // firefox
    EXPECT_EQ(app.profiles[app.destProfileIndex].id, work);
    EXPECT_EQ(app.writeMode, 1);
    EXPECT_EQ(app.explorerType, 1);
    EXPECT_EQ(app.explorerIndex, -1);      // "Old" is gone: none, not another profile
    EXPECT_EQ(app.explorerOtherKindIndex, -1);  // never chosen as a browser
    EXPECT_EQ(app.backupBrowserIndex, 2);  // edge
    EXPECT_EQ(app.backupProfileIndex, -1);
    EXPECT_EQ(app.ieSourceType, 0);
    EXPECT_EQ(app.ieSourceIndex, 0);  // firefox
    EXPECT_EQ(app.profiles[app.ieDestProfileIndex].id, work);
    EXPECT_EQ(app.importAsNew, 0);
    EXPECT_EQ(app.customBrowserIndex, -1);  // no key: none
    EXPECT_EQ(app.profiles[app.copyFromProfileIndex].id, work);
    EXPECT_EQ(app.copyToProfileIndex, -1);  // "0": none, not the default profile
    // The source's browser kind kept its own choice beside the profile shown.
    EXPECT_EQ(app.browsers[app.sourceOtherKindIndex].kind, BrowserKind::Vivaldi);

    // Without a default profile a vanished profile is no choice either, not the first position.
    app.db.SetDefaultProfileId(0);
    app.RefreshProfiles();
    app.LoadUiState();
    EXPECT_EQ(app.explorerIndex, -1);
    EXPECT_EQ(app.profiles[0].id, aaa);
}

TEST_F(SettingsTest, BrowserKeysMapToPositionsExactly) {
    App app;
    app.browsers = Browsers({BrowserKind::Chrome, BrowserKind::Opera, BrowserKind::OperaGx});
    EXPECT_EQ(app.BrowserKeyToIndex(L"opera_gx"), 2);
    EXPECT_EQ(app.BrowserKeyToIndex(L"opera"), 1);
    EXPECT_EQ(app.BrowserKeyToIndex(L"Opera"), 0);  // case-sensitive
    EXPECT_EQ(app.BrowserKeyToIndex(L"firefox"), 0);
    EXPECT_EQ(app.BrowserKeyToIndex(L""), 0);
    EXPECT_EQ(app.BrowserIndexToKey(2), L"opera_gx");
    EXPECT_EQ(app.BrowserIndexToKey(3), L"");
    EXPECT_EQ(app.BrowserIndexToKey(-1), L"");
}

TEST_F(SettingsTest, NumericReadersTakeTheLongestPrefixOrTheDefault) {
    App app;
    Open(app);
    bm::AppDatabase& db = app.db;
    db.SetSetting(L"a", L"  42abc");
    db.SetSetting(L"b", L"4000000000");
    db.SetSetting(L"c", L"-9223372036854775808");
    db.SetSetting(L"d", L"1e999");
    db.SetSetting(L"e", L"");
    EXPECT_EQ(bm::ui::GetSettingInt(db, L"a", 7), 42);
    EXPECT_EQ(bm::ui::GetSettingInt(db, L"b", 7), 7);
    EXPECT_EQ(bm::ui::GetSettingInt64(db, L"b"), 4000000000LL);
    EXPECT_EQ(bm::ui::GetSettingInt64(db, L"c"), INT64_MIN);
    EXPECT_EQ(bm::ui::GetSettingInt64(db, L"missing"), 0);
    EXPECT_FLOAT_EQ(bm::ui::GetSettingFloat(db, L"d", 3.5f), 3.5f);
    EXPECT_FLOAT_EQ(bm::ui::GetSettingFloat(db, L"e", 3.5f), 3.5f);
    EXPECT_FLOAT_EQ(bm::ui::GetSettingFloat(db, L"a", 3.5f), 42.0f);
}

// A damaged app_data.db at start: the program goes on without it, says so in the log, and neither
// the settings it saves nor anything else reaches the file.
TEST_F(SettingsTest, DamagedDatabaseAtStartIsNamedInTheLogAndNeverWrittenInto) {
    const std::string damaged = bm::test::MakeDamagedDatabase(DbPath(), bm::test::DamagedPage::BookmarksRoot);
    TestWindow window;
    App app;
    ASSERT_TRUE(app.OpenDatabaseAtStart(DbPath()));
    // The check of every page ends after the start; the first frame after it notes what it found.
    app.db.WaitForFileCheck();
    app.NoteDatabaseCheck();
    EXPECT_FALSE(app.dbOpen);
    EXPECT_TRUE(app.withoutDatabase);
    ASSERT_EQ(app.logLines.size(), 1u);
    const std::wstring& line = app.logLines.back();
    EXPECT_NE(line.find(L"[ERROR] app_data.db is damaged, so Orvellane goes on without it and writes nothing into it"),
              std::wstring::npos)
        << bm::ToUtf8(line);
    EXPECT_NE(line.find(L"SQLite finds it damaged: "), std::wstring::npos) << bm::ToUtf8(line);

    app.hwnd = window.hwnd;
    app.LoadSettings();
    app.RefreshProfiles();
    app.LoadUiState();
    app.SaveSettings();
    app.SaveUiState();
    app.SetSetting(L"theme", L"light");
    app.hwnd = nullptr;
    app.db.Close();
    EXPECT_TRUE(bm::test::ReadTextFile(DbPath()) == damaged);
}

TEST_F(SettingsTest, AFailingDatabaseNeverEndsTheProgram) {
    TestWindow window;
    App app;
    Open(app);
    app.hwnd = window.hwnd;
    app.db.Close();  // every operation now throws
    EXPECT_NO_THROW(app.LoadSettings());
    EXPECT_EQ(app.fontSizeIndex, 1);
    EXPECT_NO_THROW(app.LoadUiState());
    EXPECT_NO_THROW(app.SaveSettings());
    EXPECT_NO_THROW(app.SaveUiState());
    EXPECT_NO_THROW(app.SetSetting(L"theme", L"light"));
    EXPECT_NO_THROW(app.SetFontSize(2));
    EXPECT_EQ(app.fontSizeIndex, 2);  // the value in memory stays in force
    EXPECT_NO_THROW(app.RefreshProfiles());
    // The user is told, in the log the window shows.
    bool told = false;
    {
        std::lock_guard<std::mutex> lock(app.logMutex);
        for (const std::wstring& line : app.logLines)
            told = told || line.find(L"[ERROR] Could not save the settings: ") != std::wstring::npos;
    }
    EXPECT_TRUE(told);
    app.hwnd = nullptr;
}

// Maximising or restoring posts the wake-up with wParam 1, which saves the settings once the system
// command has changed the placement; wParam 0 only redraws, and other commands post nothing. (A
// message-only window: the system command itself then changes nothing on screen.)
TEST_F(SettingsTest, MaximiseAndRestorePostTheWakeUpThatSavesTheSettings) {
    HWND window = CreateWindowExW(0, L"STATIC", L"wake", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    App app;
    Open(app);
    app.hwnd = window;
    app.startupComplete = true;
    app.lightTheme = 1;
    bm::ui::g_app = &app;
    // The wake-ups the system command posted, each handed to the program's window procedure.
    auto command = [&](WPARAM sc) {
        bm::ui::WndProc(window, WM_SYSCOMMAND, sc, 0);
        std::vector<WPARAM> wakes;
        MSG message;
        while (PeekMessageW(&message, window, bm::ui::kWakeMessage, bm::ui::kWakeMessage, PM_REMOVE)) {
            wakes.push_back(message.wParam);
            bm::ui::WndProc(window, message.message, message.wParam, message.lParam);
        }
        return wakes;
    };

    bm::ui::WndProc(window, bm::ui::kWakeMessage, 0, 0);
    EXPECT_EQ(app.db.GetSetting(L"theme", L"none"), L"none");
    EXPECT_EQ(command(SC_MINIMIZE), std::vector<WPARAM>{});
    EXPECT_EQ(app.db.GetSetting(L"theme", L"none"), L"none");
    EXPECT_EQ(command(SC_MAXIMIZE), std::vector<WPARAM>{1});
    EXPECT_EQ(app.db.GetSetting(L"theme", L"none"), L"light");
    app.lightTheme = 0;
    EXPECT_EQ(command(SC_RESTORE), std::vector<WPARAM>{1});
    EXPECT_EQ(app.db.GetSetting(L"theme", L"none"), L"dark");
    bm::ui::g_app = nullptr;
    app.hwnd = nullptr;
    DestroyWindow(window);
}

}  // namespace
