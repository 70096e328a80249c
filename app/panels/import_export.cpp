// IMPORT / EXPORT: portable JSON or HTML files from and into browsers and saved profiles.
#include <imgui.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/panels/fit.h"
#include "app/profile_names.h"
#include "app/theme.h"
#include "core/chromium_bookmarks.h"
#include "core/firefox_places.h"
#include "core/browsers.h"
#include "core/portable_export.h"

namespace bm::ui {

namespace {

constexpr DWORD kDialogBufferUnits = 512;

// Writes the export file and says how it went.
void WriteExport(App& app, const std::vector<BookmarkRecord>& records, const std::wstring& sourceName,
                 const std::wstring& path) {
    std::wstring error;
    bool written = false;
    try {
        written = ExportBookmarks(records, path, &error);
    } catch (const std::exception& failure) {
        error = ErrorText(failure);
    }
    if (written) {
        app.Log(L"[OK] Exported " + std::to_wstring(records.size()) + L" bookmark(s) from '" + sourceName + L"' to " + path);
    } else {
        app.Log(L"[ERROR] Export failed: " + error);
    }
}

// A path field leaves room for its "Browse..." button on the same line.
void PathFieldWidth(const char* browseLabel) {
    const float room = ImGui::GetContentRegionAvail().x - ButtonWidth(browseLabel) - ImGui::GetStyle().ItemSpacing.x;
    ImGui::SetNextItemWidth(std::max(room, ImGui::GetFontSize() * 4));
}

// The click on "Export": the records are read now; a file already at the path is only replaced
// after the user has said so, with what it holds and what the export holds in front of them.
void ExportChosenSource(App& app) {
    std::vector<BookmarkRecord> records;
    std::wstring sourceName;
    std::wstring error;
    try {
        if (app.ieSourceType == 1) {
            const ProfileRecord& profile = app.profiles.at(static_cast<size_t>(app.ieSourceIndex));
            sourceName = profile.name;
            records = app.db.GetBookmarks(profile.id);
        } else {
            const BrowserInfo& browser = app.browsers.at(static_cast<size_t>(app.ieSourceIndex));
            sourceName = browser.displayName;
            records = browser.kind == BrowserKind::Firefox ? ReadFirefoxBookmarks(browser.bookmarksPath, &error)
                                                           : ReadChromiumBookmarks(browser.bookmarksPath, &error);
            // A source that could not be read is no empty export: the file would replace a good one.
            if (records.empty() && browser.bookmarksPath.empty() && error.empty())
                error = L"The browser has no bookmarks file.";
        }
    } catch (const std::exception& failure) {
        error = ErrorText(failure);
        records.clear();
    }
    if (!error.empty()) {
        app.Log(L"[ERROR] Export failed: " + error);
        return;
    }

    const std::wstring path = ToWide(app.exportPath);
    if (FileExists(path)) {
        App::PendingExport& pending = app.pendingExport;
        pending.records = std::move(records);
        pending.sourceName = sourceName;
        pending.path = path;
        // Only counted for the question: a file that cannot be read is said to be so.
        try {
            std::wstring readError;
            pending.fileBookmarks = ImportBookmarks(path, &readError).size();
            pending.fileReadable = readError.empty() || pending.fileBookmarks > 0;
        } catch (const std::exception&) {
            pending.fileBookmarks = 0;
            pending.fileReadable = false;
        }
        app.openReplaceExport = true;
        return;
    }
    WriteExport(app, records, sourceName, path);
}

// The click on "Import".
void ImportChosenFile(App& app) {
    std::wstring error;
    std::wstring warning;
    const std::vector<BookmarkRecord> records = ImportBookmarks(ToWide(app.importPath), &error, &warning);
    app.importWarning = ToUtf8(warning);
    if (records.empty() && !error.empty()) {
        app.Log(L"[ERROR] Import failed: " + error + (warning.empty() ? L"" : L" " + warning));
        return;
    }

    int64_t targetId = 0;
    std::wstring targetName;
    const bool intoNew = app.importAsNew != 0;
    try {
        if (intoNew) {
            targetName = ToWide(app.importNewProfileName);
            targetId = app.db.CreateProfile(targetName);
        } else {
            const ProfileRecord& profile = app.profiles.at(static_cast<size_t>(app.ieDestProfileIndex));
            targetId = profile.id;
            targetName = profile.name;
        }
    } catch (const std::exception& failure) {
        // Most likely a name that another profile already has; nothing has been made.
        if (intoNew)
            app.Log(L"[ERROR] Import failed: could not create profile '" + targetName +
                    L"': " + ProfileNameFailure(app.db, targetName, 0, failure));
        else
            app.Log(L"[ERROR] Import failed: " + ErrorText(failure));
        return;
    }

    int added = 0;
    int duplicates = 0;
    try {
        app.db.CreateSnapshot(targetId, L"Auto-backup before import");
        added = app.db.AddBookmarks(targetId, records, &duplicates);
        app.db.TouchProfile(targetId);
    } catch (const std::exception& failure) {
        // A profile made for this import goes again rather than stay behind half-filled.
        if (intoNew) {
            try {
                app.db.DeleteProfile(targetId);
            } catch (const std::exception&) {
            }
        }
        app.Log(L"[ERROR] Import failed: " + ErrorText(failure));
        app.RefreshProfiles();
        app.explorerReloadPending = true;
        return;
    }
    if (intoNew) app.importNewProfileName[0] = '\0';

    app.RefreshProfiles();
    app.explorerReloadPending = true;
    const std::wstring counts = std::to_wstring(added) + L" added, " + std::to_wstring(duplicates) +
                                L" duplicate(s) skipped.";
    // A file read only in part is not reported as a plain success.
    if (warning.empty())
        app.Log(L"[OK] Imported into '" + targetName + L"': " + counts);
    else
        app.Log(L"[WARN] Imported into '" + targetName + L"' from a damaged file: " + counts + L" " + warning);
}

}  // namespace

void App::DrawImportExport() {
    ImGui::TextColored(GreenTitleColor(), "IMPORT / EXPORT");
    WrappedDisabled("Save bookmarks to a portable file, e.g. before reinstalling Windows");
    ImGui::Spacing();

    std::vector<std::string> browserNames, profileNames;
    for (const BrowserInfo& browser : browsers) browserNames.push_back(ToUtf8(browser.displayName));
    for (const ProfileRecord& profile : profiles) profileNames.push_back(ToUtf8(profile.name));

    if (ImGui::TreeNode("Export")) {
        ImGui::TextUnformatted("Source");
        // Each kind of source keeps its own choice: the entry that happens to stand at the same
        // place in the other list is not what the user asked to export.
        if (ImGui::RadioButton("Browser##ie", ieSourceType == 0))
            SwitchKind(ieSourceType, ieSourceIndex, ieSourceOtherKindIndex, 0);
        SameLineIfFits(RadioWidth("Saved Profile##ie"));
        if (ImGui::RadioButton("Saved Profile##ie", ieSourceType == 1))
            SwitchKind(ieSourceType, ieSourceIndex, ieSourceOtherKindIndex, 1);

        const std::vector<std::string>* sourceNames =
            ieSourceType == 0 ? &browserNames : ieSourceType == 1 ? &profileNames : nullptr;
        if (sourceNames && !sourceNames->empty()) {
            ClampChoice(ieSourceIndex, sourceNames->size());
            NameCombo(ieSourceType == 0 ? "##ieSrcBrowser" : "##ieSrcProfile", *sourceNames, ieSourceIndex,
                      ieSourceType == 0 ? "(choose a browser)" : "(choose a profile)");
        } else if (ieSourceType == 0) {
            ImGui::TextDisabled("No browsers detected.");
        } else {
            WrappedDisabled("No saved profiles yet - create one in the action hub or import a file.");
        }

        PathFieldWidth("Browse...##export");
        ImGui::InputTextWithHint("##ieExportPath", "Destination file (.json or .html)", exportPath, sizeof exportPath);
        SameLineIfFits(ButtonWidth("Browse...##export"));
        if (ImGui::Button("Browse...##export")) {
            wchar_t file[kDialogBufferUnits] = {};
            OPENFILENAMEW dialog = {};
            dialog.lStructSize = sizeof dialog;
            dialog.hwndOwner = hwnd;
            dialog.lpstrFilter = L"Orvellane JSON (*.json)\0*.json\0Netscape Bookmark HTML (*.html)\0*.html\0";
            dialog.lpstrFile = file;
            dialog.nMaxFile = kDialogBufferUnits;
            dialog.lpstrDefExt = L"json";
            dialog.lpstrTitle = L"Export bookmarks to file";
            // No overwrite prompt here: "Export" asks, with what the file holds, whichever way the
            // path came.
            dialog.Flags = OFN_PATHMUSTEXIST;
            const BOOL chosen = saveFileDialog ? saveFileDialog(&dialog) : GetSaveFileNameW(&dialog);
            if (chosen == 1) CopyIntoField(exportPath, ToUtf8(file));
        }

        const bool exportable = exportPath[0] != '\0' && sourceNames && NamesEntry(ieSourceIndex, sourceNames->size());
        ImGui::BeginDisabled(!exportable);
        if (ImGui::Button("Export") && exportable) ExportChosenSource(*this);
        ImGui::EndDisabled();
        ImGui::TreePop();
    }

    if (ImGui::TreeNode("Import")) {
        PathFieldWidth("Browse...##import");
        ImGui::InputTextWithHint("##ieImportPath", "Source file (.json or .html)", importPath, sizeof importPath);
        SameLineIfFits(ButtonWidth("Browse...##import"));
        if (ImGui::Button("Browse...##import")) {
            wchar_t file[kDialogBufferUnits] = {};
            OPENFILENAMEW dialog = {};
            dialog.lStructSize = sizeof dialog;
            dialog.hwndOwner = hwnd;
            dialog.lpstrFilter = L"Bookmark exports (*.json;*.html;*.htm)\0*.json;*.html;*.htm\0All files\0*.*\0";
            dialog.lpstrFile = file;
            dialog.nMaxFile = kDialogBufferUnits;
            dialog.lpstrTitle = L"Import bookmarks from file";
            dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
            const BOOL chosen = openFileDialog ? openFileDialog(&dialog) : GetOpenFileNameW(&dialog);
            if (chosen == 1) CopyIntoField(importPath, ToUtf8(file));
        }

        ImGui::TextUnformatted("Import into");
        if (ImGui::RadioButton("New Profile##ie", importAsNew != 0)) importAsNew = 1;
        SameLineIfFits(RadioWidth("Existing Profile##ie"));
        if (ImGui::RadioButton("Existing Profile##ie", importAsNew == 0)) importAsNew = 0;

        if (importAsNew != 0) {
            ImGui::InputTextWithHint("##ieNewProfileName", "New profile name", importNewProfileName,
                                     sizeof importNewProfileName);
        } else if (profiles.empty()) {
            WrappedDisabled("No existing profiles - choose 'New Profile' instead.");
        } else {
            ClampChoice(ieDestProfileIndex, profiles.size());
            NameCombo("##ieDstProfile", profileNames, ieDestProfileIndex, "(choose a profile)");
        }

        const bool importable = importPath[0] != '\0' &&
                                (importAsNew != 0 ? importNewProfileName[0] != '\0'
                                                  : NamesEntry(ieDestProfileIndex, profiles.size()));
        ImGui::BeginDisabled(!importable);
        if (ImGui::Button("Import") && importable) ImportChosenFile(*this);
        ImGui::EndDisabled();
        if (!importWarning.empty()) WrappedColored(WarningColor(), importWarning.c_str());
        ImGui::TreePop();
    }
    DrawReplaceExportDialog();
}

void App::DrawReplaceExportDialog() {
    if (openReplaceExport) {
        ImGui::OpenPopup("Replace Export File");
        openReplaceExport = false;
    }
    CenterNextDialog();
    if (!ImGui::BeginPopupModal("Replace Export File", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    const PendingExport& pending = pendingExport;
    const std::string file = ToUtf8(pending.path);
    const std::string holds =
        pending.fileReadable ? "It holds " + std::to_string(pending.fileBookmarks) + " bookmark(s)."
                             : "It is not a bookmark export this program can read.";
    const std::string export_ = "The export from '" + ToUtf8(pending.sourceName) + "' holds " +
                                std::to_string(pending.records.size()) + " bookmark(s).";
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::GetMainViewport()->Size.x * 0.6f);
    ImGui::TextWrapped("The file %s already exists.", file.c_str());
    ImGui::TextWrapped("%s", holds.c_str());
    ImGui::TextWrapped("%s", export_.c_str());
    if (pending.records.empty() && pending.fileBookmarks > 0) {
        const std::string lost = "This export holds no bookmarks: replacing the file loses its " +
                                 std::to_string(pending.fileBookmarks) + " bookmark(s).";
        ImGui::PushStyleColor(ImGuiCol_Text, CautionColor());
        ImGui::TextWrapped("%s", lost.c_str());
        ImGui::PopStyleColor();
    }
    ImGui::PopTextWrapPos();
    ImGui::Spacing();
    if (ImGui::Button("Replace the file")) {
        WriteExport(*this, pending.records, pending.sourceName, pending.path);
        pendingExport = {};
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel##replaceExport")) {
        Log(L"Export cancelled: " + pending.path + L" was left as it was.");
        pendingExport = {};
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace bm::ui
