#pragma once
// A draggable bar between two regions of the frame.

namespace bm::ui {

// Draws a bar `thickness` thick and `length` long (vertical: a column the user drags sideways;
// horizontal: a row dragged up and down) and, while it is dragged, moves *value by the mouse:
// rightwards for a vertical bar, upwards for a horizontal one (so dragging up grows what lies
// below it). The value is kept within minValue..maxValue, the maximum winning if they cross.
// Returns true while the bar is being dragged.
bool Splitter(const char* id, bool vertical, float thickness, float length, float* value, float minValue,
              float maxValue);

}  // namespace bm::ui
