#pragma once
// Comparisons of an operation's output with its floor's, made once outside the timing.

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "core/bookmark_record.h"
#include "core/file_backup.h"

namespace bm::bench {

struct Compare {
    bool ids = false;    // row ids and profile ids are part of the output
    bool dates = true;   // date_added is part of the output (not for texts stamped with "now")
};

// The same records in the same order.
inline bool SameRecords(const std::vector<BookmarkRecord>& a, const std::vector<BookmarkRecord>& b, const char* what,
                        Compare compare = {}) {
    auto key = [&compare](const BookmarkRecord& r) {
        return std::make_tuple(r.folder_path, r.url, r.title, compare.dates ? r.date_added : 0,
                               compare.ids ? r.id : 0, compare.ids ? r.profile_id : 0);
    };
    size_t differs = 0;
    while (differs < a.size() && differs < b.size() && key(a[differs]) == key(b[differs])) ++differs;
    const bool same = a.size() == b.size() && differs == a.size();
    if (!same)
        std::fprintf(stderr, "bench: the floor of %s gives other records (%zu against %zu, the first difference at %zu)\n", what,
                     b.size(), a.size(), differs);
    return same;
}

inline bool SameBackups(const std::vector<FileBackupEntry>& a, const std::vector<FileBackupEntry>& b) {
    bool same = a.size() == b.size();
    for (size_t i = 0; same && i < a.size(); ++i)
        same = a[i].path == b[i].path && a[i].displayTime == b[i].displayTime && a[i].sortKey == b[i].sortKey;
    if (!same) std::fprintf(stderr, "bench: the floor of the backups list gives other entries\n");
    return same;
}

inline bool SameText(const std::string& a, const std::string& b, const char* what) {
    if (a != b) std::fprintf(stderr, "bench: the floor of %s writes other text (%zu against %zu bytes)\n", what, b.size(), a.size());
    return a == b;
}

}  // namespace bm::bench
