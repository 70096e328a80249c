// ACTION HUB: source, destination and mode of a sync; profile management, profile copy, custom paths.
#include "app/app.h"

#include <commdlg.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/theme.h"

namespace bm::ui {

namespace {

constexpr int32_t kNoBrowser = static_cast<int32_t>(BrowserKind::None);

// Copies `text` into a fixed field, cut to what fits but never inside a UTF-8 sequence, so the
// field always holds whole characters.
template <size_t N>
void CopyIntoField(char (&field)[N], const std::string& text) {
    size_t length = std::min(text.size(), N - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Lowers an index to the last position of a non-empty list (and raises a negative one to 0).
void ClampIndex(int32_t& index, size_t count) {
    if (count == 0) return;
    index = std::clamp(index, 0, static_cast<int32_t>(count) - 1);
}

std::wstring ErrorText(const std::exception& e) { return ToWide(e.what()); }

// A combo over UTF-8 names; true when an entry was picked (even the one already chosen).
bool NameCombo(const char* id, const std::vector<std::string>& names, int32_t& index) {
    bool picked = false;
    const char* preview = (index >= 0 && index < static_cast<int32_t>(names.size())) ? names[index].c_str() : "";
    if (ImGui::BeginCombo(id, preview)) {
        for (size_t i = 0; i < names.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            const bool selected = static_cast<int32_t>(i) == index;
            if (ImGui::Selectable(names[i].c_str(), selected)) {
                index = static_cast<int32_t>(i);
                picked = true;
            }
            if (selected) ImGui::SetItemDefaultFocus();
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    return picked;
}

std::vector<std::string> BrowserNames(const std::vector<BrowserInfo>& browsers) {
    std::vector<std::string> names;
    names.reserve(browsers.size());
    for (const BrowserInfo& browser : browsers) names.push_back(ToUtf8(browser.displayName));
    return names;
}

std::vector<std::string> ProfileNames(const std::vector<ProfileRecord>& profiles) {
    std::vector<std::string> names;
    names.reserve(profiles.size());
    for (const ProfileRecord& profile : profiles) names.push_back(ToUtf8(profile.name));
    return names;
}

}  // namespace

void App::DrawActionHub() {
    const std::vector<std::string> browserNames = BrowserNames(browsers);
    const std::vector<std::string> profileNames = ProfileNames(profiles);
    bool formChanged = false;

    // ---- Source ----
    ImGui::TextColored(AccentColor(), "ACTION HUB");
    ImGui::TextDisabled("Choose a source and destination, then Sync Now");
    ImGui::Spacing();
    ImGui::TextUnformatted("Source");
    if (ImGui::RadioButton("Browser##src", sourceType == 0)) {
        sourceType = 0;
        formChanged = true;
    }
    ImGui::SameLine();
    if (ImGui::RadioButton("Saved Profile##src", sourceType == 1)) {
        sourceType = 1;
        formChanged = true;
    }
    if (sourceType == 0) {
        if (browsers.empty()) {
            ImGui::TextDisabled("No browsers detected.");
        } else {
            ClampIndex(sourceIndex, browsers.size());
            formChanged |= NameCombo("##srcBrowser", browserNames, sourceIndex);
        }
    } else if (sourceType == 1) {
        if (profiles.empty()) {
            ImGui::TextDisabled("No saved profiles yet - create one below.");
        } else {
            ClampIndex(sourceIndex, profiles.size());
            formChanged |= NameCombo("##srcProfile", profileNames, sourceIndex);
        }
    }

    // ---- Destination ----
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    ImGui::TextUnformatted("Destination");
    if (ImGui::RadioButton("Single Browser##dst", destMode == 0)) {
        destMode = 0;
        formChanged = true;
    }
    ImGui::SameLine();
    if (ImGui::RadioButton("All Browsers##dst", destMode == 1)) {
        destMode = 1;
        formChanged = true;
    }
    ImGui::SameLine();
    if (ImGui::RadioButton("Target Profile##dst", destMode == 2)) {
        destMode = 2;
        formChanged = true;
    }
    if (destMode == 0) {
        if (!browsers.empty()) {
            ClampIndex(destBrowserIndex, browsers.size());
            formChanged |= NameCombo("##dstBrowser", browserNames, destBrowserIndex);
        }
    } else if (destMode == 1) {
        ImGui::TextDisabled("Will sync into every detected & unlocked browser (except the source).");
    } else if (profiles.empty()) {
        ImGui::TextDisabled("No saved profiles yet - create one below.");
    } else {
        ClampIndex(destProfileIndex, profiles.size());
        formChanged |= NameCombo("##dstProfile", profileNames, destProfileIndex);
    }

    // ---- Sync mode ----
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    ImGui::TextUnformatted("Sync Mode");
    if (ImGui::RadioButton("Merge (Add Only)##mode", writeMode == 0)) {
        writeMode = 0;
        formChanged = true;
    }
    ImGui::SameLine();
    if (ImGui::RadioButton("Replace (Delete Existing First)##mode", writeMode == 1)) {
        writeMode = 1;
        formChanged = true;
    }
    if (writeMode == 1) {
        ImGui::TextColored(CautionColor(),
                           "Warning: deletes ALL existing bookmarks at the destination first, then adds the source's.");
        ImGui::TextDisabled("A backup/snapshot is taken automatically first - restore it below if this was a mistake.");
    } else {
        ImGui::TextDisabled("Only adds new bookmarks; nothing at the destination is ever deleted.");
    }
    ImGui::Spacing();

    // ---- Sync Now ----
    const bool running = syncRunning.load();
    bool sourceEmpty = true;
    if (sourceType == 0) sourceEmpty = browsers.empty();
    if (sourceType == 1) sourceEmpty = profiles.empty();
    const bool syncDisabled = running || sourceEmpty || (destMode == 0 && browsers.empty()) ||
                              (destMode == 2 && profiles.empty());
    ImGui::BeginDisabled(syncDisabled);
    const bool syncClicked = ImGui::Button(running ? "Syncing..." : "Sync Now", ImVec2(160, 36));
    ImGui::EndDisabled();
    if (syncClicked && !syncDisabled) {
        // The indices were brought inside their lists above, in this frame, by the widgets drawn.
        SyncRequest request;
        request.sourceType = sourceType != 0 ? 1 : 0;
        if (request.sourceType == 0) {
            request.sourceBrowserKind = static_cast<int32_t>(browsers[sourceIndex].kind);
            request.sourceName = browsers[sourceIndex].displayName;
        } else {
            request.sourceBrowserKind = kNoBrowser;
            request.sourceProfileId = profiles[sourceIndex].id;
            request.sourceName = profiles[sourceIndex].name;
        }
        request.destMode = destMode == 0 ? 0 : destMode == 1 ? 1 : 2;
        request.destBrowserKind = request.destMode == 0 ? static_cast<int32_t>(browsers[destBrowserIndex].kind) : kNoBrowser;
        request.destProfileId = request.destMode == 2 ? profiles[destProfileIndex].id : 0;
        request.writeMode = writeMode == 1 ? 1 : 0;
        request.autoBackup = autoBackup;
        if (writeMode == 1 && confirmBeforeSync) {
            pendingRequest = request;
            openConfirmReplace = true;
        } else {
            RequestSync(request);
        }
    }

    if (syncRunning.load()) {
        ImGui::SameLine();
        ImGui::TextUnformatted(" working");
        ImGui::SameLine();
        const float sweep = static_cast<float>(std::fmod(ImGui::GetTime(), 1.0));
        ImGui::ProgressBar(0.15f + 0.7f * sweep, ImVec2(160, 0), "");
        // Keeps the bar moving: every wake-up while the job runs draws another frame.
        redrawPending = true;
    }

    // ---- Confirmation of a replace ----
    if (openConfirmReplace) {
        ImGui::OpenPopup("Confirm Replace Sync");
        openConfirmReplace = false;
    }
    if (ImGui::BeginPopupModal("Confirm Replace Sync", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextColored(CautionColor(),
                           "This will DELETE all existing bookmarks at the destination,\n"
                           "then add the source's bookmarks in their place.");
        ImGui::TextUnformatted("A backup/snapshot will be taken automatically first,");
        ImGui::TextUnformatted("so this can be undone from Backups & Restore if needed.");
        ImGui::Spacing();
        if (ImGui::Button("Replace Anyway", ImVec2(140, 0))) {
            RequestSync(pendingRequest);
            ImGui::CloseCurrentPopup();
        }
        ImGui::SameLine();
        if (ImGui::Button("Cancel", ImVec2(100, 0))) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }

    // ---- Saved profiles ----
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    if (ImGui::TreeNode("Manage Saved Profiles")) {
        ImGui::InputTextWithHint("##newProfile", "New profile name", newProfileName, sizeof(newProfileName));
        ImGui::SameLine();
        if (ImGui::Button("Create") && newProfileName[0] != '\0') {
            const std::wstring name = ToWide(newProfileName);
            try {
                const int64_t id = db.CreateProfile(name);
                newProfileName[0] = '\0';
                RefreshProfiles();
                if (defaultProfileId == 0 && id > 0) {
                    db.SetDefaultProfileId(id);
                    defaultProfileId = id;
                }
                Log(L"Created profile.");
            } catch (const std::exception& e) {
                // A name another profile already has, or a failing statement: the field keeps the
                // text so it can be changed, and the list shows what the database holds.
                Log(L"[ERROR] Could not create the profile '" + name + L"': " + ErrorText(e));
                RefreshProfiles();
            }
        }
        ImGui::Spacing();

        // Drawn from a copy: Delete and Save reload `profiles` in the middle of the rows.
        const std::vector<ProfileRecord> rows = profiles;
        for (const ProfileRecord& profile : rows) {
            const bool isDefault = profile.id == defaultProfileId;
            const std::string name = ToUtf8(profile.name);
            ImGui::PushID(static_cast<int>(static_cast<uint32_t>(profile.id)));
            if (isDefault)
                ImGui::TextColored(WarningColor(), "*");
            else
                ImGui::TextDisabled(" ");
            ImGui::SameLine();
            ImGui::TextUnformatted(name.c_str());
            if (isDefault) {
                ImGui::SameLine();
                ImGui::TextDisabled("(Default)");
            }

            ImGui::SameLine();
            ImGui::BeginDisabled(isDefault);
            const bool setDefault = ImGui::SmallButton("Set Default");
            ImGui::EndDisabled();
            if (setDefault && !isDefault) {
                try {
                    db.SetDefaultProfileId(profile.id);
                    defaultProfileId = profile.id;
                    Log(L"'" + profile.name + L"' is now the default profile.");
                } catch (const std::exception& e) {
                    Log(L"[ERROR] Could not make '" + profile.name + L"' the default profile: " + ErrorText(e));
                }
            }

            ImGui::SameLine();
            if (ImGui::SmallButton("Rename")) {
                renameProfileId = profile.id;
                CopyIntoField(renameBuf, name);
                ImGui::OpenPopup("Rename Profile");
            }

            ImGui::SameLine();
            if (ImGui::SmallButton("Delete")) {
                try {
                    db.DeleteProfile(profile.id);
                    if (isDefault) db.SetDefaultProfileId(0);
                    Log(L"Deleted profile '" + profile.name + L"'.");
                } catch (const std::exception& e) {
                    Log(L"[ERROR] Could not delete the profile '" + profile.name + L"': " + ErrorText(e));
                }
                RefreshProfiles();
                explorerReloadPending = true;
            }

            if (ImGui::BeginPopupModal("Rename Profile", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
                ImGui::InputText("##renameBuf", renameBuf, sizeof(renameBuf));
                if (ImGui::Button("Save")) {
                    if (renameBuf[0] != '\0') {
                        const std::wstring newName = ToWide(renameBuf);
                        try {
                            db.RenameProfile(renameProfileId, newName);
                        } catch (const std::exception& e) {
                            Log(L"[ERROR] Could not rename the profile '" + profile.name + L"' to '" + newName +
                                L"': " + ErrorText(e));
                        }
                        RefreshProfiles();
                        explorerReloadPending = true;
                    }
                    ImGui::CloseCurrentPopup();
                }
                ImGui::SameLine();
                if (ImGui::Button("Cancel")) ImGui::CloseCurrentPopup();
                ImGui::EndPopup();
            }
            ImGui::PopID();
        }
        ImGui::TreePop();
    }

    // ---- Profile to profile copy ----
    if (ImGui::TreeNode("Copy Profile -> Profile (Replace Destination)")) {
        ImGui::TextDisabled("Overwrites the destination profile with an exact copy of the source.");
        if (profiles.empty()) {
            ImGui::TextDisabled("Create at least one profile first.");
        } else {
            ClampIndex(copyFromProfileIndex, profiles.size());
            ClampIndex(copyToProfileIndex, profiles.size());
            ImGui::TextUnformatted("From");
            ImGui::SameLine(80);
            NameCombo("##copyFrom", profileNames, copyFromProfileIndex);
            ImGui::TextUnformatted("To");
            ImGui::SameLine(80);
            NameCombo("##copyTo", profileNames, copyToProfileIndex);

            const bool same = copyFromProfileIndex == copyToProfileIndex;
            if (same) ImGui::TextColored(CautionColor(), "Source and destination must be different.");
            const bool copyDisabled = same || syncRunning.load();
            ImGui::BeginDisabled(copyDisabled);
            const bool copyClicked = ImGui::Button("Copy & Replace Destination", ImVec2(220, 0));
            ImGui::EndDisabled();
            if (copyClicked && !copyDisabled) {
                const ProfileRecord& from = profiles[copyFromProfileIndex];
                SyncRequest request;
                request.sourceType = 1;
                request.sourceBrowserKind = kNoBrowser;
                request.sourceProfileId = from.id;
                request.sourceName = from.name;
                request.destMode = 2;
                request.destBrowserKind = kNoBrowser;
                request.destProfileId = profiles[copyToProfileIndex].id;
                request.writeMode = 1;
                request.autoBackup = autoBackup;
                if (confirmBeforeSync) {
                    pendingRequest = request;
                    openConfirmReplace = true;
                } else {
                    StartSync(request);  // touches no browser: nothing to close first
                }
            }
        }
        ImGui::TreePop();
    }

    // ---- Custom bookmark-file path ----
    if (ImGui::TreeNode("Custom / Portable Browser Path")) {
        if (!browsers.empty()) {
            ClampIndex(customBrowserIndex, browsers.size());
            NameCombo("##customBrowser", browserNames, customBrowserIndex);
            ImGui::InputText("##customPath", customPath, sizeof(customPath));
            ImGui::SameLine();
            if (ImGui::Button("Browse...")) {
                wchar_t file[512] = {};
                OPENFILENAMEW dialog{};
                dialog.lStructSize = sizeof(dialog);
                dialog.hwndOwner = hwnd;
                dialog.lpstrFilter = L"Bookmark files (*.* )\0*.*\0";
                dialog.lpstrFile = file;
                dialog.nMaxFile = 512;
                dialog.lpstrTitle = L"Select bookmarks file (Bookmarks JSON or places.sqlite)";
                dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
                if (GetOpenFileNameW(&dialog)) CopyIntoField(customPath, ToUtf8(file));
            }
            if (ImGui::Button("Save Path Override")) {
                const BrowserInfo browser = browsers[customBrowserIndex];
                try {
                    db.SetBrowserConfig(BrowserKey(browser.kind), 0, ToWide(customPath));
                    RedetectBrowsers();  // the running job keeps the list it started with
                    Log(L"Custom path set for " + browser.displayName + L".");
                } catch (const std::exception& e) {
                    Log(L"[ERROR] Could not save the custom path for " + browser.displayName + L": " + ErrorText(e));
                }
            }
        }
        ImGui::TreePop();
    }

    if (formChanged) SaveUiState();
}

}  // namespace bm::ui
