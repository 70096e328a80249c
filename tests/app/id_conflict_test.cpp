// No two widgets of the window share an id, whatever the lists hold: a shared id makes one of the
// two buttons dead (Dear ImGui gives the click to the first) and puts the library's red warning box
// over the panel. Checked two ways: every id submitted in a frame, through the item hooks, and the
// library's own detection, which counts the items sharing the id of the hovered one.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <map>
#include <string>
#include <vector>

#include "tests/app/full_window_fixture.h"

namespace bm::test {
namespace {

class IdConflictTest : public FullWindowFixture {
protected:
    // "label in window" for every id submitted more than once in the last frame.
    std::vector<std::string> SharedIds() const {
        std::map<ImGuiID, std::vector<const UiItem*>> byId;
        for (const UiItem& item : ui.items()) byId[item.id].push_back(&item);
        std::vector<std::string> shared;
        for (const auto& [id, items] : byId) {
            if (items.size() < 2) continue;
            std::string text;
            for (const UiItem* item : items) text += "'" + item->label + "' in " + item->window + "; ";
            shared.push_back(text);
        }
        return shared;
    }

    // The frames in which each form shows a different set of widgets.
    void EachForm(const std::function<void(const char*)>& check) {
        struct Form {
            const char* name;
            int sourceType, destMode, ieSourceType, importAsNew, explorerType;
        };
        const Form forms[] = {{"profiles everywhere", 1, 2, 1, 0, 1}, {"browsers everywhere", 0, 0, 0, 1, 0},
                              {"all browsers", 0, 1, 0, 1, 0}};
        for (const Form& form : forms) {
            app.sourceType = form.sourceType;
            app.destMode = form.destMode;
            app.ieSourceType = form.ieSourceType;
            app.importAsNew = form.importAsNew;
            app.explorerType = form.explorerType;
            ui.Frame(2);
            check(form.name);
        }
    }
};

TEST_F(IdConflictTest, NoTwoItemsOfTheWindowShareAnId) {
    EachForm([&](const char* form) {
        SCOPED_TRACE(form);
        EXPECT_GT(ui.FindAll("Restore").size(), 6u);  // 4 file backups and 3 snapshots were drawn
        for (const std::string& shared : SharedIds()) ADD_FAILURE() << "shared id: " << shared;
    });
}

TEST_F(IdConflictTest, NoDialogSharesAnIdWithItsRows) {
    // The dialogs the rows open, each drawn over the full window.
    app.pendingRequest.destMode = 1;
    app.openConfirmReplace = true;
    ui.Frame(2);
    ASSERT_TRUE(ui.Has("Replace Anyway"));
    for (const std::string& shared : SharedIds()) ADD_FAILURE() << "shared id: " << shared;
    ASSERT_TRUE(ui.Click("Cancel"));

    const UiItem deleteRow = *ui.FindAll("Delete").front();
    ASSERT_TRUE(ui.ClickItem(deleteRow));
    ui.Frame();
    ASSERT_TRUE(ClickIn("Cancel", "Delete Profile"));
    for (const std::string& shared : SharedIds()) ADD_FAILURE() << "shared id: " << shared;

    const UiItem deleteSnapshot = *ui.FindAll("Delete").back();
    ASSERT_TRUE(ui.ClickItem(deleteSnapshot));
    ui.Frame();
    ASSERT_TRUE(ClickIn("Cancel", "Delete Snapshot"));
    for (const std::string& shared : SharedIds()) ADD_FAILURE() << "shared id: " << shared;
}

TEST_F(IdConflictTest, TheLibrarySeesNoConflictUnderAnyWidgetAndTheUserNoWarning) {
    ImGui::GetIO().ConfigDebugHighlightIdConflicts = true;  // the detection itself, as in a debug build
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    EachForm([&](const char* form) {
        SCOPED_TRACE(form);
        const std::vector<UiItem> items = ui.items();
        int hovered = 0;
        for (const UiItem& item : items) {
            const ImVec2 at = item.Center();
            if (at.x < 0 || at.y < 0 || at.x >= display.x || at.y >= display.y || !item.clip.Contains(at)) continue;
            ui.MoveMouse(at);
            ui.Frame(2);  // the frame after the hover counts the items of the hovered id
            if (GImGui->HoveredIdPreviousFrame != item.id) continue;
            ++hovered;
            EXPECT_EQ(GImGui->DebugDrawIdConflictsId, 0u) << "'" << item.label << "' in " << item.window;
        }
        EXPECT_GT(hovered, 40);
    });
}

}  // namespace
}  // namespace bm::test
