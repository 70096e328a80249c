#pragma once
// The whole window over stores that fill every list a panel draws: browsers found, running, with a
// custom path; file backups and snapshots (the snapshots' ids equal some backups' positions);
// profiles with long names and a default; every collapsible section open. For the tests that look
// at all of the window at once.

#include <windows.h>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/theme.h"
#include "core/browsers.h"
#include "core/file_backup.h"
#include "tests/app/panel_fixture.h"

namespace bm::test {

class FullWindowFixture : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        bm::ui::ApplyTheme(0);
        const std::wstring chrome = Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks";
        WriteBookmarks(chrome, {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B")});
        for (int day = 1; day <= 4; ++day) {
            const std::wstring backup = MakeBackupPathAt(chrome, {2024, 1, day, 3, 4, 5});
            ASSERT_TRUE(CopyFileW(chrome.c_str(), backup.c_str(), FALSE));
        }
        DetectBrowsers();
        for (BrowserInfo& browser : app.browsers) {
            if (browser.kind == BrowserKind::Chrome) chromeIndex = static_cast<int32_t>(&browser - app.browsers.data());
            if (browser.kind == BrowserKind::Edge || browser.kind == BrowserKind::Firefox) browser.running = true;
            if (browser.kind == BrowserKind::Brave) browser.hasCustomPath = true;
        }

        const int64_t longName = app.db.CreateProfile(
            L"Reisen 2025 - Lesezeichen der ganzen Familie aus allen alten Rechnern zusammengetragen");
        for (const wchar_t* name : {L"Arbeit", L"Zuhause", L"書籤 und Закладки"}) app.db.CreateProfile(name);
        app.db.AddBookmarks(longName, {Bookmark(L"https://c.example/", L"C"), Bookmark(L"https://d.example/", L"D")});
        for (const wchar_t* label : {L"Before the big import of all the old machines' bookmarks", L"Auto-backup before import",
                                     L"Second"})
            app.db.CreateSnapshot(longName, label);
        app.db.SetDefaultProfileId(longName);
        app.RefreshProfiles();

        int32_t longIndex = 0;
        while (app.profiles[longIndex].id != longName) ++longIndex;
        app.backupBrowserIndex = chromeIndex;
        app.backupProfileIndex = longIndex;
        app.explorerType = 1;
        app.explorerIndex = longIndex;
        app.copyFromProfileIndex = longIndex;
        app.sourceType = 1;
        app.destMode = 2;
        app.writeMode = 1;
        app.ieSourceType = 1;
        app.importAsNew = 0;

        captureText = false;  // keep Dear ImGui's clipping as the user's screen has it
        ui.SetDisplaySize(ImVec2(2400, 3000));
        ui.SetDraw([this] { app.DrawFrame(); });
        ui.Frame();
        for (const char* section : {"Manage Saved Profiles", "Copy Profile -> Profile (Replace Destination)",
                                    "Custom / Portable Browser Path", "Export", "Import"})
            ASSERT_TRUE(ui.Click(section)) << section;
        ui.Frame();
    }

    int32_t chromeIndex = 0;
};

}  // namespace bm::test
