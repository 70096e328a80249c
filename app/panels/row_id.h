#pragma once
// Id scopes for rows drawn from lists, so that no two widgets of a panel share an id whatever the
// lists hold.

#include <imgui.h>

#include <cstdint>

namespace bm::ui {

// A row of a database table: all 64 bits of its id.
inline void PushIdOf(int64_t id) {
    const char* bytes = reinterpret_cast<const char*>(&id);
    ImGui::PushID(bytes, bytes + sizeof(id));
}

}  // namespace bm::ui
