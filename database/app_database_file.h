#pragma once
// What kind of file an app_data.db is before the program writes to it: its own (marked with SQLite's
// application_id and user_version, or from a release that did not mark yet), a new empty file, or one
// it must not touch (another program's, a newer schema, damaged).

#include <cstdint>
#include <string>

#include "database/database_failure.h"

struct sqlite3;

namespace bm {

// "Orvl" in ASCII, stored in the database header's application_id.
inline constexpr int32_t kAppDatabaseApplicationId = 0x4F72766C;
// The schema this build writes, stored in user_version. Older files are brought up to it; newer
// files are refused, since this build cannot know what a newer one expects of its rows.
// 1: the first marked files; 2: a profile's rows indexed by profile only (no index on folder and
// title, on the URL or on its duplicate key).
inline constexpr int32_t kAppDatabaseSchemaVersion = 2;

enum class DatabaseFileKind {
    Empty,         // no tables yet: create the schema and mark it
    Marked,        // marked as ours, schema version not above ours
    Unmarked,      // only our tables with our columns, not marked yet
    OtherProgram,  // another program's mark, or tables that are not ours
    Newer,         // ours, from a newer schema version
    Damaged,       // SQLite cannot read its header or schema
    Unreadable,    // it could not be read now: a lock, a disk error, too little memory (see `trouble`)
};

struct DatabaseFileCheck {
    DatabaseFileKind kind = DatabaseFileKind::Damaged;
    int32_t applicationId = 0;
    int32_t schemaVersion = 0;
    // For Damaged and Unreadable, which of the troubles it is.
    DatabaseTrouble trouble = DatabaseTrouble::None;
    // For the refused kinds, a sentence for the user that says why.
    std::wstring reason;
};

// Reads the header and the schema of an open connection; writes nothing.
DatabaseFileCheck CheckDatabaseFile(sqlite3* db);

// What SQLite's own check of every page (quick_check) finds on an open connection; writes nothing.
// `trouble` None when the file is sound; else Damaged for a damaged page, or the trouble that kept the
// check from ending (a lock, a disk error, memory), with a sentence for the user in `reason`.
struct DamageFinding {
    DatabaseTrouble trouble = DatabaseTrouble::None;
    std::wstring reason;
};
DamageFinding FindDamage(sqlite3* db);

// The sentence for a file that could not be read or checked because of `trouble`.
std::wstring TroubleWords(DatabaseTrouble trouble);

}  // namespace bm
