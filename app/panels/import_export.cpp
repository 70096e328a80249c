// IMPORT / EXPORT: portable JSON or HTML files from and into browsers and saved profiles.
#include "app/app.h"

namespace bm::ui {

// Coming: the export and import sections with their file dialogs.
void App::DrawImportExport() {}

}  // namespace bm::ui
