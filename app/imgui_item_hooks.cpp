#include "app/imgui_item_hooks.h"

#include <cstdarg>
#include <cstdio>

namespace bm::ui {

namespace {
ItemHookSink* g_sink = nullptr;
}

ItemHookSink* SetItemHookSink(ItemHookSink* sink) {
    ItemHookSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

}  // namespace bm::ui

void ImGuiTestEngineHook_ItemAdd(ImGuiContext* ctx, ImGuiID id, const ImRect& bb, const ImGuiLastItemData* item_data) {
    if (bm::ui::g_sink) bm::ui::g_sink->ItemAdd(ctx, id, bb, item_data);
}

void ImGuiTestEngineHook_ItemInfo(ImGuiContext* ctx, ImGuiID id, const char* label, ImGuiItemStatusFlags flags) {
    if (bm::ui::g_sink) bm::ui::g_sink->ItemInfo(ctx, id, label, flags);
}

void ImGuiTestEngineHook_Log(ImGuiContext* ctx, const char* fmt, ...) {
    if (!bm::ui::g_sink) return;
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    bm::ui::g_sink->Log(ctx, text);
}

const char* ImGuiTestEngine_FindItemDebugLabel(ImGuiContext* ctx, ImGuiID id) {
    return bm::ui::g_sink ? bm::ui::g_sink->FindItemDebugLabel(ctx, id) : nullptr;
}
