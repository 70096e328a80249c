#pragma once
// The seven browsers the program knows, and where the current user's copy of each keeps its bookmarks.

#include <cstdint>
#include <string>
#include <vector>

namespace bm {

// Stored as a 32-bit number in requests and settings; any value outside Chrome..Firefox is "no browser".
enum class BrowserKind : int32_t {
    Chrome = 0,
    Edge = 1,
    Brave = 2,
    Opera = 3,
    OperaGx = 4,
    Vivaldi = 5,
    Firefox = 6,
    None = 7,
};

// One known browser as found on this machine. A plain value, copied freely.
struct BrowserInfo {
    BrowserKind kind = BrowserKind::None;
    std::wstring displayName;
    // The Chromium "Bookmarks" file or Firefox's places.sqlite; it may not exist. Empty for a Firefox
    // without a usable profile.
    std::wstring bookmarksPath;
    // Chromium family: the chosen profile folder. Firefox: the folder holding profiles.ini.
    std::wstring profileDir;
    std::wstring exeName;  // file name of the browser's process executable, e.g. "chrome.exe"
    bool detected = false;
    bool running = false;        // set by the caller from IsProcessRunning(exeName)
    bool hasCustomPath = false;  // set by the caller when bookmarksPath is the user's stored path
};

// A Chromium profile folder that qualified while the newest profile is chosen.
struct ProfileCandidate {
    std::wstring bookmarksPath;  // the folder + "\Bookmarks"
    uint64_t lastWrite = 0;      // FILETIME as one number; 0 = no time could be read
};

// "chrome", "edge", "brave", "opera", "opera_gx", "vivaldi", "firefox"; "unknown" for anything else.
std::wstring BrowserKey(BrowserKind kind);
// "Google Chrome", ..., "Mozilla Firefox"; "Unknown Browser" for anything else. Lives as long as the program.
const wchar_t* BrowserDisplayName(BrowserKind kind);

// True when something exists at the path and it is not a folder.
bool FileExists(const std::wstring& path);

// Seven entries, always in the order chrome, edge, brave, vivaldi, opera, opera_gx, firefox, looked up
// under the user's local and roaming application-data folders. running and hasCustomPath stay false.
std::vector<BrowserInfo> DetectBrowsers();
// The same, under the given folders in place of the user's ones (the folders are used as given,
// without a trailing separator).
std::vector<BrowserInfo> DetectBrowsersIn(const std::wstring& localAppData, const std::wstring& roamingAppData);

void AddChromiumBrowser(std::vector<BrowserInfo>& list, BrowserKind kind, const std::wstring& userDataDir,
                        const std::wstring& exeName);
// The "Bookmarks" path of the most recently used profile folder, or "" when none qualifies.
std::wstring FindBestChromiumProfile(const std::wstring& userDataDir);
void AddProfileCandidate(std::vector<ProfileCandidate>& candidates, const std::wstring& folder);
bool LooksLikeChromiumProfile(const std::wstring& folder);
uint64_t LastWriteTime(const std::wstring& path);
// Text before the last '\' or '/', or "" when there is none.
std::wstring ParentDirectory(const std::wstring& path);

// The user's application-data folders, or "" when the system cannot give them.
std::wstring GetLocalAppDataDir();
std::wstring GetRoamingAppDataDir();

}  // namespace bm
