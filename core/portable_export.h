#pragma once
// Portable bookmark files: the program's own JSON export and, by file extension, Netscape HTML.

#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

// ".json" (any case) writes JSON, every other path Netscape HTML. False with an error text on failure.
bool ExportBookmarks(const std::vector<BookmarkRecord>& records, const std::wstring& path,
                     std::wstring* error = nullptr);

// ".json" (any case) reads JSON, every other path Netscape HTML. Empty with an error text on failure;
// `warning` is set when an HTML file was damaged and only part of it could be read.
std::vector<BookmarkRecord> ImportBookmarks(const std::wstring& path, std::wstring* error = nullptr,
                                            std::wstring* warning = nullptr);

// The text from the last '.' anywhere in the path to its end, lower-cased; empty when there is no '.'.
std::wstring LowerExtension(const std::wstring& path);

bool ExportJson(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error = nullptr);
std::vector<BookmarkRecord> ImportJson(const std::wstring& path, std::wstring* error = nullptr);
// The same over the bytes of such a file.
std::vector<BookmarkRecord> ImportJsonText(const std::string& bytes, std::wstring* error = nullptr);

}  // namespace bm
