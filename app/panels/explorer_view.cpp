#include "app/panels/explorer_view.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "database/app_database.h"

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

// Appends `text` and a NUL as the records would show it: a text the trip through UTF-16 would change
// (malformed bytes become U+FFFD there) takes that same trip.
void AppendUtf8(std::string& out, std::string_view text) {
    if (IsWellFormedUtf8(text)) {
        out.append(text);
    } else {
        out += ToUtf8(ToWide(std::string(text)));
    }
    out.push_back('\0');
}

// ASCII only, whatever the C runtime's locale: the bytes of other characters are never touched.
void LowerInPlace(char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (data[i] >= 'A' && data[i] <= 'Z') data[i] = static_cast<char>(data[i] - 'A' + 'a');
}

// Where `needle` (not empty) first occurs in [from, end), or `end`. memchr finds the candidates for
// its first byte many bytes at a time; the rest of the needle is then compared in place.
const char* Find(const char* from, const char* end, std::string_view needle) {
    const size_t length = needle.size();
    while (static_cast<size_t>(end - from) >= length) {
        const void* hit = std::memchr(from, needle[0], static_cast<size_t>(end - from) - length + 1);
        if (!hit) break;
        const char* at = static_cast<const char*>(hit);
        if (std::memcmp(at + 1, needle.data() + 1, length - 1) == 0) return at;
        from = at + 1;
    }
    return end;
}

}  // namespace

std::string LowerAscii(std::string text) {
    LowerInPlace(text.data(), text.size());
    return text;
}

void ExplorerView::Load(const std::vector<BookmarkRecord>& rows) {
    size_t bytes = 0;
    for (const BookmarkRecord& row : rows) bytes += row.title.size() + row.url.size() + row.folder_path.size() + 3;
    Clear(rows.size(), bytes);
    for (const BookmarkRecord& row : rows) Add(row);
    Finish();
}

void ExplorerView::Clear(size_t expectedRows, size_t expectedBytes) {
    texts.clear();
    lowered.clear();
    start.clear();
    urlAt.clear();
    folderAt.clear();
    texts.reserve(expectedBytes);
    start.reserve(expectedRows + 1);
    urlAt.reserve(expectedRows);
    folderAt.reserve(expectedRows);
    filterValid = false;
    needle.clear();
    shown.clear();
}

void ExplorerView::Add(std::string_view title, std::string_view url, std::string_view folder) {
    start.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, title);
    urlAt.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, url);
    folderAt.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, folder);
}

void ExplorerView::Add(const BookmarkRecord& row) {
    start.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, row.title);
    urlAt.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, row.url);
    folderAt.push_back(static_cast<uint32_t>(texts.size()));
    AppendUtf8(texts, row.folder_path);
}

void ExplorerView::Finish() {
    start.push_back(static_cast<uint32_t>(texts.size()));
    lowered = texts;
    LowerInPlace(lowered.data(), lowered.size());
    filterValid = false;
    needle.clear();
    shown.clear();
}

bool ExplorerView::LoadProfile(AppDatabase& db, int64_t profileId, size_t expectedRows,
                               const std::function<void(size_t)>& everyStep) {
    // Room for the texts from a guess on the high side of what a row holds (title, URL, folder and
    // three NULs), so that they are seldom moved while they grow: moving megabytes again and again
    // cost a third of the load.
    constexpr size_t kBytesPerRowGuess = 128;
    Clear(expectedRows, expectedRows * kBytesPerRowGuess);
    try {
        db.VisitBookmarkTexts(profileId, [this, &everyStep](std::string_view title, std::string_view url, std::string_view folder) {
            Add(title, url, folder);
            if (everyStep && urlAt.size() % kLoadStepRows == 0) everyStep(urlAt.size());
        });
    } catch (const std::exception&) {
        Clear();
        Finish();
        return false;
    }
    Finish();
    return true;
}

void ExplorerView::Filter(const std::string& loweredNeedle) {
    if (filterValid && needle == loweredNeedle) return;
    const size_t count = size();
    const char* const base = lowered.data();
    const char* const end = base + lowered.size();

    if (loweredNeedle.empty()) {
        shown.resize(count);
        for (size_t i = 0; i < count; ++i) shown[i] = static_cast<int32_t>(i);
    } else if (filterValid && !needle.empty() && loweredNeedle.find(needle) != std::string::npos) {
        // Every row holding the longer text also holds the shorter one: look only at those.
        size_t kept = 0;
        for (const int32_t row : shown) {
            const char* last = base + start[row + 1];
            if (Find(base + start[row], last, loweredNeedle) != last) shown[kept++] = row;
        }
        shown.resize(kept);
    } else {
        // One pass over all the rows' texts; each match shows its row and the search goes on after it.
        shown.clear();
        const char* from = base;
        size_t row = 0;
        while (true) {
            const char* found = Find(from, end, loweredNeedle);
            if (found == end) break;
            // The row holding the match: matches come in order, so it is this row or one after it.
            const uint32_t at = static_cast<uint32_t>(found - base);
            while (start[row + 1] <= at) ++row;
            shown.push_back(static_cast<int32_t>(row));
            from = base + start[row + 1];
        }
    }
    needle = loweredNeedle;
    filterValid = true;
}

}  // namespace bm::ui
