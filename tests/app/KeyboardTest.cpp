// The keyboard in the main window and the login dialog, as a dialog has it: where the focus is at the
// start and after the window was left, what Enter and Esc press, and the grid's focus cue. Each test
// runs under the program's style (its buttons are owner-drawn) and under the default look.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "catalogue/CatalogueConfig.h"
#include "catalogue/UpdateRequestHelper.h"
#include "core/Handles.h"
#include "download/DownloadLoginForm.h"
#include "tests/support/CannedHttpServer.h"
#include "tests/support/DuringWait.h"
#include "tests/support/MessageAnswers.h"
#include "tests/support/TestFiles.h"
#include "ui/Application.h"
#include "ui/Style.h"

namespace memoline {
namespace {

void Pump() {
    ui::Application().ProcessMessages();
}

// A key as the keyboard sends it: posted to the window with the focus, then handled.
void PressKey(WPARAM key) {
    HWND focus = GetFocus();
    ASSERT_TRUE(focus) << "nothing has the focus";
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    Pump();
}

LONG ButtonType(HWND button) {
    return GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK;
}

class Keyboard : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (Styled()) {
            ASSERT_TRUE(ui::TStyleManager::Engine().TrySetStyle(L"Flat UI Light"));
        }
        form = std::make_unique<TfrmMain>();
        form->Show();
        Pump();
        // The focus belongs to the active window; a window of another program would take both away.
        ASSERT_EQ(GetActiveWindow(), form->Handle()) << "the main window is not active";
    }
    void TearDown() override {
        form.reset();
        ui::TStyleManager::Engine().SetActiveStyle(std::nullopt);
        CatalogueAddress = kCatalogueUrl;
    }
    bool Styled() const { return GetParam(); }
    // Each button records that it was pressed instead of doing its work.
    void RecordPresses() {
        for (ui::TButton* b : {form->btnCheck, form->btnInstall, form->btnExit})
            b->OnClick = [this, b](TObject*) { pressed.push_back(b); };
    }
    // A listed update makes Install usable, as a selected row does.
    void SelectARow() {
        form->grdUpdates->AddRow({L"Memoline Server 5.9.1", L"5.9.1", L"2026-01-15", L"http://127.0.0.1/s.exe"});
        form->grdUpdates->SetSelectedRow(0);
        ASSERT_TRUE(IsWindowEnabled(form->btnInstall->Handle()));
    }

    test::ProductInstallation product;
    std::unique_ptr<TfrmMain> form;
    std::vector<ui::TButton*> pressed;
};

INSTANTIATE_TEST_SUITE_P(Looks, Keyboard, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? "Styled" : "DefaultLook";
});

TEST_P(Keyboard, CheckHasTheFocusAtTheStartAndSpacePressesIt) {
    EXPECT_EQ(GetFocus(), form->btnCheck->Handle());
    RecordPresses();
    PressKey(VK_SPACE);
    EXPECT_EQ(pressed, std::vector<ui::TButton*>{form->btnCheck});
}

// Tab goes Check, Install, Exit as before; Enter presses the button that has the focus, which stays a
// button of the style's painting; on the grid Enter presses nothing: the main window has no default.
TEST_P(Keyboard, EnterPressesTheFocusedButton) {
    SelectARow();
    RecordPresses();
    form->btnCheck->Focus();
    ui::TButton* const order[] = {form->btnCheck, form->btnInstall, form->btnExit};
    for (size_t i = 0; i < 3; ++i) {
        ui::TButton* b = order[i];
        SCOPED_TRACE(b->Caption());
        if (i > 0)
            PressKey(VK_TAB);
        ASSERT_EQ(GetFocus(), b->Handle()) << "Tab order";
        pressed.clear();
        PressKey(VK_RETURN);
        EXPECT_EQ(pressed, std::vector<ui::TButton*>{b});
        if (Styled()) {
            EXPECT_EQ(ButtonType(b->Handle()), BS_OWNERDRAW);
        }
    }
    form->grdUpdates->Focus();
    pressed.clear();
    PressKey(VK_RETURN);
    EXPECT_TRUE(pressed.empty());
}

