// At the smallest window the program allows, with every font size and the left pane at both ends of
// its splitter, every control lies inside the panel that draws it: nothing runs past the right edge
// of a panel or a table cell, where it could be neither seen nor clicked (a panel scrolls only up and
// down). Long names give way with an ellipsis instead.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/app/full_window_fixture.h"
#include "tests/app/panel_probe.h"

namespace bm::test {
namespace {

// The client area of a 980 x 640 window (the minimum tracking size) with the usual frame.
const ImVec2 kMinimumClient(964, 601);

class PanelReachTest : public FullWindowFixture {
protected:
    void SetUp() override {
        FullWindowFixture::SetUp();
        app.LoadFonts();  // the four sizes, as the program loads them
        ui.SetDisplaySize(kMinimumClient);
    }

    // "label in window" for each item of the last frame not wholly inside its clip rectangle from
    // left to right, or outside the display from top to bottom in a window that cannot scroll.
    std::vector<std::string> OutOfReach() const {
        std::vector<std::string> out;
        for (const UiItem& item : ui.items()) {
            if (item.rect.GetWidth() <= 0) continue;
            // One pixel of slack: a table's own header starts a pixel left of its cell's clip.
            const bool inside = item.rect.Min.x >= item.clip.Min.x - 1.01f && item.rect.Max.x <= item.clip.Max.x + 1.01f;
            const bool onScreen = item.rect.Min.x >= 0 && item.rect.Max.x <= kMinimumClient.x;
            if (inside && onScreen) continue;
            out.push_back("'" + item.label + "' in " + item.window + " at x " + std::to_string(item.rect.Min.x) + ".." +
                          std::to_string(item.rect.Max.x) + ", room " + std::to_string(item.clip.Min.x) + ".." +
                          std::to_string(item.clip.Max.x));
        }
        return out;
    }

    void EveryLayout(const std::function<void(const std::string&)>& check) {
        struct Form {
            const char* name;
            int sourceType, destMode, ieSourceType, importAsNew, explorerType;
            bool running;
        };
        const Form forms[] = {{"profiles", 1, 2, 1, 0, 1, false}, {"browsers, syncing", 0, 0, 0, 1, 0, true},
                              {"all browsers", 0, 1, 0, 1, 0, false}};
        for (int font = 0; font < 4; ++font) {
            for (float pane : {0.0f, 5000.0f}) {  // clamped to the narrowest and the widest left pane
                for (const Form& form : forms) {
                    app.fontSizeIndex = font;
                    app.leftPaneWidth = pane;
                    app.leftPaneWidthValid = pane > 0;
                    app.sourceType = form.sourceType;
                    app.destMode = form.destMode;
                    app.ieSourceType = form.ieSourceType;
                    app.importAsNew = form.importAsNew;
                    app.explorerType = form.explorerType;
                    app.syncRunning = form.running;
                    ui.Frame(3);
                    app.syncRunning = false;
                    check("font " + std::to_string(font) + ", pane " + (pane > 0 ? "widest" : "narrowest") + ", " +
                          form.name);
                }
            }
        }
    }
};

TEST_F(PanelReachTest, EveryControlLiesInsideItsPanelAtTheMinimumSize) {
    int layouts = 0;
    EveryLayout([&](const std::string& layout) {
        SCOPED_TRACE(layout);
        ++layouts;
        ASSERT_TRUE(ui.Has("Load"));
        // The left column scrolls: each screenful of it in turn, as the user would reach it.
        ImGuiWindow* left = WindowNamed("##leftcol");
        ASSERT_NE(left, nullptr);
        std::set<ImGuiID> restore, remove, rename;
        for (float y = 0;; y += left->InnerRect.GetHeight() * 0.5f) {
            ImGui::SetScrollY(left, y);
            ui.Frame(2);
            for (const std::string& item : OutOfReach()) ADD_FAILURE() << item << " (scrolled to " << y << ")";
            for (const UiItem* item : ui.FindAll("Restore")) restore.insert(item->id);
            for (const UiItem* item : ui.FindAll("Delete")) remove.insert(item->id);
            for (const UiItem* item : ui.FindAll("Rename")) rename.insert(item->id);
            if (y >= left->ScrollMax.y) break;
        }
        ImGui::SetScrollY(left, 0);
        // The rows that used to push their buttons out were all on screen at some point.
        EXPECT_EQ(restore.size(), 7u);  // 4 file backups, 3 snapshots
        EXPECT_EQ(remove.size(), 7u);   // 4 profiles, 3 snapshots
        EXPECT_EQ(rename.size(), 4u);
    });
    EXPECT_EQ(layouts, 24);
}

TEST_F(PanelReachTest, TheDialogsFitTheMinimumWindowWithTheLargestFont) {
    app.fontSizeIndex = 3;
    app.pendingRequest.destMode = 1;  // names every detected browser
    app.openConfirmReplace = true;
    ui.Frame(3);
    ASSERT_TRUE(ui.Has("Replace Anyway"));
    for (const std::string& item : OutOfReach()) ADD_FAILURE() << item;
    ASSERT_TRUE(ui.Click("Cancel"));

    app.deleteProfileName = app.profiles[0].name;  // the long one
    app.openDeleteProfile = true;
    ui.Frame(3);
    ASSERT_NE(ui.FindAll("Delete").back()->window.find("Delete Profile"), std::string::npos);
    for (const std::string& item : OutOfReach()) ADD_FAILURE() << item;
}

}  // namespace
}  // namespace bm::test
