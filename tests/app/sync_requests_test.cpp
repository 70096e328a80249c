// Sync requests and the "Close browser processes" dialog, with fake browsers running under real
// browser names, the dialog driven through the UI driver; and the custom paths laid over detection.

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/browser_process.h"
#include "core/browsers.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/ui_driver.h"
#include "tests/support/fake_browser.h"

namespace bm::test {
namespace {

constexpr char kDialog[] = "Close browser processes";

size_t IndexOf(const std::vector<BrowserInfo>& browsers, BrowserKind kind) {
    for (size_t i = 0; i < browsers.size(); ++i) {
        if (browsers[i].kind == kind) return i;
    }
    return browsers.size();
}

// Takes every right on the process away from everyone, as for a process of another user: it can
// no longer be opened to be ended. (The helper's own handle keeps its rights and still ends it.)
void MakeUnkillable(const FakeBrowser& browser) {
    HANDLE process = OpenProcess(WRITE_DAC, FALSE, browser.ProcessId());
    ASSERT_NE(process, nullptr);
    ACL empty;
    ASSERT_TRUE(InitializeAcl(&empty, sizeof(empty), ACL_REVISION));
    ASSERT_EQ(SetSecurityInfo(process, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(process);
    HANDLE again = OpenProcess(PROCESS_TERMINATE, FALSE, browser.ProcessId());
    EXPECT_EQ(again, nullptr) << "the process can still be opened to be ended";
    if (again != nullptr) CloseHandle(again);
}

class SyncRequestsTest : public AppSyncFixture {
public:
    void SetUp() override {
        AppSyncFixture::SetUp();
        // Chrome, Opera and Opera GX are installed in the test tree; the rest is not.
        WriteTextFile(Local() + L"\\Google\\Chrome\\User Data\\Default\\Preferences", "{}");
        WriteTextFile(Roaming() + L"\\Opera Software\\Opera Stable\\Preferences", "{}");
        WriteTextFile(Roaming() + L"\\Opera Software\\Opera GX Stable\\Preferences", "{}");
        app.browsers = DetectBrowsersIn(Local(), Roaming());
        profile = app.db.CreateProfile(L"Saved");
        ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://a.example", L"A")}), 1);

        ui.SetDraw([this] {
            // Dear ImGui's text log captures every text drawn in the frame.
            ImGui::LogToBuffer();
            app.DrawFrame();
            ImGuiContext& context = *ImGui::GetCurrentContext();
            screenText = context.LogBuffer.c_str();
            ImGui::LogFinish();
            context.LogBuffer.clear();
        });
    }

    SyncRequest ProfileToAllBrowsers() const {
        SyncRequest request;
        request.sourceType = 1;
        request.sourceProfileId = profile;
        request.sourceName = L"Saved";
        request.destMode = 1;
        return request;
    }

    bool DialogOpen() const {
        return std::any_of(ui.items().begin(), ui.items().end(),
                           [](const UiItem& item) { return item.window == kDialog; });
    }
    bool ClickInDialog(const std::string& label) {
        for (const UiItem* item : ui.FindAll(label)) {
            if (item->window == kDialog) return ui.ClickItem(*item);
        }
        return false;
    }
    bool Shows(const std::string& text) const { return screenText.find(text) != std::string::npos; }

    UiDriver ui{ImVec2(1360, 860)};
    std::string screenText;
    int64_t profile = 0;
};

TEST_F(SyncRequestsTest, AJobThatTouchesNoRunningBrowserStartsAtOnce) {
    app.RequestSync(ProfileToAllBrowsers());
    EXPECT_FALSE(app.openCloseBrowsers);
    WaitForJobEnd();
    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), L"--- Sync started ---");
    EXPECT_EQ(lines.back(), L"--- Sync finished: 3 destination(s) processed ---");
}

TEST_F(SyncRequestsTest, RunningBrowsersTheJobTouchesAreQueuedOncePerExecutable) {
    FakeBrowser chrome(L"chrome.exe");
    FakeBrowser opera(L"opera.exe");
    FakeBrowser edge(L"msedge.exe");  // runs, but Edge is not installed here

    struct Case {
        const char* name;
        bool chromeDetected;
        SyncRequest request;
        std::vector<std::wstring> exeNames;
        std::vector<std::wstring> displayNames;
    };
    auto browserJob = [](BrowserKind source, int32_t destMode, BrowserKind dest) {
        SyncRequest request;
        request.sourceType = 0;
        request.sourceBrowserKind = static_cast<int32_t>(source);
        request.destMode = destMode;
        request.destBrowserKind = static_cast<int32_t>(dest);
        return request;
    };
    SyncRequest profileIntoChrome = ProfileToAllBrowsers();
    profileIntoChrome.destMode = 0;
    profileIntoChrome.destBrowserKind = static_cast<int32_t>(BrowserKind::Chrome);
    SyncRequest chromeIntoProfile = browserJob(BrowserKind::Chrome, 2, BrowserKind::None);
    chromeIntoProfile.destProfileId = profile;

    const std::vector<Case> cases = {
        // Opera and Opera GX share opera.exe: one entry, named after the first in list order.
        // Edge runs but is not detected, so "all browsers" does not touch it.
        {"profile into all browsers", true, ProfileToAllBrowsers(), {L"chrome.exe", L"opera.exe"},
         {L"Google Chrome", L"Opera"}},
        {"Chrome into all browsers", true, browserJob(BrowserKind::Chrome, 1, BrowserKind::None),
         {L"chrome.exe", L"opera.exe"}, {L"Google Chrome", L"Opera"}},
        {"undetected Edge into Opera GX", true, browserJob(BrowserKind::Edge, 0, BrowserKind::OperaGx),
         {L"msedge.exe", L"opera.exe"}, {L"Microsoft Edge", L"Opera GX"}},
        {"Chrome into a profile", true, chromeIntoProfile, {L"chrome.exe"}, {L"Google Chrome"}},
        {"profile into undetected Chrome", false, profileIntoChrome, {L"chrome.exe"}, {L"Google Chrome"}},
        {"profile into all browsers, Chrome undetected", false, ProfileToAllBrowsers(), {L"opera.exe"}, {L"Opera"}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app.browsers[IndexOf(app.browsers, BrowserKind::Chrome)].detected = c.chromeDetected;
        app.openCloseBrowsers = false;
        app.syncAfterClose = false;
        app.RequestSync(c.request);
        EXPECT_EQ(app.closeQueueExe, c.exeNames);
        EXPECT_EQ(app.closeQueueNames, c.displayNames);
        EXPECT_TRUE(app.openCloseBrowsers);
        EXPECT_TRUE(app.syncAfterClose);
        EXPECT_EQ(app.pendingRequest.sourceType, c.request.sourceType);
        EXPECT_EQ(app.pendingRequest.sourceBrowserKind, c.request.sourceBrowserKind);
        EXPECT_EQ(app.pendingRequest.destMode, c.request.destMode);
        EXPECT_EQ(app.pendingRequest.destBrowserKind, c.request.destBrowserKind);
        EXPECT_EQ(app.pendingRequest.destProfileId, c.request.destProfileId);
        EXPECT_FALSE(app.syncRunning.load());
        EXPECT_FALSE(app.worker.joinable());
    }
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(SyncRequestsTest, CloseCompletelyClosesEveryQueuedBrowserThenStartsTheJob) {
    FakeBrowser chrome(L"chrome.exe");
    FakeBrowser opera(L"opera.exe");
    FakeBrowser operaService(L"opera.exe", FakeBrowserBehavior::NoWindow);
    app.RequestSync(ProfileToAllBrowsers());
    ui.Frame(2);
    ASSERT_TRUE(DialogOpen());
    EXPECT_FALSE(app.openCloseBrowsers);
    EXPECT_TRUE(Shows("These browser processes are still running (including background / startup boost):"));
    EXPECT_TRUE(Shows("Google Chrome (chrome.exe, 1 process)")) << screenText;
    EXPECT_TRUE(Shows("Opera (opera.exe, 2 processes)")) << screenText;
    EXPECT_TRUE(LogTexts().empty());
    const UiItem* closeButton = ui.Find("Close completely");
    const UiItem* cancelButton = ui.Find("Cancel");
    ASSERT_NE(closeButton, nullptr);
    ASSERT_NE(cancelButton, nullptr);
    EXPECT_EQ(closeButton->rect.GetWidth(), 180.0f);
    EXPECT_EQ(cancelButton->rect.GetWidth(), 100.0f);
    EXPECT_EQ(cancelButton->rect.Min.y, closeButton->rect.Min.y);  // on one line

    bm::ui::RefreshRunningFlags(app.browsers);
    app.explorerReloadPending = false;
    ASSERT_TRUE(ClickInDialog("Close completely"));
    EXPECT_TRUE(chrome.WaitForExit(5000));
    EXPECT_EQ(chrome.ExitCode(), 0u);  // its window closed it
    EXPECT_TRUE(operaService.WaitForExit(5000));
    EXPECT_EQ(operaService.ExitCode(), 1u);  // no window: ended
    for (const BrowserInfo& browser : app.browsers) EXPECT_FALSE(browser.running) << ToUtf8(browser.displayName);
    EXPECT_TRUE(app.explorerReloadPending);
    EXPECT_FALSE(app.syncAfterClose);

    WaitForJobEnd();
    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], L"Closing Google Chrome completely...");
    EXPECT_EQ(lines[1], L"[OK] Google Chrome is no longer running.");
    EXPECT_EQ(lines[2], L"Closing Opera completely...");
    EXPECT_EQ(lines[3], L"[OK] Opera is no longer running.");
    EXPECT_EQ(lines[4], L"--- Sync started ---");
    EXPECT_EQ(lines.back(), L"--- Sync finished: 3 destination(s) processed ---");
    ui.Frame(2);
    EXPECT_FALSE(DialogOpen());
}

TEST_F(SyncRequestsTest, ABrowserThatWillNotCloseIsReportedAndTheJobIsDropped) {
    FakeBrowser chrome(L"chrome.exe", FakeBrowserBehavior::IgnoresClose);
    MakeUnkillable(chrome);
    app.RequestSync(ProfileToAllBrowsers());
    ui.Frame(2);
    ASSERT_TRUE(DialogOpen());
    app.redrawPending = false;

    ASSERT_TRUE(ClickInDialog("Close completely"));
    EXPECT_TRUE(chrome.IsRunning());
    EXPECT_TRUE(app.browsers[IndexOf(app.browsers, BrowserKind::Chrome)].running);
    EXPECT_FALSE(app.syncAfterClose);
    EXPECT_FALSE(app.syncRunning.load());
    EXPECT_FALSE(app.worker.joinable());
    EXPECT_TRUE(app.redrawPending);
    const std::vector<std::wstring> expected = {
        L"Closing Google Chrome completely...",
        L"[ERROR] Could not fully close Google Chrome. End it in Task Manager and try again.",
    };
    EXPECT_EQ(LogTexts(), expected);
    ui.Frame(2);
    EXPECT_FALSE(DialogOpen());
}

TEST_F(SyncRequestsTest, CancelClosesNothingAndStartsNothing) {
    FakeBrowser opera(L"opera.exe");
    SyncRequest request = ProfileToAllBrowsers();
    request.writeMode = 1;
    app.RequestSync(request);
    ui.Frame(2);
    ASSERT_TRUE(DialogOpen());
    EXPECT_TRUE(Shows("Opera (opera.exe, 1 process)")) << screenText;
    {
        // The count is taken afresh on every frame.
        FakeBrowser operaService(L"opera.exe", FakeBrowserBehavior::NoWindow);
        ui.Frame();
        EXPECT_TRUE(Shows("Opera (opera.exe, 2 processes)")) << screenText;
    }
    ui.Frame();
    EXPECT_TRUE(Shows("Opera (opera.exe, 1 process)")) << screenText;

    ASSERT_TRUE(ClickInDialog("Cancel"));
    ui.Frame(2);
    EXPECT_FALSE(DialogOpen());
    EXPECT_TRUE(opera.IsRunning());
    EXPECT_FALSE(app.syncAfterClose);
    EXPECT_EQ(app.pendingRequest.writeMode, 1);  // kept, but nothing will start it
    EXPECT_FALSE(app.syncRunning.load());
    EXPECT_FALSE(app.worker.joinable());
    EXPECT_TRUE(LogTexts().empty());

    // A later close of that one browser (as the dashboard arms it) closes it and starts nothing.
    app.closeQueueExe = {L"opera.exe"};
    app.closeQueueNames = {L"Opera"};
    app.openCloseBrowsers = true;
    app.syncAfterClose = false;
    ui.Frame(2);
    ASSERT_TRUE(DialogOpen());
    app.redrawPending = false;
    ASSERT_TRUE(ClickInDialog("Close completely"));
    EXPECT_TRUE(opera.WaitForExit(5000));
    EXPECT_TRUE(app.redrawPending);
    EXPECT_FALSE(app.syncRunning.load());
    EXPECT_FALSE(app.worker.joinable());
    const std::vector<std::wstring> expected = {L"Closing Opera completely...", L"[OK] Opera is no longer running."};
    EXPECT_EQ(LogTexts(), expected);
}

TEST_F(SyncRequestsTest, CustomPathsAreLaidOverDetectionAndRunningFlagsFollowTheProcesses) {
    const std::wstring customChrome = dir / L"elsewhere\\Bookmarks";
    WriteTextFile(customChrome, "{}");
    const std::wstring missingFirefox = dir / L"gone\\places.sqlite";
    app.db.SetBrowserConfig(L"chrome", 0, customChrome);
    app.db.SetBrowserConfig(L"firefox", 0, missingFirefox);
    app.db.SetBrowserConfig(L"edge", 0, L"");  // a row without a path changes nothing

    FakeBrowser opera(L"opera.exe");
    const std::vector<BrowserInfo> detected = DetectBrowsers();
    const std::vector<BrowserInfo> loaded = bm::ui::LoadBrowsersWithOverrides(app.db);
    ASSERT_EQ(loaded.size(), 7u);
    ASSERT_EQ(detected.size(), 7u);
    for (size_t i = 0; i < loaded.size(); ++i) {
        const BrowserInfo& entry = loaded[i];
        SCOPED_TRACE(ToUtf8(entry.displayName));
        EXPECT_EQ(entry.kind, detected[i].kind);
        EXPECT_EQ(entry.profileDir, detected[i].profileDir);
        EXPECT_EQ(entry.exeName, detected[i].exeName);
        if (entry.kind == BrowserKind::Chrome) {
            EXPECT_EQ(entry.bookmarksPath, customChrome);
            EXPECT_TRUE(entry.detected);
            EXPECT_TRUE(entry.hasCustomPath);
        } else if (entry.kind == BrowserKind::Firefox) {
            EXPECT_EQ(entry.bookmarksPath, missingFirefox);
            EXPECT_FALSE(entry.detected);
            EXPECT_TRUE(entry.hasCustomPath);
        } else {
            EXPECT_EQ(entry.bookmarksPath, detected[i].bookmarksPath);
            EXPECT_EQ(entry.detected, detected[i].detected);
            EXPECT_FALSE(entry.hasCustomPath);
        }
        // Opera and Opera GX share opera.exe.
        const bool opera = entry.kind == BrowserKind::Opera || entry.kind == BrowserKind::OperaGx;
        EXPECT_EQ(entry.running, opera);
    }

    std::vector<BrowserInfo> refreshed = loaded;
    opera.Kill();
    FakeBrowser chrome(L"chrome.exe");
    bm::ui::RefreshRunningFlags(refreshed);
    for (size_t i = 0; i < refreshed.size(); ++i) {
        EXPECT_EQ(refreshed[i].running, refreshed[i].kind == BrowserKind::Chrome) << ToUtf8(refreshed[i].displayName);
        EXPECT_EQ(refreshed[i].bookmarksPath, loaded[i].bookmarksPath);
        EXPECT_EQ(refreshed[i].detected, loaded[i].detected);
    }
}

}  // namespace
}  // namespace bm::test
