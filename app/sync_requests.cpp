// Sync requests: which running browsers a job touches, and the dialog that closes them first.
#include "app/app.h"

namespace bm::ui {

// Coming: collect the running browsers the job touches; start it, or hold it pending and open the dialog.
void App::RequestSync(const SyncRequest& request) { (void)request; }

// Coming: the "Close browser processes" modal.
void App::DrawCloseBrowsersDialog() {}

}  // namespace bm::ui
