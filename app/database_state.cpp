// The program without its database: what the start (or the check of the file after it) says when
// app_data.db cannot be used or only read, and what the App leaves out then.
#include "app/app.h"

namespace bm::ui {

namespace {

const wchar_t kStillWorking[] =
    L"Still working: the browsers are found (at their usual places), and syncing from browser to browser, "
    L"export, import into a browser and the explorer of a browser work as always.";
const wchar_t kNotWorking[] =
    L"Not working: saved profiles and their snapshots, custom bookmark-file paths, and keeping the settings";

}  // namespace

std::wstring DatabaseTroubleMessage(DatabaseTrouble trouble, const std::wstring& reason) {
    std::wstring text;
    std::wstring until;
    switch (trouble) {
        case DatabaseTrouble::Damaged:
            text = L"[ERROR] app_data.db is damaged, so Orvellane goes on without it and writes nothing into it. ";
            until = L", until the file is repaired or moved away and Orvellane is started again.";
            break;
        case DatabaseTrouble::InUse:
        case DatabaseTrouble::DiskError:
        case DatabaseTrouble::OutOfMemory:
        case DatabaseTrouble::None:
            text = L"[ERROR] app_data.db could not be used (that does not mean it is damaged), so Orvellane goes on "
                   L"without it and writes nothing into it. ";
            until = trouble == DatabaseTrouble::InUse ? L", until Orvellane is started again once the other program has "
                                                        L"closed the file."
                                                      : L", until Orvellane is started again.";
            break;
    }
    return text + reason + L"\n" + kStillWorking + L"\n" + kNotWorking + until;
}

std::wstring ReadOnlyDatabaseMessage() {
    return L"[WARN] app_data.db is read-only (the file, or the disk it is on), so Orvellane saves nothing into it: "
           L"saved profiles can be used as a source and their snapshots are listed, but nothing can be synced, "
           L"imported or restored into a profile, no profile made, renamed or deleted, and the settings are not "
           L"kept.\nEverything between browsers works as always.";
}

void App::GoOnWithoutDatabase() {
    withoutDatabase = true;
    dbOpen = false;
    db.Close();  // nothing more is read from it either
    Log(DatabaseTroubleMessage(db.Trouble(), db.TroubleReason()));
    profiles.clear();
    defaultProfileId = 0;
}

void App::NoteDatabaseCheck() {
    if (dbCheckNoted || !dbOpen || !db.FileCheckDone()) return;
    dbCheckNoted = true;
    if (db.Trouble() == DatabaseTrouble::None) return;
    // Found after the window came up: the database has closed itself; what the panels hold of it goes.
    GoOnWithoutDatabase();
    RedetectBrowsers();
    explorerReloadPending = true;
}

}  // namespace bm::ui
