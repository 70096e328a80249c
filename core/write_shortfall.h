#pragma once
// What a browser writer did not write as the records asked, and why: records left out because the
// browser would refuse or drop them, and records kept in a shallower folder than their path names
// because the browser cannot hold folders that deep. Duplicates are counted apart, by the writers.

#include <cstddef>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

struct WriteShortfall {
    int urlTooLong = 0;     // left out: a URL longer than the browser keeps
    int urlUnusable = 0;    // left out: a URL the browser refuses or drops (it cannot open it)
    struct Moved {
        size_t record;       // position in the records given to the writer
        std::wstring keptIn;  // the folder path it was written under
    };
    std::vector<Moved> moved;  // kept, in the deepest folder of their path that the browser holds

    int LeftOut() const { return urlTooLong + urlUnusable; }
};

// The folder a record is written under by a writer that holds at most `deepest` folders below a
// root: `parsed` (ParseFolderPath of the record's path) loses the folders past that depth, and the
// path it keeps (its root's own piece first, when the path names one) is returned. "" when the path
// is not deeper than that and `parsed` is left whole.
std::wstring KeepWithinDepth(const std::wstring& folderPath, ParsedFolderPath& parsed, size_t deepest);

}  // namespace bm
