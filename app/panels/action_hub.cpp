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

#include "app/panels/fit.h"
#include "app/panels/row_id.h"
#include "app/profile_names.h"
#include "app/theme.h"

namespace bm::ui {

namespace {

constexpr int32_t kNoBrowser = static_cast<int32_t>(BrowserKind::None);
constexpr char kChooseProfile[] = "(choose a profile)";
constexpr char kChooseBrowser[] = "(choose a browser)";


std::vector<std::string> BrowserNames(const std::vector<BrowserInfo>& browsers) {
    std::vector<std::string> names;
    names.reserve(browsers.size());
    for (const BrowserInfo& browser : browsers) names.push_back(ToUtf8(browser.displayName));
    return names;
}

// A button of at least `width`, wider when its label needs it.
bool ButtonAtLeast(const char* label, float width, float height = 0) {
    return ImGui::Button(label, ImVec2(std::max(width, ButtonWidth(label)), height));
}

// The destinations a replace will empty, as the confirmation names them.
std::wstring DestinationsText(const SyncRequest& request, const std::vector<BrowserInfo>& browsers,
                              const std::vector<ProfileRecord>& profiles) {
    std::wstring text;
    auto add = [&text](const std::wstring& name) { text += (text.empty() ? L"" : L", ") + name; };
    if (request.destMode == 0 || request.destMode == 1) {
        for (const BrowserInfo& browser : browsers) {
            const int32_t kind = static_cast<int32_t>(browser.kind);
            const bool chosen = request.destMode == 0
                                    ? kind == request.destBrowserKind
                                    : browser.detected && !(request.sourceType == 0 && kind == request.sourceBrowserKind);
            if (chosen) add(browser.displayName + (request.destMode == 1 && browser.running ? L" (running: skipped)" : L""));
        }
    } else {
        for (const ProfileRecord& profile : profiles)
            if (profile.id == request.destProfileId) add(L"saved profile '" + profile.name + L"'");
    }
    return text.empty() ? L"(none)" : text;
}

// The source of a request as the confirmation names it.
std::wstring SourceText(const SyncRequest& request) {
    if (request.sourceType == 0) return request.sourceName;
    return L"saved profile '" + request.sourceName + L"'";
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
    bool formChanged = DrawSyncSource(browserNames, profileNames);
    formChanged |= DrawSyncDestination(browserNames, profileNames);
    formChanged |= DrawSyncMode();
    DrawSyncNow();
    DrawConfirmReplaceDialog();
    DrawProfileManager();
    DrawDeleteProfileDialog();
    DrawProfileCopy(profileNames);
    DrawCustomPath(browserNames);
    if (formChanged) SaveUiState();
}

bool App::DrawSyncSource(const std::vector<std::string>& browserNames, const std::vector<std::string>& profileNames) {
    bool formChanged = false;
    ImGui::TextColored(AccentColor(), "ACTION HUB");
    WrappedDisabled("Choose a source and destination, then Sync Now");
    ImGui::Spacing();
    ImGui::TextUnformatted("Source");
    if (ImGui::RadioButton("Browser##src", sourceType == 0)) {
        SwitchKind(sourceType, sourceIndex, sourceOtherKindIndex, 0);
        formChanged = true;
    }
    SameLineIfFits(RadioWidth("Saved Profile##src"));
    if (ImGui::RadioButton("Saved Profile##src", sourceType == 1)) {
        SwitchKind(sourceType, sourceIndex, sourceOtherKindIndex, 1);
        formChanged = true;
    }
    if (sourceType == 0) {
        if (browsers.empty()) {
            ImGui::TextDisabled("No browsers detected.");
        } else {
            ClampChoice(sourceIndex, browsers.size());
            formChanged |= NameCombo("##srcBrowser", browserNames, sourceIndex, kChooseBrowser);
        }
    } else if (sourceType == 1) {
        if (profiles.empty()) {
            WrappedDisabled("No saved profiles yet - create one below.");
        } else {
            ClampChoice(sourceIndex, profiles.size());
            formChanged |= NameCombo("##srcProfile", profileNames, sourceIndex, kChooseProfile);
        }
    }
    return formChanged;
}

bool App::DrawSyncDestination(const std::vector<std::string>& browserNames,
                              const std::vector<std::string>& profileNames) {
    bool formChanged = false;
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    ImGui::TextUnformatted("Destination");
    if (ImGui::RadioButton("Single Browser##dst", destMode == 0)) {
        destMode = 0;
        formChanged = true;
    }
    SameLineIfFits(RadioWidth("All Browsers##dst"));
    if (ImGui::RadioButton("All Browsers##dst", destMode == 1)) {
        destMode = 1;
        formChanged = true;
    }
    SameLineIfFits(RadioWidth("Target Profile##dst"));
    if (ImGui::RadioButton("Target Profile##dst", destMode == 2)) {
        destMode = 2;
        formChanged = true;
    }
    if (destMode == 0) {
        if (browsers.empty()) {
            ImGui::TextDisabled("No browsers detected.");
        } else {
            ClampChoice(destBrowserIndex, browsers.size());
            formChanged |= NameCombo("##dstBrowser", browserNames, destBrowserIndex, kChooseBrowser);
            if (SameBrowserBothEnds())
                WrappedColored(CautionColor(), "Source and destination must be different.");
        }
    } else if (destMode == 1) {
        WrappedDisabled("Will sync into every detected & unlocked browser (except the source).");
    } else if (profiles.empty()) {
        WrappedDisabled("No saved profiles yet - create one below.");
    } else {
        ClampChoice(destProfileIndex, profiles.size());
        formChanged |= NameCombo("##dstProfile", profileNames, destProfileIndex, kChooseProfile);
    }
    return formChanged;
}

bool App::DrawSyncMode() {
    bool formChanged = false;
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    ImGui::TextUnformatted("Sync Mode");
    if (ImGui::RadioButton("Merge (Add Only)##mode", writeMode == 0)) {
        writeMode = 0;
        formChanged = true;
    }
    SameLineIfFits(RadioWidth("Replace (Delete Existing First)##mode"));
    if (ImGui::RadioButton("Replace (Delete Existing First)##mode", writeMode == 1)) {
        writeMode = 1;
        formChanged = true;
    }
    if (writeMode == 1) {
        WrappedColored(CautionColor(),
                       "Warning: deletes ALL existing bookmarks at the destination first, then adds the source's.");
        WrappedDisabled("A backup/snapshot is taken automatically first - restore it below if this was a mistake.");
    } else {
        WrappedDisabled("Only adds new bookmarks; nothing at the destination is ever deleted.");
    }
    ImGui::Spacing();
    return formChanged;
}

bool App::SameBrowserBothEnds() const {
    return sourceType == 0 && destMode == 0 && NamesEntry(sourceIndex, browsers.size()) &&
           NamesEntry(destBrowserIndex, browsers.size()) && browsers[sourceIndex].kind == browsers[destBrowserIndex].kind;
}

void App::DrawSyncNow() {
    const bool running = syncRunning.load();
    bool sourceEmpty = true;
    if (sourceType == 0) sourceEmpty = !NamesEntry(sourceIndex, browsers.size());
    if (sourceType == 1) sourceEmpty = !NamesEntry(sourceIndex, profiles.size());
    const bool destinationEmpty = (destMode == 0 && !NamesEntry(destBrowserIndex, browsers.size())) ||
                                  (destMode != 0 && destMode != 1 && !NamesEntry(destProfileIndex, profiles.size()));
    const bool syncDisabled = running || sourceEmpty || destinationEmpty || SameBrowserBothEnds();
    ImGui::BeginDisabled(syncDisabled);
    const bool syncClicked = ButtonAtLeast(running ? "Syncing..." : "Sync Now", 160, 36);
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
        SameLineIfFits(LabelWidth(" working"));
        ImGui::TextUnformatted(" working");
        SameLineIfFits(160);
        const float sweep = static_cast<float>(std::fmod(ImGui::GetTime(), 1.0));
        ImGui::ProgressBar(0.15f + 0.7f * sweep, ImVec2(160, 0), "");
        // Keeps the bar moving: every wake-up while the job runs draws another frame.
        redrawPending = true;
    }
}

void App::DrawConfirmReplaceDialog() {
    if (openConfirmReplace) {
        ImGui::OpenPopup("Confirm Replace Sync");
        openConfirmReplace = false;
    }
    CenterNextDialog();
    if (ImGui::BeginPopupModal("Confirm Replace Sync", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextColored(CautionColor(),
                           "This will DELETE all existing bookmarks at the destination,\n"
                           "then add the source's bookmarks in their place.");
        // Both ends named, so that a source or a destination the user did not mean is seen before
        // anything is emptied. The width is bounded: a long list wraps instead of widening the
        // dialog past the window.
        const std::string source = "Source: " + ToUtf8(SourceText(pendingRequest));
        const std::string emptied = "Emptied first: " + ToUtf8(DestinationsText(pendingRequest, browsers, profiles));
        ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
        ImGui::TextWrapped("%s", source.c_str());
        ImGui::TextWrapped("%s", emptied.c_str());
        ImGui::PopTextWrapPos();
        ImGui::TextUnformatted("A backup/snapshot will be taken automatically first,");
        ImGui::TextUnformatted("so this can be undone from Backups & Restore if needed.");
        ImGui::Spacing();
        if (ButtonAtLeast("Replace Anyway", 140)) {
            RequestSync(pendingRequest);
            ImGui::CloseCurrentPopup();
        }
        ImGui::SameLine();
        if (ButtonAtLeast("Cancel", 100)) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }
}

void App::DrawProfileManager() {
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();
    if (ImGui::TreeNode("Manage Saved Profiles")) {
        ImGui::SetNextItemWidth(std::max(ImGui::GetContentRegionAvail().x - ButtonWidth("Create") -
                                             ImGui::GetStyle().ItemSpacing.x,
                                         ImGui::GetFontSize() * 4));
        ImGui::InputTextWithHint("##newProfile", "New profile name", newProfileName, sizeof(newProfileName));
        SameLineIfFits(ButtonWidth("Create"));
        if (ImGui::Button("Create") && newProfileName[0] != '\0') {
            const std::wstring name = ToWide(newProfileName);
            createProfileError.clear();
            try {
                const int64_t id = db.CreateProfile(name);
                newProfileName[0] = '\0';
                RefreshProfiles();
                if (defaultProfileId == 0 && id > 0) {
                    db.SetDefaultProfileId(id);
                    defaultProfileId = id;
                }
                Log(L"Created profile '" + name + L"'.");
            } catch (const std::exception& e) {
                // The field keeps the text so it can be changed; the list shows what the database holds.
                const std::wstring why = ProfileNameFailure(db, name, 0, e);
                createProfileError = ToUtf8(why);
                Log(L"[ERROR] Could not create the profile '" + name + L"': " + why);
                RefreshProfiles();
            }
        }
        if (!createProfileError.empty()) WrappedColored(CautionColor(), createProfileError.c_str());
        ImGui::Spacing();

        // Drawn from a copy: Save reloads `profiles` in the middle of the rows.
        const std::vector<ProfileRecord> rows = profiles;
        const ImGuiStyle& style = ImGui::GetStyle();
        const float buttonsWidth = SmallButtonWidth("Set Default") + SmallButtonWidth("Rename") +
                                   SmallButtonWidth("Delete") + 3 * style.ItemSpacing.x;
        for (const ProfileRecord& profile : rows) {
            const bool isDefault = profile.id == defaultProfileId;
            const std::string name = ToUtf8(profile.name);
            PushIdOf(profile.id);
            if (isDefault)
                ImGui::TextColored(WarningColor(), "*");
            else
                ImGui::TextDisabled(" ");
            ImGui::SameLine();
            // The name gives way to the buttons: cut with an ellipsis, or the buttons go below it
            // when not even a few letters would be left beside them.
            const float tagWidth = isDefault ? LabelWidth("(Default)") + style.ItemSpacing.x : 0.0f;
            const float room = ImGui::GetContentRegionAvail().x - tagWidth;
            const bool buttonsBeside = room - buttonsWidth >= ImGui::GetFontSize() * 5;
            ImGui::TextUnformatted(Ellipsized(name, buttonsBeside ? room - buttonsWidth : room).c_str());
            if (isDefault) {
                ImGui::SameLine();
                ImGui::TextDisabled("(Default)");
            }

            if (buttonsBeside) {
                ImGui::SameLine();
            } else {
                ImGui::Indent();
            }
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

            SameLineIfFits(SmallButtonWidth("Rename"));
            if (ImGui::SmallButton("Rename")) {
                renameProfileId = profile.id;
                CopyIntoField(renameBuf, name);
                renameProfileError.clear();
                ImGui::OpenPopup("Rename Profile");
            }

            SameLineIfFits(SmallButtonWidth("Delete"));
            if (ImGui::SmallButton("Delete")) AskToDeleteProfile(profile);
            if (!buttonsBeside) ImGui::Unindent();

            CenterNextDialog();
            if (ImGui::BeginPopupModal("Rename Profile", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
                ImGui::InputText("##renameBuf", renameBuf, sizeof(renameBuf));
                if (!renameProfileError.empty()) ImGui::TextColored(CautionColor(), "%s", renameProfileError.c_str());
                if (ImGui::Button("Save")) {
                    bool close = true;
                    if (renameBuf[0] != '\0') {
                        const std::wstring newName = ToWide(renameBuf);
                        try {
                            db.RenameProfile(renameProfileId, newName);
                        } catch (const std::exception& e) {
                            // Stays open with the reason, so another name can be typed at once.
                            const std::wstring why = ProfileNameFailure(db, newName, renameProfileId, e);
                            renameProfileError = ToUtf8(why);
                            Log(L"[ERROR] Could not rename the profile '" + profile.name + L"' to '" + newName +
                                L"': " + why);
                            close = false;
                        }
                        RefreshProfiles();
                        explorerReloadPending = true;
                    }
                    if (close) ImGui::CloseCurrentPopup();
                }
                ImGui::SameLine();
                if (ImGui::Button("Cancel")) ImGui::CloseCurrentPopup();
                ImGui::EndPopup();
            }
            ImGui::PopID();
        }
        ImGui::TreePop();
    }
}

void App::DrawProfileCopy(const std::vector<std::string>& profileNames) {
    // The label is cut, not the panel widened, when the column is narrow; the id stays the full text.
    const char* copyLabel = "Copy Profile -> Profile (Replace Destination)";
    const float copyRoom =
        ImGui::GetContentRegionAvail().x - ImGui::GetTreeNodeToLabelSpacing() - 2 * ImGui::GetStyle().FramePadding.x;
    if (ImGui::TreeNodeEx(copyLabel, 0, "%s", Ellipsized(copyLabel, copyRoom).c_str())) {
        WrappedDisabled("Overwrites the destination profile with an exact copy of the source.");
        if (profiles.empty()) {
            WrappedDisabled("Create at least one profile first.");
        } else {
            ClampChoice(copyFromProfileIndex, profiles.size());
            ClampChoice(copyToProfileIndex, profiles.size());
            ImGui::TextUnformatted("From");
            ImGui::SameLine(80);
            ImGui::SetNextItemWidth(-FLT_MIN);
            NameCombo("##copyFrom", profileNames, copyFromProfileIndex, kChooseProfile);
            ImGui::TextUnformatted("To");
            ImGui::SameLine(80);
            ImGui::SetNextItemWidth(-FLT_MIN);
            NameCombo("##copyTo", profileNames, copyToProfileIndex, kChooseProfile);

            const bool chosen = NamesEntry(copyFromProfileIndex, profiles.size()) && NamesEntry(copyToProfileIndex, profiles.size());
            const bool same = chosen && copyFromProfileIndex == copyToProfileIndex;
            if (same) WrappedColored(CautionColor(), "Source and destination must be different.");
            const bool copyDisabled = !chosen || same || syncRunning.load();
            ImGui::BeginDisabled(copyDisabled);
            const bool copyClicked = ButtonAtLeast("Copy & Replace Destination", 220);
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
}

void App::DrawCustomPath(const std::vector<std::string>& browserNames) {
    if (ImGui::TreeNode("Custom / Portable Browser Path")) {
        if (browsers.empty()) {
            ImGui::TextDisabled("No browsers detected.");
        } else {
            ClampChoice(customBrowserIndex, browsers.size());
            NameCombo("##customBrowser", browserNames, customBrowserIndex, kChooseBrowser);
            ImGui::SetNextItemWidth(std::max(ImGui::GetContentRegionAvail().x - ButtonWidth("Browse...") -
                                                 ImGui::GetStyle().ItemSpacing.x,
                                             ImGui::GetFontSize() * 4));
            ImGui::InputText("##customPath", customPath, sizeof(customPath));
            SameLineIfFits(ButtonWidth("Browse..."));
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
            const bool browserChosen = NamesEntry(customBrowserIndex, browsers.size());
            ImGui::BeginDisabled(!browserChosen);
            const bool saveClicked = ImGui::Button("Save Path Override");
            ImGui::EndDisabled();
            if (saveClicked && browserChosen) {
                const BrowserInfo browser = browsers[customBrowserIndex];
                const std::wstring path = ToWide(customPath);
                try {
                    // An empty field clears an override; with none to clear it is refused.
                    if (path.empty() && !browser.hasCustomPath) {
                        Log(L"No path typed: " + browser.displayName + L" has no custom path, nothing was changed.");
                    } else {
                        db.SetBrowserConfig(BrowserKey(browser.kind), 0, path);
                        RedetectBrowsers();  // the running job keeps the list it started with
                        if (path.empty())
                            Log(L"Custom path removed for " + browser.displayName +
                                L": its detected bookmarks file is used again.");
                        else
                            Log(L"Custom path set for " + browser.displayName + L": " + path);
                    }
                } catch (const std::exception& e) {
                    Log(L"[ERROR] Could not save the custom path for " + browser.displayName + L": " + ErrorText(e));
                }
            }
        }
        ImGui::TreePop();
    }
}

void App::AskToDeleteProfile(const ProfileRecord& profile) {
    // Counted once, when the question is asked: what goes is named before anything goes.
    deleteProfileId = profile.id;
    deleteProfileName = profile.name;
    deleteProfileBookmarks = 0;
    deleteProfileSnapshots = 0;
    try {
        deleteProfileBookmarks = static_cast<size_t>(db.CountBookmarks(profile.id));
        deleteProfileSnapshots = db.ListSnapshots(profile.id).size();
    } catch (const std::exception& e) {
        Log(L"[ERROR] Could not count what the profile '" + profile.name + L"' holds: " + ErrorText(e));
    }
    openDeleteProfile = true;
}

void App::DrawDeleteProfileDialog() {
    if (openDeleteProfile) {
        ImGui::OpenPopup("Delete Profile");
        openDeleteProfile = false;
    }
    CenterNextDialog();
    if (!ImGui::BeginPopupModal("Delete Profile", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    const std::string question = "Delete the saved profile '" + ToUtf8(deleteProfileName) + "'?";
    const std::string contents = "Its " + std::to_string(deleteProfileBookmarks) + " bookmark(s) and " +
                                 std::to_string(deleteProfileSnapshots) + " snapshot(s) are deleted with it.";
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
    ImGui::TextWrapped("%s", question.c_str());
    ImGui::TextWrapped("%s", contents.c_str());
    ImGui::PopTextWrapPos();
    ImGui::TextColored(CautionColor(), "This cannot be undone.");
    ImGui::Spacing();
    if (ButtonAtLeast("Delete", 100)) {
        const int64_t id = deleteProfileId;
        const std::wstring name = deleteProfileName;
        try {
            db.DeleteProfile(id);
            if (id == defaultProfileId) db.SetDefaultProfileId(0);
            Log(L"Deleted profile '" + name + L"'.");
        } catch (const std::exception& e) {
            Log(L"[ERROR] Could not delete the profile '" + name + L"': " + ErrorText(e));
        }
        RefreshProfiles();
        explorerReloadPending = true;
        deleteProfileId = 0;
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ButtonAtLeast("Cancel", 100)) {
        deleteProfileId = 0;
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace bm::ui
