// DASHBOARD: the known browsers, found or not, running or not, and their bound profiles.
#include "app/app.h"

namespace bm::ui {

// Coming: the browser table with the "Close" buttons that arm the close-browsers dialog.
void App::DrawDashboard() {}

}  // namespace bm::ui
