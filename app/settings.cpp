// Settings and interface state in app_settings: browsers are stored by key and profiles by id, so
// that a choice survives changes of the lists.
#include "app/app.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <vector>

#include "app/panels/fit.h"
#include "app/setting_values.h"
#include "core/bookmark_record.h"

namespace bm::ui {

namespace {

constexpr int32_t kNoCoordinate = INT32_MIN;

std::wstring Flag(bool value) { return value ? L"1" : L"0"; }

// The position a selection stands for in a list of `count`: the panels lower an index past the end
// to the last entry before they use it.
int Effective(int32_t index, size_t count) { return std::clamp(index, 0, static_cast<int32_t>(count) - 1); }

// Every selection held as a position in `profiles`: the source and the explorer and the export
// source only while they name a saved profile.
std::vector<int32_t*> ProfileSelections(App& app) {
    std::vector<int32_t*> fields = {&app.destProfileIndex,     &app.copyFromProfileIndex, &app.copyToProfileIndex,
                                    &app.backupProfileIndex,   &app.ieDestProfileIndex};
    fields.push_back(app.sourceType == 1 ? &app.sourceIndex : &app.sourceOtherKindIndex);
    fields.push_back(app.explorerType == 1 ? &app.explorerIndex : &app.explorerOtherKindIndex);
    fields.push_back(app.ieSourceType == 1 ? &app.ieSourceIndex : &app.ieSourceOtherKindIndex);
    return fields;
}

// Every selection held as a position in `browsers`.
std::vector<int32_t*> BrowserSelections(App& app) {
    std::vector<int32_t*> fields = {&app.destBrowserIndex, &app.customBrowserIndex, &app.backupBrowserIndex};
    fields.push_back(app.sourceType == 0 ? &app.sourceIndex : &app.sourceOtherKindIndex);
    fields.push_back(app.explorerType == 0 ? &app.explorerIndex : &app.explorerOtherKindIndex);
    fields.push_back(app.ieSourceType == 0 ? &app.ieSourceIndex : &app.ieSourceOtherKindIndex);
    return fields;
}

// True while the explorer shows the entry at explorerIndex of the list of `type`.
bool ExplorerShows(const App& app, int32_t type) {
    const size_t count = type == 0 ? app.browsers.size() : app.profiles.size();
    return app.explorerType == type && app.explorerLastType == type && app.explorerLastIndex == app.explorerIndex &&
           app.explorerIndex >= 0 && app.explorerIndex < static_cast<int32_t>(count);
}

}  // namespace

std::wstring App::BrowserIndexToKey(int index) const {
    if (index < 0 || index >= static_cast<int>(browsers.size())) return L"";
    return BrowserKey(browsers[index].kind);
}

int App::BrowserKeyToIndex(const std::wstring& key) const {
    if (key.empty()) return 0;
    for (size_t i = 0; i < browsers.size(); ++i)
        if (BrowserKey(browsers[i].kind) == key) return static_cast<int>(i);
    return 0;
}

void App::LoadSettings() {
    lightTheme = GetSettingText(db, L"theme", L"dark") == L"light" ? 1 : 0;
    autoBackup = GetSettingText(db, L"auto_backup", L"1") != L"0";
    confirmBeforeSync = GetSettingText(db, L"confirm_before_sync", L"1") != L"0";

    fontSizeIndex = std::clamp(GetSettingInt(db, L"font_size", 1), 0, 3);  // unreadable: Medium

    const float leftWidth = GetSettingFloat(db, L"left_pane_width", 0.0f);
    if (leftWidth >= 320.0f) {
        leftPaneWidth = leftWidth;
        leftPaneWidthValid = true;
    }
    const float console = GetSettingFloat(db, L"console_height", 0.0f);
    if (console >= 90.0f) consoleHeight = console;

    const int32_t left = GetSettingInt(db, L"win_left", kNoCoordinate);
    const int32_t top = GetSettingInt(db, L"win_top", kNoCoordinate);
    const int32_t right = GetSettingInt(db, L"win_right", kNoCoordinate);
    const int32_t bottom = GetSettingInt(db, L"win_bottom", kNoCoordinate);
    const int32_t show = GetSettingInt(db, L"win_show", 1);
    if (left == kNoCoordinate || top == kNoCoordinate || left >= right || top >= bottom) return;
    const RECT rect = {left, top, right, bottom};
    if (!MonitorFromRect(&rect, MONITOR_DEFAULTTONULL)) return;  // no monitor shows it any more

    savedPlacement = {};
    savedPlacement.length = sizeof(savedPlacement);
    savedPlacement.flags = 0;
    savedPlacement.showCmd = show == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;  // minimised comes back normal
    savedPlacement.rcNormalPosition = rect;
    hasSavedPlacement = true;
}

void App::SaveSettings() {
    if (!dbOpen || !hwnd) return;
    try {
        db.SetSetting(L"theme", lightTheme == 1 ? L"light" : L"dark");
        db.SetSetting(L"font_size", std::to_wstring(fontSizeIndex));
        db.SetSetting(L"auto_backup", Flag(autoBackup));
        db.SetSetting(L"confirm_before_sync", Flag(confirmBeforeSync));
        if (leftPaneWidth > 0.0f) db.SetSetting(L"left_pane_width", std::to_wstring(leftPaneWidth));
        if (consoleHeight > 0.0f) db.SetSetting(L"console_height", std::to_wstring(consoleHeight));

        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        if (!GetWindowPlacement(hwnd, &placement)) return;
        db.SetSetting(L"win_left", std::to_wstring(placement.rcNormalPosition.left));
        db.SetSetting(L"win_top", std::to_wstring(placement.rcNormalPosition.top));
        db.SetSetting(L"win_right", std::to_wstring(placement.rcNormalPosition.right));
        db.SetSetting(L"win_bottom", std::to_wstring(placement.rcNormalPosition.bottom));
        db.SetSetting(L"win_show", std::to_wstring(placement.showCmd));
    } catch (const std::exception& e) {
        // The values stay in force in memory; the next save tries again.
        Log(L"[ERROR] Could not save the settings: " + ErrorText(e));
        return;
    }
    SaveUiState();
}

void App::SaveUiState() {
    if (!dbOpen) return;
    auto profileId = [this](int index) -> std::wstring {
        if (index < 0 || index >= static_cast<int>(profiles.size())) return L"0";
        return std::to_wstring(profiles[index].id);
    };
    try {
        db.SetSetting(L"ui_source_type", std::to_wstring(sourceType));
        if (sourceType != 0)
            db.SetSetting(L"ui_source_profile", profileId(sourceIndex));
        else
            db.SetSetting(L"ui_source_browser", BrowserIndexToKey(sourceIndex));
        db.SetSetting(L"ui_dest_mode", std::to_wstring(destMode));
        db.SetSetting(L"ui_dest_browser", BrowserIndexToKey(destBrowserIndex));
        db.SetSetting(L"ui_dest_profile", profileId(destProfileIndex));
        db.SetSetting(L"ui_sync_write_mode", std::to_wstring(writeMode));
        db.SetSetting(L"ui_explorer_type", std::to_wstring(explorerType));
        if (explorerType != 0)
            db.SetSetting(L"ui_explorer_profile", profileId(explorerIndex));
        else
            db.SetSetting(L"ui_explorer_browser", BrowserIndexToKey(explorerIndex));
        db.SetSetting(L"ui_backup_browser", BrowserIndexToKey(backupBrowserIndex));
        db.SetSetting(L"ui_backup_profile", profileId(backupProfileIndex));
        db.SetSetting(L"ui_ie_source_type", std::to_wstring(ieSourceType));
        if (ieSourceType != 0)
            db.SetSetting(L"ui_ie_source_profile", profileId(ieSourceIndex));
        else
            db.SetSetting(L"ui_ie_source_index_browser", BrowserIndexToKey(ieSourceIndex));
        db.SetSetting(L"ui_ie_dest_profile", profileId(ieDestProfileIndex));
        db.SetSetting(L"ui_ie_import_as_new", std::to_wstring(importAsNew));
        db.SetSetting(L"ui_custom_browser", BrowserIndexToKey(customBrowserIndex));
        db.SetSetting(L"ui_copy_from_profile", profileId(copyFromProfileIndex));
        db.SetSetting(L"ui_copy_to_profile", profileId(copyToProfileIndex));
    } catch (const std::exception& e) {
        Log(L"[ERROR] Could not save the interface state: " + ErrorText(e));
    }
}

int App::DefaultProfileIndex() const {
    if (defaultProfileId == 0) return 0;
    for (size_t i = 0; i < profiles.size(); ++i)
        if (profiles[i].id == defaultProfileId) return static_cast<int>(i);
    return 0;
}

void App::LoadUiState() {
    // A selection comes back only as the entry the user chose: an empty or vanished choice (stored
    // as no key, or as the profile id 0) stays empty until the user chooses, instead of becoming
    // whatever entry stands first.
    auto browserIndex = [this](const wchar_t* key) {
        const std::wstring stored = GetSettingText(db, key, L"");
        for (size_t i = 0; i < browsers.size(); ++i)
            if (!stored.empty() && BrowserKey(browsers[i].kind) == stored) return static_cast<int32_t>(i);
        return kNoChoice;
    };
    auto profileIndex = [this](const wchar_t* key) {
        const int64_t id = GetSettingInt64(db, key);
        for (size_t i = 0; i < profiles.size(); ++i)
            if (id > 0 && profiles[i].id == id) return static_cast<int32_t>(i);
        return kNoChoice;
    };

    sourceType = std::clamp(GetSettingInt(db, L"ui_source_type", 0), 0, 1);
    destMode = std::clamp(GetSettingInt(db, L"ui_dest_mode", 0), 0, 2);
    writeMode = std::clamp(GetSettingInt(db, L"ui_sync_write_mode", 0), 0, 1);
    explorerType = std::clamp(GetSettingInt(db, L"ui_explorer_type", 0), 0, 1);
    ieSourceType = std::clamp(GetSettingInt(db, L"ui_ie_source_type", 0), 0, 1);
    importAsNew = std::clamp(GetSettingInt(db, L"ui_ie_import_as_new", 1), 0, 1);

    destBrowserIndex = browserIndex(L"ui_dest_browser");
    backupBrowserIndex = browserIndex(L"ui_backup_browser");
    customBrowserIndex = browserIndex(L"ui_custom_browser");

    destProfileIndex = profileIndex(L"ui_dest_profile");
    backupProfileIndex = profileIndex(L"ui_backup_profile");
    ieDestProfileIndex = profileIndex(L"ui_ie_dest_profile");
    copyFromProfileIndex = profileIndex(L"ui_copy_from_profile");
    copyToProfileIndex = profileIndex(L"ui_copy_to_profile");

    // Both kinds of each two-kind choice: the key of the kind not shown holds what it was last set to.
    const int32_t sourceBrowser = browserIndex(L"ui_source_browser");
    const int32_t sourceProfile = profileIndex(L"ui_source_profile");
    sourceIndex = sourceType != 0 ? sourceProfile : sourceBrowser;
    sourceOtherKindIndex = sourceType != 0 ? sourceBrowser : sourceProfile;
    const int32_t explorerBrowser = browserIndex(L"ui_explorer_browser");
    const int32_t explorerProfile = profileIndex(L"ui_explorer_profile");
    explorerIndex = explorerType != 0 ? explorerProfile : explorerBrowser;
    explorerOtherKindIndex = explorerType != 0 ? explorerBrowser : explorerProfile;
    const int32_t ieSourceBrowser = browserIndex(L"ui_ie_source_index_browser");
    const int32_t ieSourceProfile = profileIndex(L"ui_ie_source_profile");
    ieSourceIndex = ieSourceType != 0 ? ieSourceProfile : ieSourceBrowser;
    ieSourceOtherKindIndex = ieSourceType != 0 ? ieSourceBrowser : ieSourceProfile;

    explorerReloadPending = true;
}

void App::SetSetting(const std::wstring& key, const std::wstring& value) {
    if (withoutDatabase || db.ReadOnly()) return;  // the start said that settings are not kept
    try {
        db.SetSetting(key, value);
    } catch (const std::exception& e) {
        Log(L"[ERROR] Could not save the setting " + key + L": " + ErrorText(e));
    }
}

void App::SetFontSize(int index) {
    fontSizeIndex = index;
    SetSetting(L"font_size", std::to_wstring(index));
    redrawPending = true;
}

void App::RedetectBrowsers() {
    outsideReads.Forget();
    const std::vector<int32_t*> chosen = BrowserSelections(*this);
    std::vector<std::wstring> keys;
    for (int32_t* index : chosen)
        keys.push_back(browsers.empty() || *index < 0 ? L"" : BrowserIndexToKey(Effective(*index, browsers.size())));
    const bool explorerShown = ExplorerShows(*this, 0);
    const std::wstring explorerKey = explorerShown ? BrowserIndexToKey(explorerIndex) : L"";
    try {
        browsers = LoadBrowsersWithOverrides(db, !withoutDatabase);
    } catch (const std::exception& e) {
        Log(L"[ERROR] Could not detect the browsers: " + ErrorText(e));
        return;
    }
    NoteDetectedProfiles();
    for (size_t i = 0; i < chosen.size(); ++i) {
        if (*chosen[i] >= 0) *chosen[i] = BrowserKeyToIndex(keys[i]);  // unknown key: 0; none stays none
    }
    if (explorerShown) {
        if (BrowserIndexToKey(explorerIndex) == explorerKey)
            explorerLastIndex = explorerIndex;
        else
            explorerReloadPending = true;
    }
}

int64_t App::RefreshProfiles() {
    // Per selection: the id of its profile, kNone while it names none, 0 while the list was empty.
    constexpr int64_t kNone = -1;
    const std::vector<int32_t*> chosen = ProfileSelections(*this);
    std::vector<int64_t> ids;
    for (int32_t* index : chosen)
        ids.push_back(*index < 0 ? kNone : profiles.empty() ? 0 : profiles[Effective(*index, profiles.size())].id);
    if (withoutDatabase) return defaultProfileId;  // no profiles to load (the start said why)
    const bool explorerShown = ExplorerShows(*this, 1);
    const int64_t explorerId = explorerShown ? profiles[explorerIndex].id : 0;
    try {
        profiles = db.ListProfiles();
        defaultProfileId = db.GetDefaultProfileId();
    } catch (const std::exception& e) {
        Log(L"[ERROR] Could not load the saved profiles: " + ErrorText(e));
        return defaultProfileId;
    }

    // Positions move when a profile is created, renamed or deleted (the list is sorted by name):
    // each selection follows its profile, never the entry that now stands where it stood. A
    // selection whose profile is gone names none until the user chooses again: another profile
    // put in its place would be written to, or emptied, without a word.
    const int fallback = DefaultProfileIndex();
    for (size_t i = 0; i < chosen.size(); ++i) {
        *chosen[i] = ids[i] == 0 ? fallback : kNoChoice;
        for (size_t j = 0; j < profiles.size(); ++j) {
            if (ids[i] != 0 && profiles[j].id == ids[i]) {
                *chosen[i] = static_cast<int32_t>(j);
                break;
            }
        }
    }
    if (explorerType == 1) {
        const bool same = explorerShown && explorerIndex < static_cast<int32_t>(profiles.size()) &&
                          profiles[explorerIndex].id == explorerId;
        if (same)
            explorerLastIndex = explorerIndex;  // same rows, nothing to load again
        else
            explorerReloadPending = true;
    }
    return defaultProfileId;
}

}  // namespace bm::ui
