#pragma once
// The duplicate key of a stored bookmark, worked out from the URL as stored.
//
// Rows keep their URL exactly as given; the key changes exactly what NormalizeUrl changes (every
// trailing '/' removed, then 'A'..'Z' lower-cased). Both are ASCII, which UTF-8 keeps as single bytes
// that no other character contains, so the key is made from the stored UTF-8 bytes directly. Rows
// written by older releases hold the key itself as their URL, for which it gives that same key back.

#include <string>
#include <string_view>

namespace bm {

inline void BookmarkKeyOf(std::string_view url, std::string& key) {
    size_t end = url.size();
    while (end > 0 && url[end - 1] == '/') --end;
    key.assign(url.data(), end);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace bm
