#pragma once
// A UI test driver: a Dear ImGui context with no window and no renderer, frames stepped by the
// test, widgets found by their label through Dear ImGui's item hooks, and clicks, drags, keys and
// typing sent as input events.
//
// Usage:
//   bm::test::UiDriver ui;                      // creates and makes current its own context
//   bm::ui::App app;                            // no Init: no window, no GL
//   app.OpenDatabase(dir / L"app_data.db");
//   ui.SetDraw([&] { app.DrawFrame(); });        // what one frame draws
//   ui.Frame();                                  // NewFrame, draw, Render; items recorded
//   ui.Click("View"); ui.Click("Light theme");   // by label as written in the code
//   const bm::test::UiItem* item = ui.Find("Sync Now");
//
// Labels: Find matches the full label given to the widget ("Close##backup", "##vsplit" pushes an
// id scope, its button is "##split"), or else the visible part before "##" ("Close"). The first
// match in drawing order wins; FindAll gives every match. Items are those of the last frame drawn;
// widgets that Dear ImGui clips away still appear (their rectangle lies outside their window).
// Only items with an id are reported: plain text is not, buttons, menus, combos, inputs, radio
// buttons, tree nodes and selectables are.
//
// Input helpers step frames themselves (Click: move, press, release = at least 3 frames), so the
// draw function runs during them and the App reacts as to real input. The driver's context is
// destroyed by its destructor; an App never destroys a context it did not create.

#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <string>
#include <vector>

#include "app/imgui_item_hooks.h"

namespace bm::test {

struct UiItem {
    ImGuiID id = 0;
    std::string label;       // as given to the widget, "" when it reported none
    ImRect rect;             // screen rectangle
    std::string window;      // name of the window it was submitted in
    ImRect clip;             // the clip rectangle in force when it was submitted (a table cell's, a child's)
    ImGuiItemStatusFlags status = 0;
    ImVec2 Center() const { return rect.GetCenter(); }
};

class UiDriver : public bm::ui::ItemHookSink {
public:
    explicit UiDriver(ImVec2 displaySize = ImVec2(1360, 860));
    ~UiDriver() override;
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    ImGuiContext* context() const { return context_; }
    void SetDisplaySize(ImVec2 size);
    void SetDraw(std::function<void()> draw) { draw_ = std::move(draw); }

    // Draws `count` frames (ImGui::NewFrame, the draw function, ImGui::Render).
    void Frame(int count = 1);

    // Items of the last frame.
    const UiItem* Find(const std::string& label) const;
    std::vector<const UiItem*> FindAll(const std::string& label) const;
    bool Has(const std::string& label) const { return Find(label) != nullptr; }
    const std::vector<UiItem>& items() const { return items_; }

    // Input. Each returns false (and sends nothing) when the label is not found.
    void MoveMouse(ImVec2 pos);         // one frame
    bool Hover(const std::string& label);  // move onto the item, one frame
    bool Click(const std::string& label);
    bool ClickItem(const UiItem& item);
    // Presses on the item, moves the mouse by `delta`, releases.
    bool Drag(const UiItem& item, ImVec2 delta);
    void PressKey(ImGuiKey key);        // down one frame, up one frame
    void Type(const std::string& utf8); // characters into the focused field, one frame

    // ItemHookSink
    void ItemAdd(ImGuiContext* ctx, ImGuiID id, const ImRect& rect, const ImGuiLastItemData* data) override;
    void ItemInfo(ImGuiContext* ctx, ImGuiID id, const char* label, ImGuiItemStatusFlags flags) override;
    const char* FindItemDebugLabel(ImGuiContext* ctx, ImGuiID id) override;

private:
    void SettleTextures();

    ImGuiContext* context_ = nullptr;
    ImGuiContext* previousContext_ = nullptr;
    bm::ui::ItemHookSink* previousSink_ = nullptr;
    std::function<void()> draw_;
    std::vector<UiItem> recording_;
    std::vector<UiItem> items_;
};

}  // namespace bm::test
