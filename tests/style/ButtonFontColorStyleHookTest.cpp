// The caption colour hook: registered for glyph buttons, and the caption colour it paints in each
// state, read from the painted pixels.
#include "style/ButtonFontColorStyleHook.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <typeindex>

#include "ui/Application.h"
#include "ui/Form.h"

namespace memoline::style {
namespace {

constexpr COLORREF kFontColor = RGB(0, 128, 0);
constexpr TButtonColorData kMapColors{RGB(255, 0, 0), RGB(0, 0, 255), RGB(255, 0, 255), RGB(0, 255, 255)};

// A button painted into memory; counts the pixels of one exact colour.
class Surface {
public:
    Surface(int width, int height) : width_(width), height_(height) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Surface() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    int Count(COLORREF color) const {
        GdiFlush();
        uint32_t want = GetRValue(color) << 16 | GetGValue(color) << 8 | GetBValue(color);
        int n = 0;
        for (int i = 0; i < width_ * height_; ++i)
            n += (bits_[i] & 0xFFFFFF) == want;
        return n;
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    uint32_t* bits_ = nullptr;
};

class ButtonFontColorHookTest : public testing::Test {
protected:
    void SetUp() override {
        ui::TStyleManager::Engine().SetActiveStyle(ui::TStyleData{L"Test Style", {}});
        form = std::make_unique<ui::TForm>(nullptr, L"HookTestForm");
        form->SetClientSize(300, 120);
        button = new ui::TGlyphButton(form.get(), form.get());
        button->SetBounds(20, 20, 200, 60);
        button->SetCaption(L"WWW MMM");
        // Big, without smoothing: caption pixels come out in exactly the chosen colour.
        ui::TFont font(L"Arial", 36, true);
        font.SetColor(kFontColor);
        font.SetQuality(NONANTIALIASED_QUALITY);
        button->SetFont(font);
        form->Show();
        ui::Application().ProcessMessages();
        hook = dynamic_cast<TButtonStyleHookFontColor*>(button->StyleHook());
        ASSERT_NE(hook, nullptr);
        ButtonColorMap->clear();
    }
    void TearDown() override {
        ClipCursor(nullptr);
        ReleaseCapture();
        ButtonColorMap->clear();
        form.reset();
        ui::TStyleManager::Engine().SetActiveStyle(std::nullopt);
    }
    void MoveCursor(bool inside) {
        RECT r;
        GetWindowRect(button->Handle(), &r);
        POINT p = inside ? POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2} : POINT{r.right + 30, r.bottom + 30};
        // In a Wine desktop the X server's answers to earlier moves can still arrive and put the
        // pointer back for a moment: pin it to the point until the next move (TearDown frees it).
        const RECT pin{p.x, p.y, p.x + 1, p.y + 1};
        ClipCursor(&pin);
        SetCursorPos(p.x, p.y);
        POINT now{};
        for (int i = 0, held = 0; i < 200 && held < 5; ++i) {
            ui::Application().ProcessMessages();
            Sleep(10);
            GetCursorPos(&now);
            held = (now.x == p.x && now.y == p.y) ? held + 1 : 0;
        }
        ASSERT_EQ(now.x, p.x);
        ASSERT_EQ(now.y, p.y);
    }
    // The colour found most among the given ones in a fresh paint, or CLR_INVALID if none shows.
    COLORREF PaintedCaption(std::initializer_list<COLORREF> candidates) {
        Surface surface(button->Width(), button->Height());
        hook->Paint(surface.dc());
        COLORREF best = CLR_INVALID;
        int bestCount = 20;  // a caption of this size has far more pixels than that
        for (COLORREF c : candidates) {
            int n = surface.Count(c);
            if (n > bestCount) {
                best = c;
                bestCount = n;
            }
        }
        return best;
    }

