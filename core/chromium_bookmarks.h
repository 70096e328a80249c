#pragma once
// The Chromium-family "Bookmarks" file: reader and writer.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/write_shortfall.h"

namespace bm {

// Seconds between 1601-01-01 and 1970-01-01: Chromium time stamps count microseconds from 1601.
constexpr int64_t kChromeEpochOffsetSeconds = 11644473600LL;

std::vector<BookmarkRecord> ReadChromiumBookmarks(const std::wstring& path, std::wstring* error);
// The same over the bytes of such a file.
std::vector<BookmarkRecord> ReadChromiumBookmarksText(const std::string& bytes, std::wstring* error);

// Unix seconds of a Chromium time stamp; an empty or unreadable text gives the current time.
int64_t ChromeTimeToUnix(const std::string& stamp);

// Merges (replace = false) or replaces the bookmarks of the file. Returns the number added, or -1
// with the error text set when the file was not written; the file is then as it was. A write that
// would change no bookmark (a merge that adds nothing, a replace by what the file already holds)
// leaves the file untouched and returns 0. What the browser could not keep is not written as asked:
// see ChromiumWritePlan::shortfall, stored through `shortfall` (when given) on success.
int WriteChromiumBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& records, int* skipped,
                           std::wstring* error, bool replace, WriteShortfall* shortfall = nullptr);

// A write worked out in memory, so that the caller can see what it would change before it backs
// the file up and writes.
struct ChromiumWritePlan {
    int added = 0;
    int skipped = 0;       // duplicates: the file (or an earlier record) has the URL already
    // Left out: a URL the browser drops when it loads the file (ChromiumKeepsUrl). Moved: a record
    // nested deeper than kChromiumDeepestFolderNesting folders below its root, written in the
    // deepest folder of its path the browser loads; counted among `added`.
    WriteShortfall shortfall;
    bool changes = false;  // the file's bookmarks or folders would differ; false leaves nothing to write
    std::string text;      // the new file, when it changes
    // The file as the plan read it, so that the commit can tell whether it is still that file.
    bool sourceMissing = false;
    std::string source;
};

// Reads the file and works out the write; the file is not touched. False with the error text when
// the write would be refused (the reasons WriteChromiumBookmarks gives).
bool PlanChromiumWrite(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace,
                       ChromiumWritePlan& plan, std::wstring* error);

// Puts a planned text in place of the file in one step, provided the file is still the one the plan
// was made from. False with the error text when it could not; `fileChanged` (when given) then tells
// whether that was because the file changed since it was planned, so that the caller plans again
// rather than write over the change.
bool CommitChromiumWrite(const std::wstring& path, const ChromiumWritePlan& plan, std::wstring* error,
                         bool* fileChanged = nullptr);

// How often a write is planned and committed before a file that keeps changing under it is left alone.
inline constexpr int kChromiumWriteAttempts = 3;

// JSON nesting that leaves room for kDeepestFolderNesting folders: the document, `roots`, two levels per
// folder (the node and its `children`), and some to spare for what browsers add to a node.
constexpr size_t kMaxJsonNesting = 2 * kDeepestFolderNesting + 48;

// Thrown by ParseJsonDocument for a document nested deeper than it accepts.
class JsonNestingTooDeep : public std::runtime_error {
public:
    explicit JsonNestingTooDeep(size_t limit);
    size_t limit() const { return limit_; }

private:
    size_t limit_;
};

// Parses the JSON value that `bytes` holds (a UTF-8 BOM is accepted, and white space after it; any
// other text after it is an error). Throws what the parser throws, and JsonNestingTooDeep before the value holds
// more than `maxNesting` levels of arrays and objects, so that nothing has to walk a deeper tree.
nlohmann::json ParseJsonDocument(const std::string& bytes, size_t maxNesting = kMaxJsonNesting);

// Whether `bytes` holds nothing but JSON white space, after an optional UTF-8 BOM.
bool IsBlankJsonText(const std::string& bytes);

}  // namespace bm
