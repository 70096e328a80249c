#include "app/panels/explorer_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string_view>

namespace bm::ui {

namespace {

// Appends `text` as UTF-8 and a NUL. ASCII, most of what bookmarks hold, is copied directly.
void AppendUtf8(std::string& out, const std::wstring& text) {
    bool ascii = true;
    for (wchar_t c : text) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        for (wchar_t c : text) out.push_back(static_cast<char>(c));
    } else {
        out += ToUtf8(text);
    }
    out.push_back('\0');
}

void LowerInPlace(char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(data[i])));
}

}  // namespace

std::string LowerAscii(std::string text) {
    LowerInPlace(text.data(), text.size());
    return text;
}

void ExplorerView::Load(const std::vector<BookmarkRecord>& rows) {
    source = rows.data();
    sourceSize = rows.size();
    texts.clear();
    start.clear();
    start.reserve(rows.size() + 1);
    urlAt.clear();
    folderAt.clear();
    urlAt.reserve(rows.size());
    folderAt.reserve(rows.size());
    size_t bytes = 0;
    for (const BookmarkRecord& row : rows) bytes += row.title.size() + row.url.size() + row.folder_path.size() + 3;
    texts.reserve(bytes);
    for (const BookmarkRecord& row : rows) {
        start.push_back(static_cast<uint32_t>(texts.size()));
        AppendUtf8(texts, row.title);
        urlAt.push_back(static_cast<uint32_t>(texts.size()));
        AppendUtf8(texts, row.url);
        folderAt.push_back(static_cast<uint32_t>(texts.size()));
        AppendUtf8(texts, row.folder_path);
    }
    start.push_back(static_cast<uint32_t>(texts.size()));
    lowered = texts;
    LowerInPlace(lowered.data(), lowered.size());
    filterValid = false;
    needle.clear();
    shown.clear();
}

void ExplorerView::Filter(const std::string& loweredNeedle) {
    if (filterValid && needle == loweredNeedle) return;
    const size_t count = size();
    const std::string_view hay(lowered);

    if (loweredNeedle.empty()) {
        shown.resize(count);
        for (size_t i = 0; i < count; ++i) shown[i] = static_cast<int32_t>(i);
    } else if (filterValid && !needle.empty() && loweredNeedle.find(needle) != std::string::npos) {
        // Every row holding the longer text also holds the shorter one: look only at those.
        const std::boyer_moore_horspool_searcher searcher(loweredNeedle.begin(), loweredNeedle.end());
        size_t kept = 0;
        for (const int32_t row : shown) {
            const auto first = hay.begin() + start[row];
            const auto last = hay.begin() + start[row + 1];
            if (std::search(first, last, searcher) != last) shown[kept++] = row;
        }
        shown.resize(kept);
    } else {
        // One pass over all the rows' texts; each match shows its row and the search goes on after it.
        shown.clear();
        const std::boyer_moore_horspool_searcher searcher(loweredNeedle.begin(), loweredNeedle.end());
        auto from = hay.begin();
        size_t row = 0;
        while (from != hay.end()) {
            const auto found = std::search(from, hay.end(), searcher);
            if (found == hay.end()) break;
            const uint32_t at = static_cast<uint32_t>(found - hay.begin());
            // The row holding the match: the last whose start is at or before it.
            row = static_cast<size_t>(std::upper_bound(start.begin() + static_cast<std::ptrdiff_t>(row), start.end(), at) -
                                      start.begin()) - 1;
            shown.push_back(static_cast<int32_t>(row));
            from = hay.begin() + start[row + 1];
        }
    }
    needle = loweredNeedle;
    filterValid = true;
}

}  // namespace bm::ui
