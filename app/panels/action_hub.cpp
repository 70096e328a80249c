// ACTION HUB: source, destination and mode of a sync; profile management, profile copy, custom paths.
#include "app/app.h"

namespace bm::ui {

// Coming: the sync form, the replace confirmation, and the three collapsible sections.
void App::DrawActionHub() {}

}  // namespace bm::ui
