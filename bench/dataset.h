#pragma once
// Realistic bookmark sets for the benchmarks.

#include <cstdint>
#include <vector>

#include "core/bookmark_record.h"

namespace bm::bench {

// `count` records: folders nested a few levels deep under the three roots, a few folders holding
// thousands of entries, non-ASCII titles, and about one record in five repeating an earlier URL up to
// case and a trailing '/'. Different `seed`s give disjoint URL sets.
std::vector<BookmarkRecord> MakeBookmarks(size_t count, uint32_t seed);

}  // namespace bm::bench
