#pragma once
// The frame of the helpers that write into an app_data.db before a test starts the program: open it
// through the program's own database code, write, and say on stderr what failed.

#include <cstdio>
#include <exception>

#include "database/app_database.h"

namespace helpers {

// Opens the database at `path` and returns what `write(db)` returns; 1 when it cannot be opened or
// the write throws.
template <typename Write>
int WriteDatabase(const wchar_t* path, Write&& write) {
    try {
        bm::AppDatabase db;
        if (!db.Open(path)) {
            std::fwprintf(stderr, L"cannot open %ls\n", path);
            return 1;
        }
        return write(db);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
}

}  // namespace helpers
