// Fonts for scripts the main font lacks, merged behind it from the Windows Fonts folder: a CJK font
// (Debian's Droid Sans Fallback, installed by scripts/bootstrap) placed there under each name the
// program looks for gives every size a real glyph for Han, Hiragana and Katakana text.
#include <gtest/gtest.h>
#include <imgui.h>

#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/app/ui_driver.h"

namespace {

const wchar_t kCjkFont[] = L"Z:\\usr\\share\\fonts\\truetype\\droid\\DroidSansFallbackFull.ttf";

std::wstring FontsFolder() {
    wchar_t windows[260] = {};
    const UINT length = GetWindowsDirectoryW(windows, 260);
    return std::wstring(windows, length) + L"\\Fonts\\";
}

// A font file in the Fonts folder for the life of the object.
class PlacedFont {
public:
    explicit PlacedFont(const std::wstring& name) : path_(FontsFolder() + name) {
        CreateDirectoryW(FontsFolder().c_str(), nullptr);
        placed_ = CopyFileW(kCjkFont, path_.c_str(), FALSE) != 0;
    }
    ~PlacedFont() { DeleteFileW(path_.c_str()); }
    bool placed() const { return placed_; }

private:
    std::wstring path_;
    bool placed_ = false;
};

constexpr ImWchar kSun = 0x65E5;        // 日
constexpr ImWchar kHiraganaA = 0x3042;  // あ
constexpr ImWchar kKatakanaHo = 0x30DB; // ホ
constexpr ImWchar kCjk[] = {kSun, kHiraganaA, kKatakanaHo};

// How many of the four fonts, baked at their size in a frame, have a glyph of their own for each of
// kCjk (not the fallback character that would be drawn as "?").
std::vector<int> SizesWithGlyph() {
    bm::test::UiDriver ui;
    bm::ui::App app;
    app.LoadFonts();
    std::vector<int> found(std::size(kCjk), 0);
    ui.SetDraw([&] {
        for (ImFont* font : app.fonts) {
            if (font == nullptr) continue;
            ImGui::PushFont(font, font->LegacySize);
            for (size_t i = 0; i < std::size(kCjk); ++i)
                if (font->IsGlyphInFont(kCjk[i]) && ImGui::GetFontBaked()->FindGlyphNoFallback(kCjk[i]) != nullptr)
                    ++found[i];
            ImGui::PopFont();
        }
    });
    ui.Frame();
    return found;
}

TEST(FallbackFontsTest, WithoutSystemFontsCjkHasNoGlyph) {
    EXPECT_EQ(SizesWithGlyph(), std::vector<int>({0, 0, 0}));
}

TEST(FallbackFontsTest, EachKnownFileNameGivesEverySizeTheGlyphs) {
    ASSERT_NE(GetFileAttributesW(kCjkFont), INVALID_FILE_ATTRIBUTES) << "fonts-droid-fallback is not installed";
    for (const wchar_t* name : {L"YuGothM.ttc", L"meiryo.ttc", L"msgothic.ttc", L"msyh.ttc", L"simsun.ttc", L"malgun.ttf",
                                L"seguisym.ttf"}) {
        SCOPED_TRACE(bm::ToUtf8(name));
        PlacedFont font(name);
        ASSERT_TRUE(font.placed());
        EXPECT_EQ(SizesWithGlyph(), std::vector<int>({4, 4, 4}));
    }
}

TEST(FallbackFontsTest, ASecondFontOfAGroupIsNotMergedTwice) {
    PlacedFont first(L"meiryo.ttc");
    PlacedFont second(L"msgothic.ttc");
    PlacedFont korean(L"malgun.ttf");
    ASSERT_TRUE(first.placed() && second.placed() && korean.placed());
    bm::test::UiDriver ui;
    bm::ui::App app;
    app.LoadFonts();
    EXPECT_EQ(app.fallbackFontData.size(), 2u);  // one Japanese, one Korean
    ASSERT_NE(app.fonts[0], nullptr);
    EXPECT_EQ(app.fonts[0]->Sources.size(), 3);  // the main font and the two fallbacks
}

}  // namespace
