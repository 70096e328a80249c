// Text beyond U+FFFF (emoji and the like) through the whole window: typed as Windows sends it (two
// WM_CHAR halves of a surrogate pair), stored as typed, drawn with the emoji font where the system
// has one, and a path through a folder of such a name used for an export.
#include <windows.h>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_impl_win32.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "core/portable_export.h"
#include "tests/app/panel_fixture.h"
#include "tests/support/temp_dir.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace bm::test {
namespace {

constexpr ImWchar kGrinning = 0x1F600;  // 😀, beyond 16 bits
const wchar_t kEmojiName[] = L"Trip \U0001F600";
const char kEmojiNameUtf8[] = "Trip \xF0\x9F\x98\x80";

class UnicodeTextTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        window = CreateWindowExW(0, L"STATIC", L"unicode test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        ImGui::SetCurrentContext(ui.context());
        ASSERT_TRUE(ImGui_ImplWin32_Init(window));
    }
    void TearDown() override {
        ImGui::SetCurrentContext(ui.context());
        ImGui_ImplWin32_Shutdown();
        DestroyWindow(window);
        PanelFixture::TearDown();
    }

    // Each UTF-16 unit of `text` as the WM_CHAR Windows sends for it, through the Win32 back end.
    void TypeAsWindows(const std::wstring& text) {
        ImGui::SetCurrentContext(ui.context());
        for (wchar_t unit : text) ImGui_ImplWin32_WndProcHandler(window, WM_CHAR, static_cast<WPARAM>(unit), 0);
        ui.Frame();
    }

    HWND window = nullptr;
};

TEST_F(UnicodeTextTest, AnEmojiTypedAsWindowsSendsItIsStoredLoggedAndDrawnAsTyped) {
    Show(&bm::ui::App::DrawActionHub);
    ui.Frame();
    ASSERT_TRUE(ui.Click("Manage Saved Profiles"));
    ASSERT_TRUE(ui.Click("##newProfile"));
    TypeAsWindows(kEmojiName);
    EXPECT_STREQ(app.newProfileName, kEmojiNameUtf8);
    ASSERT_TRUE(ui.Click("Create"));

    const std::vector<ProfileRecord> stored = app.db.ListProfiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, kEmojiName);
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"Created profile '" + std::wstring(kEmojiName) + L"'."});
    ui.Frame();
    EXPECT_TRUE(Shows(kEmojiNameUtf8)) << shownText;
    // Nothing the window drew lost a character to U+FFFD on the way.
    EXPECT_EQ(shownText.find("\xEF\xBF\xBD"), std::string::npos) << shownText;
}

TEST_F(UnicodeTextTest, AnExportPathThroughAFolderWithAnEmojiIsTypedAndWritten) {
    const int64_t work = app.db.CreateProfile(L"Work");
    ASSERT_EQ(app.db.AddBookmarks(work, {Bookmark(L"https://a.example/", L"A")}), 1);
    app.RefreshProfiles();
    app.ieSourceType = 1;
    app.ieSourceIndex = 0;
    const std::wstring folder = dir / L"\U0001F3B5 Musik";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring target = folder + L"\\out.json";

    Show(&bm::ui::App::DrawImportExport);
    ui.Frame();
    ASSERT_TRUE(ui.Click("Export"));
    ASSERT_TRUE(ui.Click("##ieExportPath"));
    TypeAsWindows(target);
    EXPECT_EQ(ToWide(app.exportPath), target);
    const std::vector<const UiItem*> buttons = ui.FindAll("Export");
    ASSERT_EQ(buttons.size(), 2u);
    const UiItem button = *buttons[1];
    ASSERT_TRUE(ui.ClickItem(button));
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Exported 1 bookmark(s) from 'Work' to " + target});
    std::wstring error;
    EXPECT_EQ(ImportBookmarks(target, &error).size(), 1u) << ToUtf8(error);
}

// The emoji font of Windows (here DejaVu Sans, which has the emoji faces, placed under its name).
TEST(EmojiFontTest, SeguiemjGivesEverySizeAGlyphBeyondSixteenBits) {
    const wchar_t source[] = L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";
    ASSERT_NE(GetFileAttributesW(source), INVALID_FILE_ATTRIBUTES) << "fonts-dejavu-core is not installed";
    wchar_t windows[260] = {};
    const std::wstring fonts = std::wstring(windows, GetWindowsDirectoryW(windows, 260)) + L"\\Fonts\\";
    CreateDirectoryW(fonts.c_str(), nullptr);
    const std::wstring placed = fonts + L"seguiemj.ttf";
    auto glyphs = [] {
        UiDriver ui;
        bm::ui::App app;
        app.LoadFonts();
        int found = 0;
        ui.SetDraw([&] {
            for (ImFont* font : app.fonts) {
                if (font == nullptr) continue;
                ImGui::PushFont(font, font->LegacySize);
                if (font->IsGlyphInFont(kGrinning) && ImGui::GetFontBaked()->FindGlyphNoFallback(kGrinning) != nullptr)
                    ++found;
                ImGui::PopFont();
            }
        });
        ui.Frame();
        return found;
    };
    EXPECT_EQ(glyphs(), 0);
    ASSERT_TRUE(CopyFileW(source, placed.c_str(), FALSE));
    EXPECT_EQ(glyphs(), 4);
    DeleteFileW(placed.c_str());
}

}  // namespace
}  // namespace bm::test
