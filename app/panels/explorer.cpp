// BOOKMARK EXPLORER: the bookmarks of one browser or saved profile, searchable.
#include "app/app.h"

namespace bm::ui {

// Coming: the source choice, loading on demand, the search field and the table.
void App::DrawBookmarkExplorer() {}

}  // namespace bm::ui
