// DASHBOARD: the known browsers, found or not, running or not, and their bound profiles.
#include "app/app.h"

#include <imgui.h>

#include <algorithm>
#include <exception>
#include <string>

#include "app/panels/fit.h"
#include "app/theme.h"

namespace bm::ui {

namespace {

// Shares of the room the status columns leave: browser names, bound profile names.
constexpr float kNameWeight = 1.4f;
constexpr float kBoundWeight = 1.0f;

// Shows `text` as the tooltip of the item just drawn while it is hovered.
void TooltipForLastItem(const std::string& text) {
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", text.c_str());
}

}  // namespace

void App::DrawDashboard() {
    ImGui::TextColored(WarningColor(), "DASHBOARD");
    WrappedDisabled("Detected browsers, process lock status & profile bindings");
    ImGui::Spacing();

    const ImGuiTableFlags tableFlags = ImGuiTableFlags_Resizable | ImGuiTableFlags_Reorderable |
                                       ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders |
                                       ImGuiTableFlags_SizingStretchProp;
    // Measured before the table begins: inside it, the free width is that of a cell.
    const float tableWidth = ImGui::GetContentRegionAvail().x;
    if (ImGui::BeginTable("##browserGrid", 4, tableFlags, ImVec2(0, 0))) {
        // The status columns are as wide as their longest line and their header; when that leaves
        // the names too little room, as their longest word and their header (a cell's second word
        // then goes below its first); in a narrow panel, as their longest word alone, and a header
        // that no longer fits is cut. The names' room must hold the longest browser name in the
        // name column's share of it.
        const ImGuiStyle& style = ImGui::GetStyle();
        const float spacing = style.ItemSpacing.x;
        // Each column also takes its cell padding on both sides and a border.
        const float cellsExtra = 4 * (2 * style.CellPadding.x + 1) + 2 * style.CellPadding.x;
        float longestName = 0;
        for (const BrowserInfo& browser : browsers)
            longestName = std::max(longestName, ImGui::CalcTextSize(ToUtf8(browser.displayName).c_str()).x);
        const float namesNeed = longestName * (kNameWeight + kBoundWeight) / kNameWeight;
        const auto namesFit = [&](float detected, float lock) {
            return tableWidth - cellsExtra - detected - lock >= namesNeed;
        };
        const float detectedWord = std::max({LabelWidth("Not found"), LabelWidth("(empty)"), LabelWidth("Detected")});
        const float lockWord = std::max({LabelWidth("RUNNING"), SmallButtonWidth("Close"), LabelWidth("Closed")});
        const float lockHeader = std::max(lockWord, LabelWidth("Process Lock"));
        float detectedWidth = std::max(detectedWord, LabelWidth("Found") + spacing + LabelWidth("(empty)"));
        float lockWidth = std::max(LabelWidth("RUNNING") + spacing + SmallButtonWidth("Close"), lockHeader);
        if (!namesFit(detectedWidth, lockWidth)) {
            detectedWidth = detectedWord;
            lockWidth = namesFit(detectedWord, lockHeader) ? lockHeader : lockWord;
        }
        ImGui::TableSetupColumn("Browser", ImGuiTableColumnFlags_WidthStretch, kNameWeight);
        // Not resizable, so that their width follows the panel's each frame instead of keeping the
        // first frame's.
        ImGui::TableSetupColumn("Detected", ImGuiTableColumnFlags_WidthFixed | ImGuiTableColumnFlags_NoResize, detectedWidth);
        ImGui::TableSetupColumn("Process Lock", ImGuiTableColumnFlags_WidthFixed | ImGuiTableColumnFlags_NoResize, lockWidth);
        ImGui::TableSetupColumn("Bound Profile", ImGuiTableColumnFlags_WidthStretch, kBoundWeight);
        ImGui::TableHeadersRow();

        bool configReadFailed = false;
        for (const BrowserInfo& browser : browsers) {
            const std::string name = ToUtf8(browser.displayName);
            ImGui::TableNextRow();

            ImGui::TableSetColumnIndex(0);
            ImGui::TextUnformatted(Ellipsized(name, ImGui::GetContentRegionAvail().x).c_str());
            if (browser.hasCustomPath) {
                SameLineIfFits(LabelWidth("(custom)"));
                ImGui::TextDisabled("(custom)");
            }

            ImGui::TableSetColumnIndex(1);
            if (browser.detected) {
                ImGui::TextColored(SuccessColor(), "Found");
                if (!outsideReads.FileExists(browser.bookmarksPath)) {
                    SameLineIfFits(LabelWidth("(empty)"));
                    ImGui::TextDisabled("(empty)");
                    TooltipForLastItem(name +
                                       " is installed, but it has no bookmarks file yet\n"
                                       "(no bookmarks have been saved in that profile).\n"
                                       "Syncing to it will create the file.");
                }
            } else {
                ImGui::TextColored(MutedColor(), "Not found");
                if (browser.running) {
                    SameLineIfFits(LabelWidth("(?)"));
                    ImGui::TextDisabled("(?)");
                    TooltipForLastItem(name +
                                       " is running, but its profile folder wasn't found.\n"
                                       "This usually means a portable or custom install.\n"
                                       "Use 'Custom / Portable Browser Path' below to point at it directly.");
                }
            }

            ImGui::TableSetColumnIndex(2);
            if (browser.running) {
                ImGui::TextColored(DangerColor(), "RUNNING");
                SameLineIfFits(SmallButtonWidth("Close"));
                ImGui::PushID(static_cast<int>(browser.kind));
                if (ImGui::SmallButton("Close")) {
                    // Arms the close-browsers dialog for this browser alone; nothing starts afterwards.
                    closeQueueExe = {browser.exeName};
                    closeQueueNames = {browser.displayName};
                    openCloseBrowsers = true;
                    syncAfterClose = false;
                }
                ImGui::PopID();
            } else {
                ImGui::TextColored(SuccessColor(), "Closed");
            }

            ImGui::TableSetColumnIndex(3);
            const ProfileRecord* bound = nullptr;
            if (!withoutDatabase) try {
                const BrowserConfig config = outsideReads.Config(db, BrowserKey(browser.kind));
                for (const ProfileRecord& profile : profiles) {
                    if (profile.id == config.bound_profile_id) {
                        bound = &profile;
                        break;
                    }
                }
            } catch (const std::exception& e) {
                if (!configReadFailed && !dashboardConfigReadFailed)
                    Log(L"[ERROR] Could not read the browser configurations: " + ErrorText(e));
                configReadFailed = true;
            }
            if (bound != nullptr)
                ImGui::TextUnformatted(Ellipsized(ToUtf8(bound->name), ImGui::GetContentRegionAvail().x).c_str());
            else
                ImGui::TextDisabled("--");
        }
        dashboardConfigReadFailed = configReadFailed;
        ImGui::EndTable();
    }

    ImGui::Spacing();
    WrappedDisabled("Tip: browsers often stay in Task Manager after you close the window. Use Close, then Refresh.");
}

}  // namespace bm::ui