// The control that had the focus has it again when the window comes back: after another window was
// active, after a message box and after the login dialog.
TEST_P(Keyboard, TheFocusComesBackWhenTheWindowIsActiveAgain) {
    const unique_hwnd other(CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 200, 100,
                                            nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(other);
    struct Case {
        const char* what;
        std::function<void()> leave;  // returns once the window is active again
    } cases[] = {
        {"another window",
         [&] {
             SetActiveWindow(other.get());
             Pump();
             EXPECT_NE(GetActiveWindow(), form->Handle());
             SetActiveWindow(form->Handle());
             Pump();
         }},
        {"a message box",
         [&] {
             // Closed from a timer inside the box's own loop, as soon as it is there.
             test::DuringWait close({[] {
                                        HWND box =
                                            FindWindowW(L"#32770", ui::MessageDlgCaption(ui::TMsgDlgType::Error));
                                        if (box)
                                            PostMessageW(box, WM_COMMAND, IDOK, 0);
                                    }},
                                    true);
             EXPECT_EQ(ui::MessageDlg(L"A box", ui::TMsgDlgType::Error, form->Handle()), IDOK);
             Pump();
         }},
        {"the login dialog",
         [&] {
             TDownloadLoginForm login(L"Connect");
             test::DuringWait close({[] {
                                        HWND dialog = FindWindowW(TDownloadLoginForm::kClassName, nullptr);
                                        if (dialog && IsWindowVisible(dialog))
                                            PostMessageW(dialog, WM_CLOSE, 0, 0);
                                    }},
                                    true);
             EXPECT_EQ(login.ShowModal(), IDCANCEL);
             Pump();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form->btnExit->Focus();
        c.leave();
        EXPECT_EQ(GetActiveWindow(), form->Handle());
        EXPECT_EQ(GetFocus(), form->btnExit->Handle());
    }
}

// A check started from the keyboard gives the focus back to Check once it has ended and its message
// has been answered (Check is grey meanwhile and cannot hold it).
TEST_P(Keyboard, AfterACheckTheFocusIsOnCheckAgain) {
    product.InstallServer(L"5.9.0");
    test::CannedReply reply;
    reply.head = test::ResponseWithLength("HTTP/1.1 200 OK", {}, "N;5.9.1;D;L;E\r\n");
    test::CannedHttpServer server(std::vector<std::vector<test::CannedReply>>{{reply}});
    CatalogueAddress = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/catalogue";
    test::ScratchDir dir(L"keyboard-log");
    form->Log.SetPath(dir / L"ServerUpdates.log");
    test::ScopedMessageAnswers answers;
    ASSERT_EQ(GetFocus(), form->btnCheck->Handle());
    PressKey(VK_RETURN);
    ASSERT_EQ(answers.Shown().size(), 1u) << "Enter did not run the check";
    EXPECT_EQ(form->grdUpdates->RowCount(), 1);
    EXPECT_EQ(GetFocus(), form->btnCheck->Handle());
}

// The grid drawn as it is on the screen, into a bitmap of its client area's size.
std::vector<uint32_t> Render(HWND grid) {
    RECT r;
    GetClientRect(grid, &r);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const unique_memory_dc dc(CreateCompatibleDC(nullptr));
    const unique_hbitmap bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    SendMessageW(grid, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                                 static_cast<const uint32_t*>(bits) + size_t(r.right) * r.bottom);
    SelectObject(dc.get(), old);
    return pixels;
}

// With the focus the grid shows a cue along the edge of its rows' area, with rows and without; the rest
// of it looks the same.
TEST_P(Keyboard, TheGridShowsThatItHasTheFocus) {
    HWND grid = form->grdUpdates->Handle();
    for (bool rows : {false, true}) {
        SCOPED_TRACE(rows ? "with rows" : "empty");
        if (rows)
            form->grdUpdates->AddRow({L"Memoline Server 5.9.1", L"5.9.1", L"2026-01-15", L"http://127.0.0.1/s.exe"});
        form->btnExit->Focus();
        const std::vector<uint32_t> without = Render(grid);
        form->grdUpdates->Focus();
        ASSERT_EQ(GetFocus(), grid);
        const std::vector<uint32_t> with = Render(grid);
        ASSERT_EQ(with.size(), without.size());
        RECT client;
        GetClientRect(grid, &client);
        const int header = form->grdUpdates->Scale(ui::TListGrid::kHeaderHeight);
        size_t onEdge = 0, inside = 0;
        for (int y = header; y < client.bottom; ++y) {
            for (int x = 0; x < client.right; ++x) {
                const size_t i = size_t(y) * client.right + x;
                if (with[i] == without[i])
                    continue;
                const bool edge = x < 3 || x >= client.right - 3 || y < header + 3 || y >= client.bottom - 3;
                ++(edge ? onEdge : inside);
            }
        }
        // A dotted line all round: at least a third of the frame's pixels.
        const size_t frame = 2 * (client.right + client.bottom - header);
        EXPECT_GT(onEdge, frame / 3);
        EXPECT_EQ(inside, 0u);
    }
}

// The button's face as the style paints it, one pixel inside its outline, half-way down.
COLORREF InsideTheOutline(HWND button) {
    ui::TControl* control = ui::TControl::FromHandle(button);
    RECT r;
    GetClientRect(button, &r);
    const unique_memory_dc dc(CreateCompatibleDC(nullptr));
    const unique_hbitmap bitmap(CreateBitmap(r.right, r.bottom, 1, 32, nullptr));
    HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    control->StyleHook()->Paint(dc.get());
    const COLORREF color = GetPixel(dc.get(), 1, r.bottom / 2);
    SelectObject(dc.get(), old);
    return color;
}

// Under the style the button Enter would press has a double outline: OK while the focus is in an
// edit, the button with the focus otherwise.
TEST(KeyboardUnderTheStyle, TheLoginDialogShowsWhichButtonEnterPresses) {
    ASSERT_TRUE(ui::TStyleManager::Engine().TrySetStyle(L"Flat UI Light"));
    TDownloadLoginForm login(L"Connect");
    const COLORREF outline = ui::TStyleManager::Engine().Color(ui::TStyleColor::ButtonBorder);
    struct Seen {
        COLORREF ok = 0, cancel = 0;
    } inEdit, onCancel;
    test::DuringWait steps(
        {[&] {
            HWND dialog = login.Handle();
            inEdit = {InsideTheOutline(GetDlgItem(dialog, IDOK)), InsideTheOutline(GetDlgItem(dialog, IDCANCEL))};
            SetFocus(GetDlgItem(dialog, IDCANCEL));
            onCancel = {InsideTheOutline(GetDlgItem(dialog, IDOK)), InsideTheOutline(GetDlgItem(dialog, IDCANCEL))};
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        }},
        true);
    EXPECT_EQ(login.ShowModal(), IDCANCEL);
    EXPECT_EQ(inEdit.ok, outline);
    EXPECT_NE(inEdit.cancel, outline);
    EXPECT_NE(onCancel.ok, outline);
    EXPECT_EQ(onCancel.cancel, outline);
    ui::TStyleManager::Engine().SetActiveStyle(std::nullopt);
}

// The login dialog: the user name has the focus at first; Enter presses the focused button, else OK
// (the default one); Esc cancels.
TEST_P(Keyboard, LoginDialogKeys) {
    struct Case {
        const char* what;
        int focus;  // control id, 0: leave it where the dialog put it
        WPARAM key;
        int result;
    } cases[] = {
        {"Enter in the user name", 0, VK_RETURN, IDOK},
        {"Enter in the password", TDownloadLoginForm::kPasswordId, VK_RETURN, IDOK},
        {"Enter on OK", IDOK, VK_RETURN, IDOK},
        {"Enter on Cancel", IDCANCEL, VK_RETURN, IDCANCEL},
        {"Esc in the password", TDownloadLoginForm::kPasswordId, VK_ESCAPE, IDCANCEL},
        {"Esc on OK", IDOK, VK_ESCAPE, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDownloadLoginForm login(L"Connect");
        HWND dialog = nullptr;
        int firstFocus = -1, ticks = 0;
        bool timedOut = false;
        // Inside the dialog's own loop: type, place the focus, press the key. Should the key not close
        // the dialog, it is closed after a few seconds and the case fails.
        test::DuringWait keys({[&] {
                                   dialog = login.Handle();
                                   firstFocus = GetDlgCtrlID(GetFocus());
                                   SetDlgItemTextW(dialog, TDownloadLoginForm::kUserNameId, L"user");
                                   SetDlgItemTextW(dialog, TDownloadLoginForm::kPasswordId, L"pass");
                                   if (c.focus)
                                       SetFocus(GetDlgItem(dialog, c.focus));
                                   HWND focus = GetFocus();
                                   PostMessageW(focus, WM_KEYDOWN, c.key, 1);
                                   PostMessageW(focus, WM_KEYUP, c.key, 0xC0000001);
                               },
                               [&] {
                                   if (++ticks == 50 && IsWindow(dialog)) {
                                       timedOut = true;
                                       PostMessageW(dialog, WM_CLOSE, 0, 0);
                                   }
                               }},
                              true);
        const int result = login.ShowModal();
        EXPECT_FALSE(timedOut) << "the key did not close the dialog";
        EXPECT_EQ(firstFocus, TDownloadLoginForm::kUserNameId);
        EXPECT_EQ(result, c.result);
        if (result == IDOK) {
            EXPECT_EQ(login.UserName(), L"user");
            EXPECT_EQ(login.Password(), L"pass");
        }
        Pump();
    }
}

}  // namespace
}  // namespace memoline
