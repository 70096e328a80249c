#pragma once
// The bookmark record every store exchanges, and the small text operations they share.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

struct BookmarkRecord {
    int64_t id = 0;          // row id in the profile database; 0 outside it
    int64_t profile_id = 0;  // owning saved profile; 0 outside the database
    std::wstring url;
    std::wstring title;
    std::wstring folder_path;  // folder names from the root down, joined with '/'
    int64_t date_added = 0;    // Unix seconds; 0 = unknown (stores write the current time)
};

// The longest folder path (names and separators) a store reads or writes. Firefox keeps at most
// 4096 characters of a folder's name and Chromium reads about a hundred nested folders; sixteen of
// Firefox's longest names are more than any browser's file holds.
inline constexpr size_t kMaxFolderPathLength = 65536;

// Folder depth, counted in every store as folders below a root, the root itself not counted ("Bookmarks
// bar/a/b" is 2 deep). kDeepestFolderNesting is the deepest a store reads and the Firefox writer
// writes: more than any browser writes, and little enough that walking it cannot exhaust a stack.
inline constexpr size_t kDeepestFolderNesting = 1000;

// The deepest the writer of a Chromium-family Bookmarks file writes. Chromium's JSON reader stops at
// 200 levels (the document, `roots`, a root and its children are 4, each folder 2 more): at 98
// folders it loads no bookmark at all, and its extension API already fails at 97.
inline constexpr size_t kChromiumDeepestFolderNesting = 96;

// Every record carries its own copy of its folder path, so a small file of deep folders with long
// names and many links could need many times its size in memory. A reader refuses a file once the
// paths of what it read pass this budget: a fixed allowance, and more per byte of input than
// browsers' files ever need.
inline constexpr size_t FolderPathBudget(size_t inputBytes) { return (size_t{16} << 20) + 16 * inputBytes; }

struct ParsedFolderPath {
    std::wstring root_key;  // "bookmark_bar", "other" or "synced"
    std::vector<std::wstring> segments;
};

std::string ToUtf8(const std::wstring& text);
std::wstring ToWide(std::string_view utf8);

// The length of the well-formed UTF-8 sequence (shortest form, no surrogates, at most U+10FFFF) that
// `text` starts with: 1 for ASCII, 0 when there is none (also for an empty text).
size_t Utf8SequenceLength(std::string_view text);

// Whether all of `text` is well-formed UTF-8: exactly the texts that come back unchanged from a trip
// through UTF-16 (ToWide, then ToUtf8).
bool IsWellFormedUtf8(std::string_view text);

// Lower-cases the ASCII letters 'A'..'Z' only; the length never changes.
std::wstring ToLower(std::wstring text);

// The duplicate key of a URL: trailing '/' removed, then ToLower.
std::wstring NormalizeUrl(std::wstring url);

std::vector<std::wstring> SplitPath(const std::wstring& path);
std::wstring JoinPath(const std::vector<std::wstring>& segments);

// "bookmark_bar", "synced", "other" for the whole name of a root folder as browsers and this program
// write it (any letter case), or "" when it names no root.
std::wstring CanonicalRootKey(const std::wstring& name);

// The display name of a root by its CanonicalRootKey: "Other bookmarks", "Mobile bookmarks", and
// "Bookmarks bar" for every other key.
const wchar_t* RootLabel(const std::wstring& rootKey);

// True for the name of Firefox's bookmarks menu ("Bookmarks Menu", "menu________", any letter case).
bool IsMenuRootName(const std::wstring& name);

ParsedFolderPath ParseFolderPath(const std::wstring& folderPath);

}  // namespace bm
