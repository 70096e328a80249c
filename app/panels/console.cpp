// CONSOLE LOG: the log at the bottom of the window, each line coloured by its outcome marker.
#include "app/app.h"

namespace bm::ui {

// Coming: the title, the scrolling region and the coloured lines that follow the bottom.
void App::DrawConsoleLog() {}

}  // namespace bm::ui
