#pragma once
// What the bookmark explorer keeps between frames to draw its table cheaply: the rows' texts in
// UTF-8, made once per load rather than on every frame, and the rows the current search lets
// through, made again only when the search text changes. A profile of 100 000 bookmarks then costs
// a frame only the rows that are on screen.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm::ui {

struct ExplorerView {
    const BookmarkRecord* source = nullptr;  // explorerRows.data() when the texts were made
    size_t sourceSize = 0;
    std::vector<std::string> title, url, folder;
    bool filterValid = false;
    std::string needle;          // the search the list below was made for
    std::vector<int32_t> shown;  // positions in explorerRows, in order
    // The table rows of the last frame: how many were submitted, and the first and last of them as
    // positions in `shown` (-1 when none).
    int rowsDrawn = 0;
    int firstDrawn = -1;
    int lastDrawn = -1;
};

}  // namespace bm::ui
