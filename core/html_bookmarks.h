#pragma once
// Netscape bookmark HTML ("<!DOCTYPE NETSCAPE-Bookmark-file-1>"): the file browsers export and import.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

// One folder of the tree an export builds from the records' folder paths. Lives only during one export.
struct HtmlFolderNode {
    // Sub-folders by exact (case-sensitive) name.
    std::unordered_map<std::wstring, std::unique_ptr<HtmlFolderNode>> sub_folders;
    // The names of sub_folders in the order they were first met; folders are written in this order.
    std::vector<std::wstring> folder_order;
    // Records lying directly in this folder, in input order; they belong to the caller.
    std::vector<const BookmarkRecord*> bookmarks;
};

// Writes the file; false with an error text when it could not be written (an existing file is then
// left as it was).
bool ExportHtml(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error = nullptr);

// Appends the node's bookmarks, then its sub-folders, as UTF-8 lines indented four spaces per level.
void WriteHtmlFolder(std::string& out, const HtmlFolderNode& node, int level);

// Puts the text of an export file in place of `path` in one step (shared by both export formats).
// False with "Could not open destination file for writing." when the file cannot be created or
// replaced, or with a write error text when writing failed; an existing file is then unchanged.
bool WriteExportFile(const std::wstring& path, const std::string& text, std::wstring* error);

// Reads every link with a quoted HREF and its folder path; empty with an error text on failure.
std::vector<BookmarkRecord> ImportHtml(const std::wstring& path, std::wstring* error = nullptr);

// & < > " become entities; everything else, the apostrophe included, is kept.
std::wstring HtmlEscape(const std::wstring& text);

// Decodes &amp; &lt; &gt; &quot; &#39; in one pass; every other '&' is kept as it is.
std::wstring HtmlUnescape(const std::wstring& text);

}  // namespace bm
