#include "database/app_database_file.h"

#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <vector>

#include "core/bookmark_record.h"
#include "core/sql_statement.h"
#include "database/database_failure.h"

namespace bm {
namespace {

// Our tables with their columns in order; indexes are not compared (they carry no rows).
const std::map<std::string, std::vector<std::string>>& OurTables() {
    static const std::map<std::string, std::vector<std::string>> tables = {
        {"profiles", {"id", "name", "created_at", "updated_at"}},
        {"bookmarks", {"id", "profile_id", "url", "title", "folder_path", "date_added"}},
        {"browser_configs", {"id", "browser_key", "custom_path", "bound_profile_id"}},
        {"app_settings", {"key", "value"}},
        {"profile_backups", {"id", "profile_id", "created_at", "label", "bookmark_count", "snapshot_json"}},
    };
    return tables;
}

int32_t PragmaInt(sqlite3* db, const char* sql) {
    Statement statement = PrepareOrThrow(db, sql);
    return StepRow(statement) ? static_cast<int32_t>(ColumnInt64(statement, 0)) : 0;
}

std::vector<std::string> Columns(sqlite3* db, const std::string& table) {
    Statement statement = PrepareOrThrow(db, "SELECT name FROM pragma_table_info(?) ORDER BY cid");
    BindText(statement, 1, table);
    std::vector<std::string> columns;
    while (StepRow(statement)) columns.push_back(ColumnText(statement, 0));
    return columns;
}

// The first table, view or trigger that is not one of ours; empty when every one is ours.
std::string ForeignObject(sqlite3* db, bool& anyObject) {
    Statement statement = PrepareOrThrow(
        db, "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view', 'trigger') AND name NOT LIKE "
            "'sqlite\\_%' ESCAPE '\\' ORDER BY name");
    std::vector<std::pair<std::string, std::string>> objects;
    while (StepRow(statement)) objects.emplace_back(ColumnText(statement, 0), ColumnText(statement, 1));
    anyObject = !objects.empty();
    for (const auto& [type, name] : objects) {
        const auto ours = OurTables().find(name);
        if (type != "table" || ours == OurTables().end()) return name;
        if (Columns(db, name) != ours->second) return name;
    }
    return {};
}

std::wstring Hex(int32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

DatabaseFileCheck CheckDatabaseFile(sqlite3* db) {
    DatabaseFileCheck check;
    try {
        check.applicationId = PragmaInt(db, "PRAGMA application_id;");
        check.schemaVersion = PragmaInt(db, "PRAGMA user_version;");
        bool anyObject = false;
        const std::string foreign = ForeignObject(db, anyObject);

        if (check.applicationId != 0 && check.applicationId != kAppDatabaseApplicationId) {
            check.kind = DatabaseFileKind::OtherProgram;
            check.reason = L"It belongs to another program (its application_id is " + Hex(check.applicationId) +
                           L", not Orvellane's).";
            return check;
        }
        if (check.applicationId == 0 && anyObject && !foreign.empty()) {
            check.kind = DatabaseFileKind::OtherProgram;
            check.reason = L"It belongs to another program: it holds tables that are not Orvellane's ('" +
                           ToWide(foreign) + L"').";
            return check;
        }
        if (check.schemaVersion > kAppDatabaseSchemaVersion) {
            check.kind = DatabaseFileKind::Newer;
            check.reason = L"It was made by a newer version of Orvellane (schema version " +
                           std::to_wstring(check.schemaVersion) + L"; this version knows up to " +
                           std::to_wstring(kAppDatabaseSchemaVersion) + L").";
            return check;
        }
        if (check.applicationId == kAppDatabaseApplicationId) {
            if (!foreign.empty()) {
                // Marked as ours, yet a table lacks our columns: writing into it would fail halfway.
                check.kind = DatabaseFileKind::Damaged;
                check.trouble = DatabaseTrouble::Damaged;
                check.reason = L"Its table '" + ToWide(foreign) + L"' does not have the columns Orvellane expects.";
                return check;
            }
            check.kind = DatabaseFileKind::Marked;
        } else {
            check.kind = anyObject ? DatabaseFileKind::Unmarked : DatabaseFileKind::Empty;
        }
    } catch (const SqlError& failure) {
        const DatabaseTrouble trouble = TroubleOf(failure.code());
        if (trouble == DatabaseTrouble::Damaged || trouble == DatabaseTrouble::None) {
            check.kind = DatabaseFileKind::Damaged;
            check.trouble = DatabaseTrouble::Damaged;
            check.reason = (failure.code() & 0xFF) == SQLITE_NOTADB
                               ? L"It is not a database file, or the start of it is damaged."
                               : TroubleWords(DatabaseTrouble::Damaged);
        } else {
            check.kind = DatabaseFileKind::Unreadable;
            check.trouble = trouble;
            check.reason = TroubleWords(trouble);
        }
    }
    return check;
}

std::wstring TroubleWords(DatabaseTrouble trouble) {
    switch (trouble) {
        case DatabaseTrouble::Damaged:
            return L"SQLite finds it damaged: part of the file does not hold what SQLite wrote there.";
        case DatabaseTrouble::InUse:
            return L"It could not be read: another program holds it locked.";
        case DatabaseTrouble::DiskError:
            return L"It could not be read: the disk reported an error.";
        case DatabaseTrouble::OutOfMemory:
            return L"It could not be read: there was not enough memory.";
        case DatabaseTrouble::None:
            break;
    }
    return {};
}

DamageFinding FindDamage(sqlite3* db) {
    // The check reads the whole file, page by page (seconds for a large file under Wine), which is why
    // it runs beside the window. A memory map would take a fraction of that, but a read error of the
    // disk inside a mapped file ends the process instead of failing the statement.
    DamageFinding finding;
    try {
        Statement check = PrepareOrThrow(db, "PRAGMA quick_check(1);");
        if (StepRow(check) && ColumnText(check, 0) == "ok") return finding;
        finding.trouble = DatabaseTrouble::Damaged;
    } catch (const SqlError& failure) {
        // A damaged page can also stop the check itself; a lock, the disk or memory say nothing of the file.
        const DatabaseTrouble trouble = TroubleOf(failure.code());
        finding.trouble = trouble == DatabaseTrouble::None ? DatabaseTrouble::Damaged : trouble;
    }
    finding.reason = TroubleWords(finding.trouble);
    return finding;
}

}  // namespace bm
