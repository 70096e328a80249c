// BACKUPS & RESTORE: browser file backups and saved-profile snapshots, with restore.
#include "app/app.h"

namespace bm::ui {

// Coming: the browser backup list and the snapshot list with their Restore buttons.
void App::DrawBackupsPanel() {}

}  // namespace bm::ui
