#pragma once
// Why a file was not read, in the words of its user: not found, in use by another program, empty,
// damaged and where. No library's own text reaches a message.

#include <exception>
#include <string>

namespace bm {

// After a read of `path` failed: why, as a sentence about `subject` ("Bookmarks file", "The file").
// `missing` is what the read said about the file being there.
std::wstring UnreadableFileText(const std::wstring& subject, const std::wstring& path, bool missing);

// The sentence for contents that hold nothing (no bytes, only white space, only zero bytes), or ""
// when they hold something.
std::wstring BlankFileText(const std::wstring& subject, const std::string& bytes);

// The sentence for contents the JSON parser refused with `e`: empty, cut short, not UTF-8, or not
// JSON from a line and column on.
std::wstring JsonDamageText(const std::wstring& subject, const std::string& bytes, const std::exception& e);

}  // namespace bm
