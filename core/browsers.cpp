#include "core/browsers.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "core/firefox_profiles.h"

namespace bm {
namespace {

struct KnownBrowser {
    const wchar_t* key;
    const wchar_t* displayName;
};

constexpr KnownBrowser kKnownBrowsers[] = {
    {L"chrome", L"Google Chrome"}, {L"edge", L"Microsoft Edge"}, {L"brave", L"Brave"},
    {L"opera", L"Opera"},          {L"opera_gx", L"Opera GX"},   {L"vivaldi", L"Vivaldi"},
    {L"firefox", L"Mozilla Firefox"},
};

const KnownBrowser* Lookup(BrowserKind kind) {
    const auto index = static_cast<uint32_t>(kind);
    return index < sizeof kKnownBrowsers / sizeof kKnownBrowsers[0] ? &kKnownBrowsers[index] : nullptr;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    std::wstring folder;
    PWSTR buffer = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &buffer))) folder = buffer;
    // The buffer is released whatever the outcome; CoTaskMemFree accepts null.
    CoTaskMemFree(buffer);
    return folder;
}

}  // namespace

std::wstring BrowserKey(BrowserKind kind) {
    const KnownBrowser* known = Lookup(kind);
    return known ? known->key : L"unknown";
}

const wchar_t* BrowserDisplayName(BrowserKind kind) {
    const KnownBrowser* known = Lookup(kind);
    return known ? known->displayName : L"Unknown Browser";
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring GetLocalAppDataDir() { return KnownFolder(FOLDERID_LocalAppData); }
std::wstring GetRoamingAppDataDir() { return KnownFolder(FOLDERID_RoamingAppData); }

std::vector<BrowserInfo> DetectBrowsers() { return DetectBrowsersIn(GetLocalAppDataDir(), GetRoamingAppDataDir()); }

std::vector<BrowserInfo> DetectBrowsersIn(const std::wstring& local, const std::wstring& roaming) {
    std::vector<BrowserInfo> list;
    AddChromiumBrowser(list, BrowserKind::Chrome, local + L"\\Google\\Chrome\\User Data", L"chrome.exe");
    AddChromiumBrowser(list, BrowserKind::Edge, local + L"\\Microsoft\\Edge\\User Data", L"msedge.exe");
    AddChromiumBrowser(list, BrowserKind::Brave, local + L"\\BraveSoftware\\Brave-Browser\\User Data", L"brave.exe");
    AddChromiumBrowser(list, BrowserKind::Vivaldi, local + L"\\Vivaldi\\User Data", L"vivaldi.exe");
    AddChromiumBrowser(list, BrowserKind::Opera, roaming + L"\\Opera Software\\Opera Stable", L"opera.exe");
    AddChromiumBrowser(list, BrowserKind::OperaGx, roaming + L"\\Opera Software\\Opera GX Stable", L"opera.exe");

    BrowserInfo firefox;
    firefox.kind = BrowserKind::Firefox;
    firefox.displayName = BrowserDisplayName(BrowserKind::Firefox);
    firefox.exeName = L"firefox.exe";
    firefox.profileDir = roaming + L"\\Mozilla\\Firefox";
    if (const std::optional<std::wstring> places = FindFirefoxPlaces(firefox.profileDir)) {
        firefox.bookmarksPath = *places;
        firefox.detected = FileExists(*places);
    }
    list.push_back(std::move(firefox));
    return list;
}

void AddChromiumBrowser(std::vector<BrowserInfo>& list, BrowserKind kind, const std::wstring& userDataDir,
                        const std::wstring& exeName) {
    BrowserInfo entry;
    entry.kind = kind;
    entry.displayName = BrowserDisplayName(kind);
    entry.exeName = exeName;
    const std::wstring best = FindBestChromiumProfile(userDataDir);
    if (!best.empty()) {
        // A profile that qualified by its preferences alone counts even before it has a Bookmarks file.
        entry.bookmarksPath = best;
        entry.profileDir = ParentDirectory(best);
        entry.detected = true;
    } else {
        entry.profileDir = userDataDir + L"\\Default";
        entry.bookmarksPath = entry.profileDir + L"\\Bookmarks";
        entry.detected = IsFolder(userDataDir);
    }
    list.push_back(std::move(entry));
}

std::wstring FindBestChromiumProfile(const std::wstring& userDataDir) {
    std::vector<ProfileCandidate> candidates;
    AddProfileCandidate(candidates, userDataDir);
    AddProfileCandidate(candidates, userDataDir + L"\\Default");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((userDataDir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.cFileName[0] == L'.') continue;
            AddProfileCandidate(candidates, userDataDir + L"\\" + data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (candidates.empty()) return {};
    // On equal times the earlier candidate stays: the data folder, then "Default", then listing order.
    const ProfileCandidate* best = &candidates.front();
    for (const ProfileCandidate& candidate : candidates)
        if (candidate.lastWrite > best->lastWrite) best = &candidate;
    return best->bookmarksPath;
}

void AddProfileCandidate(std::vector<ProfileCandidate>& candidates, const std::wstring& folder) {
    if (!LooksLikeChromiumProfile(folder)) return;
    // Profiles are compared by their bookmark files where they have one.
    uint64_t time = LastWriteTime(folder + L"\\Bookmarks");
    if (time == 0) time = LastWriteTime(folder + L"\\Preferences");
    if (time == 0) time = LastWriteTime(folder + L"\\Secure Preferences");
    candidates.push_back({folder + L"\\Bookmarks", time});
}

bool LooksLikeChromiumProfile(const std::wstring& folder) {
    return FileExists(folder + L"\\Preferences") || FileExists(folder + L"\\Secure Preferences") ||
           FileExists(folder + L"\\Bookmarks");
}

uint64_t LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::wstring ParentDirectory(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace bm
