// BOOKMARK EXPLORER: the bookmarks of one browser or saved profile, searchable.
#include <imgui.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/explorer_loader.h"
#include "app/panels/explorer_view.h"
#include "app/panels/fit.h"
#include "app/theme.h"

namespace bm::ui {

size_t App::ExplorerRowCount() const { return explorerView ? explorerView->size() : 0; }

void App::DrawBookmarkExplorer() {
    ImGui::TextColored(DangerColor(), "BOOKMARK EXPLORER");
    WrappedDisabled("Search & verify bookmarks before syncing");
    ImGui::Spacing();

    if (explorerType == 0) ClampChoice(explorerIndex, browsers.size());
    if (explorerType == 1) ClampChoice(explorerIndex, profiles.size());

    // Each kind keeps its own choice: a switch brings back what the other kind showed last.
    if (ImGui::RadioButton("Browser##exp", explorerType == 0)) {
        SwitchKind(explorerType, explorerIndex, explorerOtherKindIndex, 0);
        explorerReloadPending = true;
        SaveUiState();
    }
    SameLineIfFits(RadioWidth("Saved Profile##exp"));
    if (ImGui::RadioButton("Saved Profile##exp", explorerType == 1)) {
        SwitchKind(explorerType, explorerIndex, explorerOtherKindIndex, 1);
        explorerReloadPending = true;
        SaveUiState();
    }
    if (explorerType != explorerLastType) explorerReloadPending = true;
    if (explorerType == 0) ClampChoice(explorerIndex, browsers.size());
    if (explorerType == 1) ClampChoice(explorerIndex, profiles.size());

    const bool browserCombo = explorerType == 0 && !browsers.empty();
    const bool profileCombo = !browserCombo && !profiles.empty();
    // The source list and "Load" join the radio line when they fit; the list gives up width first.
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    const float loadWidth = ButtonWidth("Load");
    if (browserCombo || profileCombo) {
        SameLineIfFits(220 + spacing + loadWidth);
        ImGui::SetNextItemWidth(std::max(std::min(220.0f, ImGui::GetContentRegionAvail().x - spacing - loadWidth),
                                         ImGui::GetFontSize() * 3));
        const size_t count = browserCombo ? browsers.size() : profiles.size();
        auto entryName = [&](size_t i) {
            return ToUtf8(browserCombo ? browsers[i].displayName : profiles[i].name);
        };
        const bool inList = NamesEntry(explorerIndex, count);
        const std::string preview = inList        ? entryName(static_cast<size_t>(explorerIndex))
                                    : browserCombo ? "(choose a browser)"
                                                   : "(choose a profile)";
        if (ImGui::BeginCombo(browserCombo ? "##expBrowser" : "##expProfile", preview.c_str())) {
            for (size_t i = 0; i < count; ++i) {
                ImGui::PushID(static_cast<int>(i));
                if (ImGui::Selectable(entryName(i).c_str(), static_cast<int32_t>(i) == explorerIndex)) {
                    explorerIndex = static_cast<int32_t>(i);
                    explorerReloadPending = true;
                    SaveUiState();
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
    }
    SameLineIfFits(loadWidth);
    if (ImGui::Button("Load")) explorerReloadPending = true;
    // Where there is nothing to choose, the line says why instead of showing no list at all.
    if (!browserCombo && !profileCombo)
        WrappedDisabled(explorerType == 0 ? "No browsers detected."
                                          : "No saved profiles yet - create one in the action hub or import a file.");

    if (!explorerView) {
        explorerView = std::make_shared<ExplorerView>();
        explorerView->Finish();
    }
    // A load finished since the last frame replaces the rows; one asked for in this frame is taken in a
    // frame after it.
    if (std::shared_ptr<ExplorerView> loaded = explorerLoader.Take()) explorerView = std::move(loaded);
    explorerLastType = explorerType;
    if (explorerReloadPending || explorerIndex != explorerLastIndex) {
        explorerReloadPending = false;
        // The rows are read on the loader's thread; the frame shows the load's progress meanwhile.
        ExplorerLoader::Source source;
        if (explorerType == 0) {
            if (!browsers.empty() && explorerIndex >= 0 && explorerIndex < static_cast<int32_t>(browsers.size()) &&
                browsers[explorerIndex].detected) {
                source.kind = ExplorerLoader::Source::Kind::Browser;
                source.browser = browsers[explorerIndex];
            }
        } else if (explorerType == 1) {
            if (!profiles.empty() && explorerIndex >= 0 && explorerIndex < static_cast<int32_t>(profiles.size())) {
                source.kind = ExplorerLoader::Source::Kind::Profile;
                source.profileId = profiles[explorerIndex].id;
            }
        }
        // The rows of the source left go at once: none of them belongs to the one chosen now.
        explorerView = std::make_shared<ExplorerView>();
        explorerView->Finish();
        explorerLoader.Start(source, db);
        if (waitForExplorerLoads) {
            explorerLoader.WaitIdle();
            if (std::shared_ptr<ExplorerView> loaded = explorerLoader.Take()) explorerView = std::move(loaded);
        }
    }
    explorerLastIndex = explorerIndex;
    ExplorerView& view = *explorerView;
    const ExplorerLoader::Progress progress = explorerLoader.progress();

    ImGui::SetNextItemWidth(-1);
    ImGui::InputTextWithHint("##explorerSearch", "Search title, URL or folder...", explorerSearch, sizeof explorerSearch);
    const std::string needle = LowerAscii(explorerSearch);
    ImGui::Spacing();
    if (!progress.loading) {
        ImGui::Text("%d bookmark(s) loaded", static_cast<int>(view.size()));
    } else if (progress.readingFile) {
        ImGui::TextDisabled("Reading the bookmarks file...");
    } else if (progress.total > 0) {
        ImGui::TextDisabled("Loading bookmarks: %zu of %zu...", progress.rows, progress.total);
    } else {
        ImGui::TextDisabled("Loading bookmarks...");
    }
    view.Filter(needle);

    const ImGuiTableFlags flags = ImGuiTableFlags_Resizable | ImGuiTableFlags_Reorderable | ImGuiTableFlags_RowBg |
                                  ImGuiTableFlags_Borders | ImGuiTableFlags_SizingStretchProp |
                                  ImGuiTableFlags_ScrollX | ImGuiTableFlags_ScrollY;
    if (!ImGui::BeginTable("##bmTable", 3, flags, ImVec2(0, ImGui::GetContentRegionAvail().y))) return;
    ImGui::TableSetupColumn("Title", ImGuiTableColumnFlags_WidthStretch, 1.2f);
    ImGui::TableSetupColumn("URL", ImGuiTableColumnFlags_WidthStretch, 1.6f);
    ImGui::TableSetupColumn("Folder", ImGuiTableColumnFlags_WidthStretch, 1.0f);
    ImGui::TableSetupScrollFreeze(0, 1);
    ImGui::TableHeadersRow();

    view.rowsDrawn = 0;
    view.firstDrawn = view.lastDrawn = -1;
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(view.shown.size()));
    while (clipper.Step()) {
        for (int n = clipper.DisplayStart; n < clipper.DisplayEnd; ++n) {
            if (view.firstDrawn < 0) view.firstDrawn = n;
            view.lastDrawn = n;
            ++view.rowsDrawn;
            const size_t row = static_cast<size_t>(view.shown[n]);
            ImGui::TableNextRow();
            ImGui::TableSetColumnIndex(0);
            const char* title = view.Title(row);
            ImGui::TextUnformatted(*title == '\0' ? "(untitled)" : title);
            ImGui::TableSetColumnIndex(1);
            ImGui::TextUnformatted(view.Url(row));
            ImGui::TableSetColumnIndex(2);
            const char* folder = view.Folder(row);
            ImGui::TextUnformatted(*folder == '\0' ? "/" : folder);
        }
    }
    ImGui::EndTable();
}

}  // namespace bm::ui
