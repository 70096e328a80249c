#pragma once
// What the bookmark explorer keeps between frames to draw and search its table cheaply.
//
// Load (or Clear, Add per row, Finish) makes, once per load, every row's three texts in UTF-8 and the same bytes with the ASCII
// letters lowered, all in two buffers laid out alike ("title\0url\0folder\0" per row). Filter then
// searches the lowered buffer without copying or lowering anything; a search that contains the
// previous one (the user typed one more letter) only looks again at the rows that matched before.
// The needle never holds a NUL, so a match never runs from one field into the next.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {
class AppDatabase;
}

namespace bm::ui {

// Lowers ASCII letters byte by byte; the bytes of other characters stay as they are.
std::string LowerAscii(std::string text);

struct ExplorerView {
    std::string texts;            // the rows' texts as shown
    std::string lowered;          // the same, ASCII letters lowered
    std::vector<uint32_t> start;  // per row: offset of its title; one more entry at the end
    std::vector<uint32_t> urlAt, folderAt;  // per row: offsets of its url and folder

    bool filterValid = false;
    std::string needle;          // the search the list below was made for (lowered)
    std::vector<int32_t> shown;  // positions in the rows, in order

    // The table rows of the last frame: how many were submitted, and the first and last of them as
    // positions in `shown` (-1 when none).
    int rowsDrawn = 0;
    int firstDrawn = -1;
    int lastDrawn = -1;

    // Makes the texts of `rows` and forgets the last search.
    void Load(const std::vector<BookmarkRecord>& rows);

    // The same built one row at a time from UTF-8 texts (a saved profile read straight from the
    // database): the texts end up exactly as Load would make them from the records GetBookmarks gives
    // for the same rows. Clear empties the view, Finish must follow the last Add.
    void Clear(size_t expectedRows = 0, size_t expectedBytes = 0);
    void Add(std::string_view title, std::string_view url, std::string_view folder);
    void Add(const BookmarkRecord& row);
    void Finish();
    // Loads a saved profile's rows in GetBookmarks' order, their texts read straight from the
    // database. False, with the view empty, when the read fails. `everyStep`, when given, is called
    // with the rows made so far after every kLoadStepRows rows; what it throws (other than a
    // std::exception) ends the load and passes on, the view then half made.
    static constexpr size_t kLoadStepRows = 4096;
    bool LoadProfile(AppDatabase& db, int64_t profileId, size_t expectedRows = 0,
                     const std::function<void(size_t)>& everyStep = {});
    // Sets `shown` to the rows where `loweredNeedle` occurs in the title, the url or the folder
    // (every row for an empty needle).
    void Filter(const std::string& loweredNeedle);

    size_t size() const { return start.empty() ? 0 : start.size() - 1; }
    const char* Title(size_t row) const { return texts.data() + start[row]; }
    const char* Url(size_t row) const { return texts.data() + urlAt[row]; }
    const char* Folder(size_t row) const { return texts.data() + folderAt[row]; }
};

}  // namespace bm::ui
