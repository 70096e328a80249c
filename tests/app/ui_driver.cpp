#include "tests/app/ui_driver.h"

namespace bm::test {

namespace {

bool LabelMatches(const std::string& itemLabel, const std::string& wanted) {
    if (itemLabel == wanted) return true;
    const size_t hashes = itemLabel.find("##");
    return hashes != std::string::npos && hashes > 0 && itemLabel.compare(0, hashes, wanted) == 0 &&
           wanted.size() == hashes;
}

}  // namespace

UiDriver::UiDriver(ImVec2 displaySize) {
    previousContext_ = ImGui::GetCurrentContext();
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.DisplaySize = displaySize;
    io.DeltaTime = 1.0f / 60.0f;
    // Textures are "created" by SettleTextures, so fonts of any size work without a renderer.
    io.BackendFlags |= ImGuiBackendFlags_RendererHasTextures;
    previousSink_ = bm::ui::SetItemHookSink(this);
}

UiDriver::~UiDriver() {
    bm::ui::SetItemHookSink(previousSink_);
    ImGui::DestroyContext(context_);
    ImGui::SetCurrentContext(previousContext_);
}

void UiDriver::SetDisplaySize(ImVec2 size) {
    ImGui::SetCurrentContext(context_);
    ImGui::GetIO().DisplaySize = size;
}

void UiDriver::Frame(int count) {
    ImGui::SetCurrentContext(context_);
    for (int i = 0; i < count; ++i) {
        context_->TestEngineHookItems = true;
        recording_.clear();
        ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        if (draw_) draw_();
        ImGui::Render();
        SettleTextures();
        items_.swap(recording_);
    }
}

void UiDriver::SettleTextures() {
    ImDrawData* data = ImGui::GetDrawData();
    if (!data || !data->Textures) return;
    for (ImTextureData* texture : *data->Textures) {
        if (texture->Status == ImTextureStatus_WantDestroy) {
            texture->SetTexID(ImTextureID_Invalid);
            texture->SetStatus(ImTextureStatus_Destroyed);
        } else if (texture->Status != ImTextureStatus_OK && texture->Status != ImTextureStatus_Destroyed) {
            texture->SetTexID(static_cast<ImTextureID>(1));
            texture->SetStatus(ImTextureStatus_OK);
        }
    }
}

const UiItem* UiDriver::Find(const std::string& label) const {
    for (const UiItem& item : items_)
        if (item.label == label) return &item;
    for (const UiItem& item : items_)
        if (LabelMatches(item.label, label)) return &item;
    return nullptr;
}

std::vector<const UiItem*> UiDriver::FindAll(const std::string& label) const {
    std::vector<const UiItem*> found;
    for (const UiItem& item : items_)
        if (LabelMatches(item.label, label)) found.push_back(&item);
    return found;
}

void UiDriver::MoveMouse(ImVec2 pos) {
    ImGui::SetCurrentContext(context_);
    ImGui::GetIO().AddMousePosEvent(pos.x, pos.y);
    Frame();
}

bool UiDriver::Hover(const std::string& label) {
    const UiItem* item = Find(label);
    if (!item) return false;
    MoveMouse(item->Center());
    return true;
}

bool UiDriver::Click(const std::string& label) {
    const UiItem* item = Find(label);
    if (!item) return false;
    return ClickItem(*item);
}

bool UiDriver::ClickItem(const UiItem& target) {
    const ImGuiID id = target.id;
    const std::string label = target.label;
    MoveMouse(target.Center());
    // A window that has just appeared may have moved its items; aim again at the same widget.
    for (const UiItem& item : items_) {
        if (item.id == id && item.label == label) {
            if (item.Center().x != target.Center().x || item.Center().y != target.Center().y) MoveMouse(item.Center());
            break;
        }
    }
    ImGuiIO& io = ImGui::GetIO();
    io.AddMouseButtonEvent(0, true);
    Frame();
    io.AddMouseButtonEvent(0, false);
    Frame();
    return true;
}

bool UiDriver::Drag(const UiItem& item, ImVec2 delta) {
    const ImVec2 start = item.Center();
    MoveMouse(start);
    ImGuiIO& io = ImGui::GetIO();
    io.AddMouseButtonEvent(0, true);
    Frame();
    io.AddMousePosEvent(start.x + delta.x, start.y + delta.y);
    Frame();
    io.AddMouseButtonEvent(0, false);
    Frame();
    return true;
}

void UiDriver::PressKey(ImGuiKey key) {
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.AddKeyEvent(key, true);
    Frame();
    io.AddKeyEvent(key, false);
    Frame();
}

void UiDriver::Type(const std::string& utf8) {
    ImGui::SetCurrentContext(context_);
    ImGui::GetIO().AddInputCharactersUTF8(utf8.c_str());
    Frame();
}

void UiDriver::ItemAdd(ImGuiContext* ctx, ImGuiID id, const ImRect& rect, const ImGuiLastItemData*) {
    if (ctx != context_) return;
    UiItem item;
    item.id = id;
    item.rect = rect;
    if (ctx->CurrentWindow) {
        item.window = ctx->CurrentWindow->Name;
        item.clip = ctx->CurrentWindow->ClipRect;
    }
    recording_.push_back(std::move(item));
}

void UiDriver::ItemInfo(ImGuiContext* ctx, ImGuiID id, const char* label, ImGuiItemStatusFlags flags) {
    if (ctx != context_) return;
    for (auto it = recording_.rbegin(); it != recording_.rend(); ++it) {
        if (it->id == id) {
            it->label = label ? label : "";
            it->status = flags;
            return;
        }
    }
}

const char* UiDriver::FindItemDebugLabel(ImGuiContext* ctx, ImGuiID id) {
    if (ctx != context_) return nullptr;
    for (const UiItem& item : items_)
        if (item.id == id && !item.label.empty()) return item.label.c_str();
    return nullptr;
}

}  // namespace bm::test