    std::unique_ptr<ui::TForm> form;
    ui::TGlyphButton* button = nullptr;
    TButtonStyleHookFontColor* hook = nullptr;
};

TEST(ButtonFontColorModule, RegisteredForGlyphButtonsAtStart) {
    EXPECT_TRUE(
        ui::TStyleManager::Engine().IsHookRegistered(typeid(ui::TGlyphButton), typeid(TButtonStyleHookFontColor)));
    EXPECT_FALSE(ui::TStyleManager::Engine().IsHookRegistered(typeid(ui::TButton), typeid(TButtonStyleHookFontColor)));
    ASSERT_NE(ButtonColorMap, nullptr);
}

TEST(ButtonFontColorModule, ChooseCaptionColorOrder) {
    TButtonColorData c{1, 2, 3, 4};
    struct Case {
        bool enabled, pressed, hot;
        COLORREF expected;
    } cases[] = {{false, true, true, 4},
                 {true, true, true, 3},
                 {true, true, false, 3},
                 {true, false, true, 2},
                 {true, false, false, 1}};
    for (const Case& k : cases)
        EXPECT_EQ(ChooseCaptionColor(c, k.enabled, k.pressed, k.hot), k.expected) << k.enabled << k.pressed << k.hot;
}

enum class Capture { None, Button, Other };

TEST_F(ButtonFontColorHookTest, CaptionColourPerState) {
    struct Case {
        bool enabled;
        bool cursorInside;
        Capture capture;
        bool mapped;
        COLORREF expected;
        const char* name;
    } cases[] = {
        {true, false, Capture::None, false, kFontColor, "normal, no entry"},
        {true, true, Capture::None, false, kFontColor, "hot, no entry"},
        {true, true, Capture::Button, false, kFontColor, "pressed, no entry"},
        {false, true, Capture::None, false, GetSysColor(COLOR_GRAYTEXT), "disabled, no entry"},
        {true, false, Capture::None, true, kMapColors.Normal, "normal"},
        {true, true, Capture::None, true, kMapColors.Hot, "hot"},
        {true, true, Capture::Button, true, kMapColors.Pressed, "pressed"},
        {true, false, Capture::Button, true, kMapColors.Pressed, "pressed, mouse moved off"},
        {true, true, Capture::Other, true, kMapColors.Normal, "hovered while another window has the capture"},
        {false, true, Capture::Button, true, kMapColors.Disabled, "disabled with an entry"},
        {false, false, Capture::None, true, kMapColors.Disabled, "disabled, mouse away"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ButtonColorMap->clear();
        if (c.mapped)
            (*ButtonColorMap)[button] = kMapColors;
        button->SetEnabled(c.enabled);
        MoveCursor(c.cursorInside);
        ReleaseCapture();
        if (c.capture == Capture::Button)
            SetCapture(button->Handle());
        if (c.capture == Capture::Other)
            SetCapture(form->Handle());
        COLORREF painted = PaintedCaption({kFontColor, GetSysColor(COLOR_GRAYTEXT), kMapColors.Normal, kMapColors.Hot,
                                           kMapColors.Pressed, kMapColors.Disabled});
        EXPECT_EQ(painted, c.expected);
        ReleaseCapture();
    }
}

TEST_F(ButtonFontColorHookTest, HotStateChangeInvalidatesOnce) {
    // The hot state is switched by the capture, with the cursor resting on the button: moving the
    // cursor pumps messages, and a real WM_PAINT taken there would see the change before the hook's
    // Paint below does (the x86_64 lane under Wine does so every time).
    HWND hwnd = button->Handle();
    SetCapture(form->Handle());
    MoveCursor(true);
    Surface surface(button->Width(), button->Height());
    hook->Paint(surface.dc());
    ValidateRect(hwnd, nullptr);

    ReleaseCapture();
    hook->Paint(surface.dc());
    EXPECT_TRUE(GetUpdateRect(hwnd, nullptr, FALSE)) << "becoming hot repaints";
    ValidateRect(hwnd, nullptr);
    hook->Paint(surface.dc());
    EXPECT_FALSE(GetUpdateRect(hwnd, nullptr, FALSE)) << "still hot: no second repaint";

    SetCapture(form->Handle());
    hook->Paint(surface.dc());
    EXPECT_TRUE(GetUpdateRect(hwnd, nullptr, FALSE)) << "leaving the hot state repaints";
    ValidateRect(hwnd, nullptr);
    hook->Paint(surface.dc());
    EXPECT_FALSE(GetUpdateRect(hwnd, nullptr, FALSE));
    ReleaseCapture();
}

TEST_F(ButtonFontColorHookTest, EmptyCaptionDrawsNoText) {
    (*ButtonColorMap)[button] = kMapColors;
    button->SetCaption(L"");
    MoveCursor(false);
    Surface surface(button->Width(), button->Height());
    hook->Paint(surface.dc());
    EXPECT_EQ(surface.Count(kMapColors.Normal), 0);
}

TEST_F(ButtonFontColorHookTest, PlainButtonsGetTheStandardHook) {
    auto* plain = new ui::TButton(form.get(), form.get());
    plain->SetBounds(230, 20, 60, 30);
    plain->Handle();
    ASSERT_NE(plain->StyleHook(), nullptr);
    EXPECT_EQ(dynamic_cast<TButtonStyleHookFontColor*>(plain->StyleHook()), nullptr);
}

}  // namespace
}  // namespace memoline::style
