// BACKUPS & RESTORE: browser file backups and saved-profile snapshots, with restore.
#include <imgui.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/app.h"
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
    ImGui::BulletText("Pick the browser (or saved profile) below.");
    ImGui::BulletText("Click Restore next to the timestamp you want.");
    ImGui::BulletText("Close that browser first if it shows RUNNING.");
    ImGui::TextDisabled("A new backup of the current state is made before every restore.");
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextUnformatted("Browser backups (created automatically before each sync)");
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
            ImGui::TextColored(WarningColor(), "Close %s before restoring.", browserName.c_str());
            ImGui::SameLine();
            if (ImGui::SmallButton("Close##backup")) {
                closeQueueExe = {browser.exeName};
                closeQueueNames = {browser.displayName};
                openCloseBrowsers = true;
                syncAfterClose = false;
            }
        }
        if (backups.empty())
            ImGui::TextDisabled("No backups yet for this browser. One is created automatically the next time you sync to it.");

        for (size_t i = 0; i < backups.size(); ++i) {
            const FileBackupEntry& backup = backups[i];
            ImGui::PushID(static_cast<int>(i));
            ImGui::AlignTextToFramePadding();
            ImGui::BulletText("%s", ToUtf8(backup.displayTime).c_str());
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
    }

    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextUnformatted("Saved profile snapshots (created automatically before each profile sync)");
    ImGui::Spacing();

    if (profiles.empty()) {
        ImGui::TextDisabled("No saved profiles yet.");
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
        ImGui::TextDisabled("Snapshots could not be read: %s", error.what());
        return;
    }
    if (snapshots.empty())
        ImGui::TextDisabled("No snapshots yet. One is created automatically the next time you sync into this profile.");

    for (const SnapshotInfo& snapshot : snapshots) {
        ImGui::PushID(static_cast<int>(static_cast<uint32_t>(snapshot.id & 0xFFFFFFFF)));
        ImGui::AlignTextToFramePadding();
        ImGui::BulletText("%s - %s (%d bookmarks)", ToUtf8(SnapshotTimeText(snapshot.created_at)).c_str(),
                          ToUtf8(snapshot.label).c_str(), snapshot.bookmark_count);
        ImGui::SameLine();
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
        ImGui::SameLine();
        if (ImGui::SmallButton("Delete")) {
            try {
                db.DeleteSnapshot(snapshot.id);
            } catch (const std::exception&) {
                // A failed deletion is silent; the row stays in the next frame's list.
            }
        }
        ImGui::PopID();
    }
}

}  // namespace bm::ui
