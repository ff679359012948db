// The framework's pieces for dialogs: a modal form and how it ends, the close query, labels that size
// themselves to their text, password edits and progress bars.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/Form.h"
#include "ui/Label.h"
#include "ui/ProgressBar.h"

namespace memoline::ui {
namespace {

// A dialog-like form over an owner window, with an OK button.
class TTestDialog : public TForm {
public:
    explicit TTestDialog(HWND owner) : TForm(nullptr, L"MemolineTestDialog"), owner_(owner) {
        SetClientSize(200, 100);
        ok = new TButton(this, this);
        ok->SetBounds(10, 10, 75, 25);
        ok->SetCaption(L"OK");
        ok->OnClick = [this](TObject*) { SetModalResult(IDOK); };
    }
    TButton* ok;

protected:
    CreateParams GetCreateParams() override {
        CreateParams params{L"MemolineTestDialog", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, true};
        params.Owner = owner_;
        return params;
    }

private:
    HWND owner_;
};

// Runs once from inside the modal loop.
std::function<void()>* g_inLoop = nullptr;
void CALLBACK RunInLoop(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    (*g_inLoop)();
}

TEST(ModalForm, EndsWithItsResultAndGivesTheOwnerBack) {
    struct Case {
        const char* name;
        bool refuseFirstClose;
        std::function<void(TTestDialog&)> end;
        int result;
    } cases[] = {
        {"OK pressed", false, [](TTestDialog& d) { SendMessageW(d.ok->Handle(), BM_CLICK, 0, 0); }, IDOK},
        {"closed", false, [](TTestDialog& d) { d.Close(); }, IDCANCEL},
        {"close refused, then OK", true,
         [](TTestDialog& d) {
             d.Close();
             EXPECT_EQ(d.ModalResult(), 0) << "the close query was not asked";
             SendMessageW(d.ok->Handle(), BM_CLICK, 0, 0);
         },
         IDOK},
        {"quit request", false, [](TTestDialog&) { PostQuitMessage(7); }, IDCANCEL},
    };
    TForm owner(nullptr, L"MemolineTestOwner");
    owner.SetClientSize(300, 200);
    owner.Show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDialog dialog(owner.Handle());
        int queries = 0;
        dialog.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = !(c.refuseFirstClose && queries++ == 0); };
        bool ownerDisabled = false;
        HWND window = nullptr;
        std::function<void()> inLoop = [&] {
            window = dialog.Handle();
            ownerDisabled = !IsWindowEnabled(owner.Handle());
            c.end(dialog);
        };
        g_inLoop = &inLoop;
        SetTimer(nullptr, 0, 10, RunInLoop);
        EXPECT_EQ(dialog.ShowModal(), c.result);
        EXPECT_TRUE(ownerDisabled);
        EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
        EXPECT_FALSE(IsWindow(window)) << "the window outlived ShowModal";
        MSG msg;
        const bool quitPosted = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        EXPECT_EQ(quitPosted, c.name == std::string("quit request")) << "the quit request must go on";
    }
    g_inLoop = nullptr;
}

TEST(Label, AutoSizeTakesTheWidthOfItsTextAndGivesItsParentsBackground) {
    TForm form(nullptr, L"MemolineTestLabels");
    form.SetClientSize(300, 100);
    auto* fixed = new TLabel(&form, &form);
    fixed->SetBounds(10, 10, 200, 13);
    fixed->SetCaption(L"fixed");
    auto* sized = new TLabel(&form, &form);
    sized->SetBounds(10, 30, 0, 13);
    sized->SetAutoSize(true);
    sized->SetCaption(L"short");
    form.Show();
    auto textWidth = [&](const std::wstring& text) {
        HDC dc = GetDC(sized->Handle());
        HGDIOBJ old = SelectObject(dc, sized->Font().Handle());
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(sized->Handle(), dc);
        return static_cast<int>(size.cx);
    };
    auto windowWidth = [](TControl* c) {
        RECT r;
        GetWindowRect(c->Handle(), &r);
        return static_cast<int>(r.right - r.left);
    };
    EXPECT_EQ(windowWidth(sized), textWidth(L"short"));
    sized->SetCaption(L"a much longer line of text");
    EXPECT_EQ(windowWidth(sized), textWidth(L"a much longer line of text"));
    EXPECT_GT(windowWidth(sized), textWidth(L"short"));
    fixed->SetCaption(L"a much longer line of text");
    EXPECT_EQ(windowWidth(fixed), 200);

    HDC dc = GetDC(sized->Handle());
    auto brush = SendMessageW(form.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(sized->Handle()));
    EXPECT_NE(brush, 0);
    EXPECT_EQ(GetBkColor(dc), form.BackgroundColor());
    ReleaseDC(sized->Handle(), dc);
}

TEST(Edit, PasswordCharAndTypedText) {
    TForm form(nullptr, L"MemolineTestEdits");
    form.SetClientSize(300, 100);
    auto* plain = new TEdit(&form, &form);
    plain->SetBounds(10, 10, 150, 21);
    auto* secret = new TEdit(&form, &form);
    secret->SetBounds(10, 40, 150, 21);
    secret->SetPasswordChar(L'*');
    form.Show();
    EXPECT_EQ(SendMessageW(secret->Handle(), EM_GETPASSWORDCHAR, 0, 0), L'*');
    EXPECT_EQ(SendMessageW(plain->Handle(), EM_GETPASSWORDCHAR, 0, 0), 0);
    SetWindowTextW(secret->Handle(), L"pa ss");
    EXPECT_EQ(secret->Text(), L"pa ss");
    EXPECT_EQ(plain->Text(), L"");
}

TEST(ProgressBar, PositionWithinItsRangeAndMarquee) {
    TForm form(nullptr, L"MemolineTestBars");
    form.SetClientSize(300, 100);
    auto* bar = new TProgressBar(&form, &form);
    bar->SetBounds(10, 10, 270, 12);
    bar->SetPosition(30);  // before the window exists
    form.Show();
    EXPECT_EQ(SendMessageW(bar->Handle(), PBM_GETPOS, 0, 0), 30);
    bar->SetPosition(150);
    EXPECT_EQ(bar->Position(), 100);
    bar->SetMarquee(true);
    EXPECT_TRUE(GetWindowLongPtrW(bar->Handle(), GWL_STYLE) & PBS_MARQUEE);
    bar->SetMarquee(false);
    EXPECT_FALSE(GetWindowLongPtrW(bar->Handle(), GWL_STYLE) & PBS_MARQUEE);
}

}  // namespace
}  // namespace memoline::ui
