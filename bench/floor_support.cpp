#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/floors.h"

namespace bm::bench {

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

void ExecSql(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "bench: %s: %s\n", sql, message ? message : "");
        std::exit(1);
    }
}

// Converted straight from the engine's buffer, without an intermediate narrow copy.
std::wstring WideColumn(sqlite3_stmt* statement, int column) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int bytes = sqlite3_column_bytes(statement, column);
    std::wstring wide;
    if (!text || bytes <= 0) return wide;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    wide.resize(static_cast<size_t>(units));
    MultiByteToWideChar(CP_UTF8, 0, text, bytes, wide.data(), units);
    return wide;
}

std::string Utf8Column(sqlite3_stmt* statement, int column) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (!text) return {};
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

}  // namespace bm::bench
