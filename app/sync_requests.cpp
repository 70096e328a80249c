// Sync requests: which running browsers a job touches, and the dialog that closes them first.
#include "app/app.h"

#include <algorithm>

#include "app/panels/fit.h"
#include "app/theme.h"
#include "core/browser_process.h"
#include "imgui.h"

namespace bm::ui {

namespace {

constexpr char kCloseBrowsersPopup[] = "Close browser processes";
constexpr uint32_t kCloseTimeoutMs = 2500;

// The running browsers a job would read or write, one per executable name (Opera and Opera GX
// share one), named after the first entry in list order.
class RunningBrowserList {
public:
    void AddIfRunning(const BrowserInfo& browser) {
        if (!IsProcessRunning(browser.exeName)) return;
        if (std::find(exeNames.begin(), exeNames.end(), browser.exeName) != exeNames.end()) return;
        exeNames.push_back(browser.exeName);
        displayNames.push_back(browser.displayName);
    }

    std::vector<std::wstring> exeNames;
    std::vector<std::wstring> displayNames;
};

}  // namespace

void App::RequestSync(const SyncRequest& request) {
    RunningBrowserList running;
    if (request.sourceType == 0) {
        for (const BrowserInfo& browser : browsers) {
            if (static_cast<int32_t>(browser.kind) == request.sourceBrowserKind) running.AddIfRunning(browser);
        }
    }
    if (request.destMode == 0) {
        for (const BrowserInfo& browser : browsers) {
            if (static_cast<int32_t>(browser.kind) == request.destBrowserKind) running.AddIfRunning(browser);
        }
    } else if (request.destMode == 1) {
        for (const BrowserInfo& destination : browsers) {
            if (!destination.detected) continue;
            for (const BrowserInfo& browser : browsers) {
                if (browser.kind == destination.kind) running.AddIfRunning(browser);
            }
        }
    }

    if (running.exeNames.empty()) {
        StartSync(request);
        return;
    }
    closeQueueExe = std::move(running.exeNames);
    closeQueueNames = std::move(running.displayNames);
    pendingRequest = request;
    openCloseBrowsers = true;
    syncAfterClose = true;
}

void App::DrawCloseBrowsersDialog() {
    if (openCloseBrowsers) {
        ImGui::OpenPopup(kCloseBrowsersPopup);
        openCloseBrowsers = false;
    }
    CenterNextDialog();
    if (!ImGui::BeginPopupModal(kCloseBrowsersPopup, nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;

    // Wrapped at a fixed share of the window, so that the dialog's width does not depend on itself.
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
    ImGui::TextUnformatted("These browser processes are still running (including background / startup boost):");
    ImGui::Spacing();
    for (size_t i = 0; i < closeQueueNames.size(); ++i) {
        const std::wstring exeName = i < closeQueueExe.size() ? closeQueueExe[i] : std::wstring();
        const int count = CountRunningProcesses(exeName);
        ImGui::BulletText("%s (%s, %d process%s)", ToUtf8(closeQueueNames[i]).c_str(), ToUtf8(exeName).c_str(),
                          count, count == 1 ? "" : "es");
    }
    ImGui::Spacing();
    ImGui::TextWrapped(
        "Bookmark files cannot be written safely while the browser is alive. This will close every matching "
        "window, then end leftover background processes.");
    ImGui::PushStyleColor(ImGuiCol_Text, CautionColor());
    ImGui::TextWrapped(
        "Unsaved work in the browser may be lost: a browser that is still asking to save something after "
        "2.5 seconds is ended. Save or close what is open there first.");
    ImGui::PopStyleColor();
    ImGui::PopTextWrapPos();
    ImGui::Spacing();

    if (ImGui::Button("Close completely", ImVec2(180, 0))) {
        for (size_t i = 0; i < closeQueueExe.size(); ++i) {
            const std::wstring& exeName = closeQueueExe[i];
            const std::wstring name =
                i < closeQueueNames.size() && !closeQueueNames[i].empty() ? closeQueueNames[i] : exeName;
            Log(L"Closing " + name + L" completely...");
            if (CloseBrowserProcesses(exeName, kCloseTimeoutMs)) {
                Log(L"[OK] " + name + L" is no longer running.");
            } else {
                Log(L"[ERROR] Could not fully close " + name + L". End it in Task Manager and try again.");
            }
        }
        RefreshRunningFlags(browsers);
        explorerReloadPending = true;
        ImGui::CloseCurrentPopup();

        const bool anyRunning = std::any_of(closeQueueExe.begin(), closeQueueExe.end(),
                                            [](const std::wstring& exeName) { return IsProcessRunning(exeName); });
        if (syncAfterClose && !anyRunning) {
            syncAfterClose = false;
            StartSync(pendingRequest);
        } else {
            syncAfterClose = false;
            redrawPending = true;
        }
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel", ImVec2(100, 0))) {
        syncAfterClose = false;
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace bm::ui
