#pragma once
// The stored text of a profile snapshot: a compact JSON array with one object per bookmark,
// {"date_added":N,"folder_path":"...","title":"...","url":"..."}, keys in byte order, only what JSON
// requires escaped (the short forms \b \f \n \r \t, \u00xx for the other control characters) and
// every other byte as it is: the text nlohmann::json's dump() gives for the same values.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

// Builds the text one bookmark at a time, straight from the stored UTF-8 texts.
class SnapshotTextWriter {
public:
    SnapshotTextWriter() { text_.push_back('['); }
    // False, with nothing appended, when a text is not well-formed UTF-8 (JSON cannot hold it).
    bool Add(int64_t dateAdded, std::string_view folderPath, std::string_view title, std::string_view url);
    int32_t count() const { return count_; }
    // The whole text; the writer is spent afterwards.
    std::string Finish();

private:
    std::string text_;
    int32_t count_ = 0;
};

// One bookmark of a snapshot's text, as stored.
struct SnapshotRecord {
    int64_t dateAdded = 0;
    std::string folderPath;
    std::string title;
    std::string url;
};

// Reads a stored text back: an array of `storedCount` records, each an object whose "url", "title"
// and "folder_path" are strings and whose "date_added" is a number (a fraction cut toward zero,
// beyond 64 bits the nearest limit). False, with a sentence for the user in `problem` and `records`
// empty, for any other text: the snapshot is damaged and must not replace a profile's bookmarks.
bool ReadSnapshotText(const std::string& text, int64_t storedCount, std::vector<SnapshotRecord>& records,
                      std::wstring& problem);

}  // namespace bm
