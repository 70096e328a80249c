// BACKUPS & RESTORE: browser file backups and saved-profile snapshots, with restore.
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

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

// What a backup holds as its row says it; "counting..." until the count has been worked out.
std::string CountText(const std::optional<int>& count) {
    if (!count) return "counting...";
    return *count < 0 ? std::string("cannot be read") : std::to_string(*count) + " bookmark(s)";
}

}  // namespace

void App::DrawRestoreQuestion() {
    if (openRestoreQuestion) {
        ImGui::OpenPopup("Restore Backup");
        openRestoreQuestion = false;
    }
    CenterNextDialog();
    if (!ImGui::BeginPopupModal("Restore Backup", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    const PendingRestore& pending = pendingRestore;
    const bool snapshot = pending.snapshotId != 0;
    const std::string question =
        snapshot ? "Restore the saved profile '" + ToUtf8(pending.profileName) + "' from the snapshot " + ToUtf8(pending.what) + "?"
                 : "Restore " + ToUtf8(pending.browserName) + "'s bookmarks from the backup of " + ToUtf8(pending.what) + "?";
    const char* replaced = snapshot ? "Its bookmarks now are replaced by the snapshot's; a snapshot of them is made first."
                                    : "Its bookmarks file now is replaced by the backup; a backup of it is made first.";
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
    ImGui::TextWrapped("%s", question.c_str());
    // What is about to be replaced, as the export question says what the file holds.
    // A file's count is worked out on the counting thread, as the rows' are, never inside the frame.
    const char* holder = snapshot ? "The profile" : "The file";
    std::optional<int64_t> held = pending.bookmarksNow;
    if (!snapshot) {
        held = 0;
        if (FileExists(pending.targetPath)) {
            const std::optional<int> counted = backupCounts.Count(pending.targetKind, pending.targetPath);
            held = counted ? std::optional<int64_t>(*counted) : std::nullopt;
        }
    }
    const std::string now = !held      ? std::string(holder) + "'s bookmarks are being counted..."
                            : *held < 0 ? std::string(holder) + " cannot be read now."
                                        : std::string(holder) + " holds " + std::to_string(*held) + " bookmark(s) now.";
    ImGui::TextWrapped("%s", now.c_str());
    ImGui::TextWrapped("%s", replaced);
    if (!snapshot) ImGui::TextDisabled("%s", ToUtf8(pending.backupPath).c_str());
    ImGui::PopTextWrapPos();
    ImGui::Spacing();
    const bool jobRunning = syncRunning.load();
    ImGui::BeginDisabled(jobRunning);
    const bool restore = ImGui::Button("Restore##confirm", ImVec2(std::max(100.0f, ButtonWidth("Restore")), 0));
    ImGui::EndDisabled();
    // The browser may have been started since the question opened: looked at now, as a sync does
    // before it writes, and not from what the panel last saw.
    const bool browserRunning = restore && !snapshot && !pending.exeName.empty() && IsProcessRunning(pending.exeName);
    if (browserRunning) {
        Log(L"[ERROR] Restore not done: " + pending.browserName + L" is running. Close it, then restore; " +
            pending.targetPath + L" was left as it was.");
        closeQueueExe = {pending.exeName};
        closeQueueNames = {pending.browserName};
        openCloseBrowsers = true;
        syncAfterClose = false;
        pendingRestore = {};
        ImGui::CloseCurrentPopup();
    } else if (restore && !jobRunning) {
        if (snapshot) {
            std::wstring error;
            bool restored = false;
            try {
                restored = db.RestoreSnapshot(pending.snapshotId, &error);
            } catch (const std::exception& failure) {
                error = ErrorText(failure);
            }
            if (restored) {
                Log(L"[OK] Restored profile '" + pending.profileName + L"' from snapshot (" +
                    std::to_wstring(pending.snapshotBookmarks) + L" bookmarks).");
                explorerReloadPending = true;
            } else {
                Log(L"[ERROR] Restore failed: " + error);
            }
        } else {
            std::wstring error;
            if (RestoreFileBackup(pending.targetPath, pending.backupPath, &error)) {
                Log(L"[OK] Restored " + pending.browserName + L" bookmarks from backup " + pending.backupTime + L".");
                explorerReloadPending = true;
            } else {
                Log(L"[ERROR] Restore failed for " + pending.browserName + L": " + error);
            }
        }
        pendingRestore = {};
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel##restore", ImVec2(std::max(100.0f, ButtonWidth("Cancel")), 0))) {
        pendingRestore = {};
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

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
    DrawFileBackups();

    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextWrapped("Saved profile snapshots (created automatically before each profile sync)");
    ImGui::Spacing();
    DrawProfileSnapshots();
    DrawDeleteSnapshotDialog();
    DrawRestoreQuestion();
}

void App::DrawFileBackups() {
    // A restore replaces the very file a running job may be writing: it waits until the job has ended.
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
        // A list read afresh (the window was activated, something was done): a backup may have
        // changed since it was counted, so each is looked at again, off this thread.
        if (outsideReads.reads.backups != backupListReadsSeen) {
            if (backupListReadsSeen >= 0) backupCounts.CheckAgain();
            backupListReadsSeen = outsideReads.reads.backups;
        }
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

        // Rows are keyed by the backup's file, not its place: a restore adds its safety backup at
        // the top and every row moves down, and no widget state may pass to the row now standing
        // where another stood. A click on "Restore" only asks; the question names the backup.
        ImGui::PushID("fileBackups");
        const float restoreWidth = ButtonWidth("Restore");
        for (const FileBackupEntry& backup : backups) {
            ImGui::PushID(ToUtf8(backup.path).c_str());
            // Never read here: the count is worked out on the counting thread, which wakes the window.
            const std::optional<int> count = backupCounts.Count(browser.kind, backup.path);
            const std::string rowText = ToUtf8(backup.displayTime) + " - " + CountText(count);
            ImGui::AlignTextToFramePadding();
            const float room = ImGui::GetContentRegionAvail().x - ImGui::GetTreeNodeToLabelSpacing() - restoreWidth -
                               ImGui::GetStyle().ItemSpacing.x;
            const std::string shown = Ellipsized(rowText, std::max(room, ImGui::GetFontSize()));
            ImGui::BulletText("%s", shown.c_str());
            if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s\n%s", rowText.c_str(), ToUtf8(backup.path).c_str());
            SameLineIfFits(restoreWidth);
            ImGui::BeginDisabled(running || jobRunning);
            if (ImGui::Button("Restore")) {
                pendingRestore = {};
                pendingRestore.snapshotId = 0;
                pendingRestore.browserName = browser.displayName;
                pendingRestore.targetPath = browser.bookmarksPath;
                pendingRestore.exeName = browser.exeName;
                pendingRestore.targetKind = browser.kind;
                backupCounts.CheckAgain();  // the file may have changed since it was last counted
                pendingRestore.backupPath = backup.path;
                pendingRestore.backupTime = backup.displayTime;
                pendingRestore.what = count ? ToWide(rowText) : backup.displayTime;
                openRestoreQuestion = true;
            }
            ImGui::EndDisabled();
            ImGui::PopID();
        }
        ImGui::PopID();
    }
}

void App::DrawProfileSnapshots() {
    // A restore replaces the very profile a running job may be writing: it waits until the job has ended.
    const bool jobRunning = syncRunning.load();
    if (profiles.empty()) {
        ImGui::TextDisabled("No saved profiles yet.");
        return;
    }
    ClampChoice(backupProfileIndex, profiles.size());
    std::vector<std::string> profileNames;
    for (const ProfileRecord& entry : profiles) profileNames.push_back(ToUtf8(entry.name));
    ImGui::SetNextItemWidth(-1);
    if (NameCombo("##backupProfile", profileNames, backupProfileIndex, "(choose a profile)")) SaveUiState();
    if (!NamesEntry(backupProfileIndex, profiles.size())) {
        WrappedDisabled("Choose a profile to see its snapshots.");
        return;
    }
    const ProfileRecord profile = profiles[backupProfileIndex];

    std::vector<SnapshotInfo> snapshots;
    try {
        snapshots = outsideReads.Snapshots(db, profile.id);
    } catch (const std::exception& error) {
        // Shown as an empty list: the database failure is not the user's to fix from here.
        WrappedDisabled((std::string("Snapshots could not be read: ") + error.what()).c_str());
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
            pendingRestore = {};
            pendingRestore.snapshotId = snapshot.id;
            pendingRestore.profileName = profile.name;
            pendingRestore.snapshotBookmarks = snapshot.bookmark_count;
            try {
                pendingRestore.bookmarksNow = db.CountBookmarks(profile.id);
            } catch (const std::exception&) {
                pendingRestore.bookmarksNow = -1;  // the question says it cannot be read
            }
            pendingRestore.what = rowText;
            openRestoreQuestion = true;
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
}

void App::DrawDeleteSnapshotDialog() {
    if (openDeleteSnapshot) {
        ImGui::OpenPopup("Delete Snapshot");
        openDeleteSnapshot = false;
    }
    CenterNextDialog();
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
            Log(L"[ERROR] Could not delete the snapshot of " + deleteSnapshotText + L": " + ErrorText(e));
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
