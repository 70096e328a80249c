// Which profile folder each browser stands for, remembered from one detection to the next: the
// detection picks a browser's profile anew each time (the Chromium folder whose bookmarks were
// written last, Firefox's default profile), and a browser that now means another folder is said in
// the log, so that its explorer, backups and syncs do not change folder without a word.
#include "app/app.h"

#include <exception>
#include <string>

#include "app/panels/fit.h"
#include "core/browsers.h"

namespace bm::ui {

namespace {

// Setting under which the last profile folder of the browser with `key` is kept across starts.
std::wstring FolderSettingKey(const std::wstring& key) { return L"detected_profile_" + key; }

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

}  // namespace

void App::NoteDetectedProfiles() {
    for (const BrowserInfo& browser : browsers) {
        // A custom path is the user's own choice; an undetected browser stands for no folder.
        if (browser.hasCustomPath || !browser.detected || browser.bookmarksPath.empty()) continue;
        const std::wstring key = BrowserKey(browser.kind);
        const std::wstring folder = ParentDirectory(browser.bookmarksPath);
        std::wstring before = detectedProfileFolders[key];
        if (before.empty() && dbOpen) {
            try {
                before = db.GetSetting(FolderSettingKey(key), L"");
            } catch (const std::exception&) {
                before.clear();  // nothing to compare with: this detection becomes the reference
            }
        }
        if (!before.empty() && SameFolder(before, folder)) {
            detectedProfileFolders[key] = folder;
            continue;
        }
        if (!before.empty())
            Log(L"[WARN] " + browser.displayName + L" now uses the profile folder " + folder + L" instead of " + before +
                L": its explorer, its backups and syncs into it now work on that folder.");
        detectedProfileFolders[key] = folder;
        if (!dbOpen) continue;
        try {
            db.SetSetting(FolderSettingKey(key), folder);
        } catch (const std::exception& e) {
            Log(L"[ERROR] Could not store the profile folder of " + browser.displayName + L": " + ErrorText(e));
        }
    }
}

}  // namespace bm::ui
