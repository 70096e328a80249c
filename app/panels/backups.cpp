// BACKUPS & RESTORE: browser file backups and saved-profile snapshots, with restore.
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <string>

#include "app/app.h"
#include "app/panels/fit.h"
#include "app/panels/row_id.h"
#include "app/theme.h"
#include "core/browser_process.h"
#include "core/file_backup.h"

namespace bm::ui {

namespace {

// Seconds between 1601-01-01 (the FILETIME epoch) and 1970-01-01.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

// A snapshot's time as "YYYY-MM-DD HH:MM:SS" in UTC; zeros in every field when it cannot be converted.
std::wstring SnapshotTimeText(int64_t createdAt) {
    // Unsigned arithmetic: a stored value far out of range wraps instead of overflowing, and the
    // conversion below then refuses it.
    const uint64_t ticks = (static_cast<uint64_t>(createdAt) + kUnixEpochInFileTimeSeconds) * 10000000ULL;
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME fields = {};
    if (!FileTimeToSystemTime(&fileTime, &fields)) fields = {};
    wchar_t text[64];
    swprintf(text, 64, L"%04d-%02d-%02d %02d:%02d:%02d", fields.wYear, fields.wMonth, fields.wDay, fields.wHour,
             fields.wMinute, fields.wSecond);
    return text;
}

void ClampIndex(int32_t& index, size_t size) {
    if (size == 0) return;
    if (index >= static_cast<int32_t>(size)) index = static_cast<int32_t>(size) - 1;
    if (index < 0) index = 0;
}

}  // namespace

void App::DrawBackupsPanel() {
    ImGui::TextColored(TealColor(), "BACKUPS & RESTORE");
    ImGui::TextUnformatted("How to restore:");
    for (const char* step : {"Pick the browser (or saved profile) below.", "Click Restore next to the timestamp you want.",
                             "Close that browser first if it shows RUNNING."}) {
        ImGui::Bullet();
        ImGui::TextWrapped("%s", step);
    }
    WrappedDisabled("A new backup of the current state is made before every restore.");
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextWrapped("Browser backups (created automatically before each sync)");
    ImGui::Spacing();

    // A restore replaces the very file or profile a running job may be writing: both kinds of
    // restore wait until the job has ended.
    const bool jobRunning = syncRunning.load();

    if (browsers.empty()) {
        ImGui::TextDisabled("No browsers detected.");
    } else {
        ClampIndex(backupBrowserIndex, browsers.size());
        const BrowserInfo browser = browsers[backupBrowserIndex];
        const std::string browserName = ToUtf8(browser.displayName);

        ImGui::SetNextItemWidth(-1);
        if (ImGui::BeginCombo("##backupBrowser", browserName.c_str())) {
            for (size_t i = 0; i < browsers.size(); ++i) {
                const bool chosen = static_cast<int32_t>(i) == backupBrowserIndex;
                ImGui::PushID(static_cast<int>(i));
                if (ImGui::Selectable(ToUtf8(browsers[i].displayName).c_str(), chosen)) {
                    backupBrowserIndex = static_cast<int32_t>(i);
                    SaveUiState();
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }

        const std::vector<FileBackupEntry> backups = outsideReads.FileBackups(browser.bookmarksPath);
        const bool running = outsideReads.ProcessRunning(browser.exeName);
        if (running) {
            WrappedColored(WarningColor(), ("Close " + browserName + " before restoring.").c_str());
            SameLineIfFits(SmallButtonWidth("Close##backup"));
            if (ImGui::SmallButton("Close##backup")) {
                closeQueueExe = {browser.exeName};
                closeQueueNames = {browser.displayName};
                openCloseBrowsers = true;
                syncAfterClose = false;
            }
        }
        if (backups.empty())
            WrappedDisabled("No backups yet for this browser. One is created automatically the next time you sync to it.");

        // Each list has its own id scope: a row's position here can equal a snapshot's id below.
        ImGui::PushID("fileBackups");
        const float restoreWidth = ButtonWidth("Restore");
        for (size_t i = 0; i < backups.size(); ++i) {
            const FileBackupEntry& backup = backups[i];
            ImGui::PushID(static_cast<int>(i));
            ImGui::AlignTextToFramePadding();
            const float room = ImGui::GetContentRegionAvail().x - ImGui::GetTreeNodeToLabelSpacing() - restoreWidth -
                               ImGui::GetStyle().ItemSpacing.x;
            ImGui::BulletText("%s", Ellipsized(ToUtf8(backup.displayTime), room).c_str());
            ImGui::SameLine();
            ImGui::BeginDisabled(running || jobRunning);
            if (ImGui::Button("Restore")) {
                std::wstring error;
                if (RestoreFileBackup(browser.bookmarksPath, backup.path, &error)) {
                    Log(L"[OK] Restored " + browser.displayName + L" bookmarks from backup " + backup.displayTime + L".");
                    explorerReloadPending = true;
                } else {
                    Log(L"[ERROR] Restore failed for " + browser.displayName + L": " + error);
                }
            }
            ImGui::EndDisabled();
            ImGui::PopID();
        }
        ImGui::PopID();
    }

    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextWrapped("Saved profile snapshots (created automatically before each profile sync)");
    ImGui::Spacing();

    if (profiles.empty()) {
        ImGui::TextDisabled("No saved profiles yet.");
        DrawDeleteSnapshotDialog();
        return;
    }
    ClampIndex(backupProfileIndex, profiles.size());
    const ProfileRecord profile = profiles[backupProfileIndex];

    ImGui::SetNextItemWidth(-1);
    if (ImGui::BeginCombo("##backupProfile", ToUtf8(profile.name).c_str())) {
        for (size_t i = 0; i < profiles.size(); ++i) {
            const bool chosen = static_cast<int32_t>(i) == backupProfileIndex;
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::Selectable(ToUtf8(profiles[i].name).c_str(), chosen)) {
                backupProfileIndex = static_cast<int32_t>(i);
                SaveUiState();
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }

    std::vector<SnapshotInfo> snapshots;
    try {
        snapshots = outsideReads.Snapshots(db, profile.id);
    } catch (const std::exception& error) {
        // Shown as an empty list: the database failure is not the user's to fix from here.
        WrappedDisabled((std::string("Snapshots could not be read: ") + error.what()).c_str());
        DrawDeleteSnapshotDialog();
        return;
    }
    if (snapshots.empty())
        WrappedDisabled("No snapshots yet. One is created automatically the next time you sync into this profile.");

    ImGui::PushID("snapshots");
    const ImGuiStyle& style = ImGui::GetStyle();
    const float buttonsWidth = ButtonWidth("Restore") + SmallButtonWidth("Delete") + 2 * style.ItemSpacing.x;
    for (const SnapshotInfo& snapshot : snapshots) {
        PushIdOf(snapshot.id);
        const std::wstring rowText = SnapshotTimeText(snapshot.created_at) + L" - " + snapshot.label + L" (" +
                                     std::to_wstring(snapshot.bookmark_count) + L" bookmarks)";
        ImGui::AlignTextToFramePadding();
        // The text gives way to the buttons; all of it is in the tooltip.
        const float room = ImGui::GetContentRegionAvail().x - ImGui::GetTreeNodeToLabelSpacing() - buttonsWidth;
        const std::string shown = Ellipsized(ToUtf8(rowText), std::max(room, ImGui::GetFontSize()));
        ImGui::BulletText("%s", shown.c_str());
        if (shown.size() != ToUtf8(rowText).size() && ImGui::IsItemHovered()) ImGui::SetTooltip("%s", ToUtf8(rowText).c_str());
        SameLineIfFits(ButtonWidth("Restore"));
        ImGui::BeginDisabled(jobRunning);
        if (ImGui::Button("Restore")) {
            std::wstring error;
            bool restored = false;
            try {
                restored = db.RestoreSnapshot(snapshot.id, &error);
            } catch (const std::exception& failure) {
                error = ToWide(failure.what());
            }
            if (restored) {
                Log(L"[OK] Restored profile '" + profile.name + L"' from snapshot (" +
                    std::to_wstring(snapshot.bookmark_count) + L" bookmarks).");
                explorerReloadPending = true;
            } else {
                Log(L"[ERROR] Restore failed: " + error);
            }
        }
        ImGui::EndDisabled();
        SameLineIfFits(SmallButtonWidth("Delete"));
        if (ImGui::SmallButton("Delete")) {
            deleteSnapshotId = snapshot.id;
            deleteSnapshotText = L"'" + profile.name + L"' from " + rowText;
            openDeleteSnapshot = true;
        }
        ImGui::PopID();
    }
    ImGui::PopID();
    DrawDeleteSnapshotDialog();
}

void App::DrawDeleteSnapshotDialog() {
    if (openDeleteSnapshot) {
        ImGui::OpenPopup("Delete Snapshot");
        openDeleteSnapshot = false;
    }
    if (!ImGui::BeginPopupModal("Delete Snapshot", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    const std::string question = "Delete the snapshot of " + ToUtf8(deleteSnapshotText) + "?";
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
    ImGui::TextWrapped("%s", question.c_str());
    ImGui::PopTextWrapPos();
    ImGui::TextColored(CautionColor(), "It cannot be restored afterwards.");
    ImGui::Spacing();
    if (ImGui::Button("Delete", ImVec2(std::max(100.0f, ButtonWidth("Delete")), 0))) {
        try {
            if (db.DeleteSnapshot(deleteSnapshotId))
                Log(L"Deleted snapshot of " + deleteSnapshotText + L".");
            else
                Log(L"[ERROR] Could not delete the snapshot of " + deleteSnapshotText + L": it no longer exists.");
        } catch (const std::exception& e) {
            Log(L"[ERROR] Could not delete the snapshot of " + deleteSnapshotText + L": " + ToWide(e.what()));
        }
        deleteSnapshotId = 0;
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel", ImVec2(std::max(100.0f, ButtonWidth("Cancel")), 0))) {
        deleteSnapshotId = 0;
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace bm::ui
