#pragma once
// Netscape bookmark HTML ("<!DOCTYPE NETSCAPE-Bookmark-file-1>"): the file browsers export and import.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

// One folder of the tree an export builds; nodes live in HtmlFolderTree::nodes and refer to each
// other by index, so neither building, writing nor freeing a deep tree recurses.
struct HtmlFolderNode {
    std::wstring name;
    // Root marker written on the heading ("PERSONAL_TOOLBAR_FOLDER" or "UNFILED_BOOKMARKS_FOLDER"),
    // or none.
    const char* marker = nullptr;
    // What lies directly in the folder, in the order it was first met: a bookmark (`bookmark` set,
    // a record that belongs to the caller) or a sub-folder (`folder`, an index into the nodes).
    struct Entry {
        const BookmarkRecord* bookmark = nullptr;
        size_t folder = 0;
    };
    std::vector<Entry> entries;
    std::unordered_map<std::wstring, size_t> sub_folders;  // by exact (case-sensitive) name
    int64_t earliest = 0;  // the earliest date of a bookmark at any depth below; 0 when none has one
};

// Whether an ADD_DATE (Unix seconds) can be a real bookmark's date: from 1990 on, and no more than
// two days past `now` (clocks of two machines may differ). Browsers write 0, or nothing, when they
// have no date; such values are not read as dates.
bool IsPlausibleHtmlDate(int64_t seconds, int64_t now);

struct HtmlFolderTree {
    std::vector<HtmlFolderNode> nodes;  // nodes[0] is the file's top level
    std::wstring heading = L"Bookmarks";  // the file's H1
};

// The tree of an export: Firefox's bookmarks menu at the top level (as Firefox writes it, the H1
// then naming the menu), every other root as one marked folder, each folder's bookmarks and
// sub-folders in the order the records came.
HtmlFolderTree BuildHtmlFolderTree(const std::vector<BookmarkRecord>& records);

// Appends the file's body lines for the tree: UTF-8, indented four spaces per level. Every ADD_DATE
// is a real date, as browsers read it: a bookmark's own, a folder's earliest bookmark's, and
// `exportTime` where there is none.
void WriteHtmlTree(std::string& out, const HtmlFolderTree& tree, int64_t exportTime);

// Writes the file; false with an error text when it could not be written (an existing file is then
// left as it was).
bool ExportHtml(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error = nullptr);

// Puts the text of an export file in place of `path` in one step (shared by both export formats).
// False with "Could not open destination file for writing." when the file cannot be created or
// replaced, or with a write error text when writing failed; an existing file is then unchanged.
bool WriteExportFile(const std::wstring& path, const std::string& text, std::wstring* error);

// Reads every link with a quoted HREF and its folder path; empty with an error text on failure.
// A link's date is its ADD_DATE when that is a plausible date, else the time of the import.
// Root folders are recognised by the markers browsers write and by their whole names; links at the
// top level of a Firefox-style file belong to the bookmarks menu. Tags, comments and text are told
// apart as browsers' HTML parsers tell them.
// A damaged file (cut short, lists closed that were never opened, a link without its closing tag,
// markup or quotes in a title or folder name, an address holding what no browser keeps in one, a
// tag whose quotes do not pair) still gives what could be read, and `warning` (when not null) is set
// to a text that says so, with the line of the first damage of each kind; it is
// left untouched for a sound file. A file whose folders nest deeper than kDeepestFolderNesting
// below a root (counted as FoldersBelowRoot counts a path) gives nothing and an error.
std::vector<BookmarkRecord> ImportHtml(const std::wstring& path, std::wstring* error = nullptr,
                                       std::wstring* warning = nullptr);

// The same reading over the bytes of a file already in memory.
std::vector<BookmarkRecord> ParseHtmlBookmarks(const std::string& bytes, std::wstring* error = nullptr,
                                               std::wstring* warning = nullptr);

// & < > " become entities; everything else, the apostrophe included, is kept.
std::wstring HtmlEscape(const std::wstring& text);

// Decodes &amp; &lt; &gt; &quot; &#39; in one pass; every other '&' is kept as it is.
std::wstring HtmlUnescape(const std::wstring& text);

// A URL as an HTML file can carry it: a NUL becomes "%00", the escape both browsers store it as (dropped,
// it would make another address).
std::wstring NulEscapedUrl(const std::wstring& url);

}  // namespace bm
