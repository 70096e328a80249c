#pragma once
// Dear ImGui is compiled with its item hooks (IMGUI_ENABLE_TEST_ENGINE). The program defines them
// here; they do nothing until a sink is installed, which only the UI test driver does. Items are
// reported only while the context's TestEngineHookItems flag is set.

#include <imgui.h>
#include <imgui_internal.h>

namespace bm::ui {

class ItemHookSink {
public:
    virtual ~ItemHookSink() = default;
    // An item was submitted: its id, rectangle and the last-item data (may be null).
    virtual void ItemAdd(ImGuiContext* ctx, ImGuiID id, const ImRect& rect, const ImGuiLastItemData* data) = 0;
    // The label and status flags of the item just added.
    virtual void ItemInfo(ImGuiContext* ctx, ImGuiID id, const char* label, ImGuiItemStatusFlags flags) = 0;
    virtual void Log(ImGuiContext*, const char*) {}
    virtual const char* FindItemDebugLabel(ImGuiContext*, ImGuiID) { return nullptr; }
};

// Installs the sink (null: the hooks do nothing). Returns the previous one.
ItemHookSink* SetItemHookSink(ItemHookSink* sink);

}  // namespace bm::ui
