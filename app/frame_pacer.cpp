#include "app/frame_pacer.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>

namespace bm::ui {

namespace {

template <typename T>
void AppendBytes(std::vector<unsigned char>& out, const T* data, size_t count) {
    if (count == 0) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    out.insert(out.end(), bytes, bytes + count * sizeof(T));
}

template <typename T>
void AppendValue(std::vector<unsigned char>& out, const T& value) {
    AppendBytes(out, &value, 1);
}

}  // namespace

void AppendDrawDataBytes(const ImDrawData* drawData, std::vector<unsigned char>& out) {
    if (drawData == nullptr || !drawData->Valid) return;
    AppendValue(out, drawData->DisplayPos);
    AppendValue(out, drawData->DisplaySize);
    AppendValue(out, drawData->FramebufferScale);
    for (const ImDrawList* list : drawData->CmdLists) {
        AppendValue(out, list->VtxBuffer.Size);
        AppendBytes(out, list->VtxBuffer.Data, static_cast<size_t>(list->VtxBuffer.Size));
        AppendValue(out, list->IdxBuffer.Size);
        AppendBytes(out, list->IdxBuffer.Data, static_cast<size_t>(list->IdxBuffer.Size));
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            AppendValue(out, cmd.ClipRect);
            AppendValue(out, cmd.TexRef._TexData);
            AppendValue(out, cmd.TexRef._TexID);
            AppendValue(out, cmd.VtxOffset);
            AppendValue(out, cmd.IdxOffset);
            AppendValue(out, cmd.ElemCount);
            const bool callback = cmd.UserCallback != nullptr;
            AppendValue(out, callback);
        }
    }
}

namespace {

// What the next frame may draw differently although this frame's picture did not change yet: the
// widget under the mouse, the one held, the focus and the popups (a click acts on its release, and
// what it opens shows a frame later).
void AppendInteractionState(ImGuiContext* context, std::vector<unsigned char>& out) {
    if (context == nullptr) return;
    AppendValue(out, context->HoveredId);
    AppendValue(out, context->ActiveId);
    AppendValue(out, context->NavId);
    AppendValue(out, context->NavWindow);
    for (const ImGuiPopupData& popup : context->OpenPopupStack) {
        AppendValue(out, popup.PopupId);
        AppendValue(out, popup.Window);
    }
}

// True while a window is hidden or resizing itself to measure its contents (a popup or modal in
// its first frames, an auto-resizing window): the frames after it show it at its real size.
bool WindowStillMeasuring(ImGuiContext* context) {
    if (context == nullptr) return false;
    for (const ImGuiWindow* window : context->Windows) {
        if (!window->Active && !window->WasActive) continue;
        if (window->HiddenFramesCannotSkipItems > 0 || window->HiddenFramesCanSkipItems > 0 ||
            window->HiddenFramesForRenderOnly > 0 || window->AutoFitFramesX > 0 || window->AutoFitFramesY > 0)
            return true;
    }
    return false;
}

}  // namespace

bool FramePacer::HasQueuedInput(ImGuiContext* context) {
    if (context == nullptr) return false;
    return context->InputEventsQueue.Size > 0 || context->IO.InputQueueCharacters.Size > 0;
}

bool FramePacer::AfterFrame(ImGuiContext* context, const ImDrawData* drawData) {
    current_.clear();
    AppendDrawDataBytes(drawData, current_);
    pictureSize_ = current_.size();
    AppendInteractionState(context, current_);
    const bool changed = current_ != previous_ || WindowStillMeasuring(context);
    previous_.swap(current_);

    if (HasQueuedInput(context)) {
        settling_ = false;
        return true;
    }
    if (!changed) {
        settling_ = false;
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!settling_) {
        settling_ = true;
        settlingSince_ = now;
        return true;
    }
    if (std::chrono::duration<double>(now - settlingSince_).count() < kMaxSettlingSeconds) return true;
    settling_ = false;
    return false;
}

}  // namespace bm::ui
