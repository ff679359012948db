// The UI framework's own pieces: markup of labels, stored styles, the style engine's missing-style
// path, docking, the list grid and picture fitting.
#include <windows.h>
#include <commctrl.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "tests/support/MessageAnswers.h"
#include "ui/Application.h"
#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/HtmlText.h"
#include "ui/Image.h"
#include "ui/ListGrid.h"
#include "ui/Panel.h"
#include "ui/Style.h"
#include "ui/StyleData.h"

namespace memoline::ui {
namespace {

TEST(HtmlText, RunsBoldAndBreaks) {
    struct Case {
        const wchar_t* markup;
        std::vector<THtmlRun> runs;
    } cases[] = {
        {L"plain", {{L"plain", false, false}}},
        {L"a <b>b</b> c", {{L"a ", false, false}, {L"b", true, false}, {L" c", false, false}}},
        {L"<B>X</B><BR>y", {{L"X", true, false}, {L"", false, true}, {L"y", false, false}}},
        {L"<b></b>", {}},
        {L"1<br/>2", {{L"1", false, false}, {L"", false, true}, {L"2", false, false}}},
        // Nothing else is markup: other tags and a lone "<" show as written.
        {L"<i>x</i> < 3", {{L"<i>x</i> < 3", false, false}}},
        {L"<b>open", {{L"open", true, false}}},
    };
    for (const Case& c : cases) {
        auto runs = ParseHtmlText(c.markup);
        ASSERT_EQ(runs.size(), c.runs.size()) << testing::PrintToString(std::wstring(c.markup));
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].Text, c.runs[i].Text);
            EXPECT_EQ(runs[i].Bold, c.runs[i].Bold);
            EXPECT_EQ(runs[i].LineBreak, c.runs[i].LineBreak);
        }
    }
}

std::string Compress(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    out.resize(size);
    return out;
}

TEST(StyleData, DecodesCompressedText) {
    auto style = DecodeStyle(Compress("; comment\nName=Flat UI Light\nWindow=#FF8000\n"));
    ASSERT_TRUE(style);
    EXPECT_EQ(style->Name, L"Flat UI Light");
    EXPECT_EQ(style->Colors.at("Window"), RGB(0xFF, 0x80, 0x00));
}

TEST(StyleData, RejectsDamagedOrIncomplete) {
    std::string good = Compress("Name=A\nWindow=#000000\n");
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x55;
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 5),  // cut short
        flipped,                          // corrupted (checksum or stream error)
        "not zlib at all",
        Compress("Window=#000000\n"),         // no name
        Compress("Name=A\nWindow=#00000\n"),  // short colour
        Compress("Name=A\nWindow=#00000G\n"),
        Compress("Name=A\nno equals sign\n"),
    };
    for (const std::string& data : cases)
        EXPECT_FALSE(DecodeStyle(data)) << testing::PrintToString(data);
}

TEST(StyleEngine, MissingStyleShowsErrorNamingItAndKeepsDefaultLook) {
    TStyleManager& engine = TStyleManager::Engine();
    engine.SetActiveStyle(std::nullopt);
    test::ScopedMessageAnswers answers;
    EXPECT_FALSE(engine.TrySetStyle(L"Flat UI Nowhere"));
    ASSERT_EQ(answers.Shown().size(), 1u);
    EXPECT_EQ(answers.Shown()[0].type, TMsgDlgType::Error);
    EXPECT_NE(answers.Shown()[0].text.find(L"Flat UI Nowhere"), std::wstring::npos);
    EXPECT_FALSE(engine.IsCustomStyleActive());
    EXPECT_EQ(engine.Color(TStyleColor::Window), GetSysColor(COLOR_WINDOW));
}

// The real box for a framework failure: a standard dialog whose one button reads "Close".
TEST(MessageBoxes, CloseBoxIsAStandardDialogWithACloseButton) {
    std::wstring caption, button;
    std::thread driver([&] {
        for (int i = 0; i < 200; ++i) {
            HWND box = FindWindowW(L"#32770", L"Error");
            wchar_t text[64] = {};
            // Pressed whatever it reads, so a wrong button fails the test instead of hanging it.
            if (box && IsWindowVisible(box) && GetDlgItemTextW(box, IDOK, text, 64)) {
                button = text;
                GetWindowTextW(box, text, 64);
                caption = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(50);
        }
    });
    EXPECT_EQ(MessageDlgClose(L"Style 'X' not found", TMsgDlgType::Error), IDCLOSE);
    driver.join();
    EXPECT_EQ(caption, L"Error");
    EXPECT_EQ(button, L"Close");
}

// A handler's exception stops where the window procedure returns to the system: it is shown in an
// error box and the program goes on (the 32-bit build cannot unwind through the system's frames).
TEST(MessageBoxes, AnExceptionOutOfAHandlerIsShownAtTheWindowsEdge) {
    test::ScopedMessageAnswers answers;
    TForm form(nullptr, L"ThrowingHandlerForm");
    form.SetClientSize(200, 100);
    auto* button = new TButton(&form, &form);
    button->SetBounds(10, 10, 80, 25);
    button->SetCaption(L"Throw");
    int clicks = 0;
    button->OnClick = [&](TObject*) {
        ++clicks;
        throw std::runtime_error("handler failed");
    };
    form.Show();
    Application().ProcessMessages();
    SendMessageW(button->Handle(), BM_CLICK, 0, 0);
    SendMessageW(button->Handle(), BM_CLICK, 0, 0);  // and the window still works afterwards
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(answers.Shown()[0].text, L"handler failed");
    EXPECT_EQ(answers.Shown()[0].type, TMsgDlgType::Error);
}

// What a timer saw of the box while it was up.
struct BoxProbe {
    HWND onTop = nullptr;
    bool seen = false;
    HWND okButton = nullptr;
    HWND underButton = nullptr;  // the window under the middle of the OK button
    BOOL onTopEnabled = TRUE;
};
BoxProbe g_boxProbe;

void CALLBACK ProbeTheBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", L"Information");
    if (g_boxProbe.seen || !box || !IsWindowVisible(box))
        return;
    g_boxProbe.seen = true;
    g_boxProbe.okButton = GetDlgItem(box, IDOK);
    RECT r;
    GetWindowRect(g_boxProbe.okButton, &r);
    g_boxProbe.underButton = WindowFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    g_boxProbe.onTopEnabled = IsWindowEnabled(g_boxProbe.onTop);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// A box raised while a stay-on-top window of the program is up (the download's progress window)
// opens above it, and that window takes no input until the box is gone.
TEST(MessageBoxes, ABoxIsAboveAndTheOtherWindowsAreDisabledWhileItIsUp) {
    TForm owner(nullptr, L"BoxOwnerForm");
    owner.SetClientSize(300, 200);
    owner.Show();
    // Covers the whole screen, so the box's button lies over it wherever the box opens.
    HWND onTop =
        CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"on top", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(onTop, nullptr);
    Application().ProcessMessages();
    g_boxProbe = BoxProbe{onTop};
    // Runs inside the box's own message loop.
    UINT_PTR timer = SetTimer(nullptr, 0, 50, ProbeTheBox);
    EXPECT_EQ(MessageDlg(L"Download of setup program cancelled.", TMsgDlgType::Information, owner.Handle()), IDOK);
    KillTimer(nullptr, timer);
    ASSERT_TRUE(g_boxProbe.seen);
    EXPECT_NE(g_boxProbe.okButton, nullptr);
    EXPECT_EQ(g_boxProbe.underButton, g_boxProbe.okButton) << "the box opened behind the stay-on-top window";
    EXPECT_FALSE(g_boxProbe.onTopEnabled);
    EXPECT_TRUE(IsWindowEnabled(onTop));  // enabled again once the box is gone
    DestroyWindow(onTop);
}

TEST(StyleEngine, AppliesTheStoredFlatUiLightStyle) {
    TStyleManager& engine = TStyleManager::Engine();
    test::ScopedMessageAnswers answers;
    ASSERT_TRUE(engine.TrySetStyle(L"Flat UI Light"));
    EXPECT_TRUE(answers.Shown().empty());
    EXPECT_EQ(engine.ActiveStyleName(), L"Flat UI Light");
    // A push button made under the style is painted by it.
    TForm form(nullptr, L"StyleTestForm");
    form.SetClientSize(200, 100);
    auto* button = new TButton(&form, &form);
    button->SetBounds(10, 10, 80, 30);
    EXPECT_EQ(GetWindowLongW(button->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_NE(button->StyleHook(), nullptr);
    engine.SetActiveStyle(std::nullopt);
}

TEST(Docking, OrderAndPadding) {
    TForm form(nullptr, L"DockTestForm");
    form.SetClientSize(400, 300);
    form.SetPadding(5, 6, 7, 8);
    auto make = [&](TAlign align, int w, int h) {
        auto* p = new TPanel(&form, &form);
        p->SetBounds(0, 0, w, h);
        p->SetAlign(align);
        return p;
    };
    // Created out of docking order: the order of kinds decides, not creation.
    TPanel* client = make(TAlign::Client, 0, 0);
    TPanel* left = make(TAlign::Left, 50, 0);
    TPanel* bottom1 = make(TAlign::Bottom, 0, 20);
    TPanel* bottom2 = make(TAlign::Bottom, 0, 30);
    TPanel* top = make(TAlign::Top, 0, 40);
    TPanel* right = make(TAlign::Right, 60, 0);
    struct Case {
        TPanel* p;
        int l, t, w, h;
    } cases[] = {
        {top, 5, 6, 388, 40},   {bottom1, 5, 272, 388, 20}, {bottom2, 5, 242, 388, 30},
        {left, 5, 46, 50, 196}, {right, 333, 46, 60, 196},  {client, 55, 46, 278, 196},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.p->Left(), c.l);
        EXPECT_EQ(c.p->Top(), c.t);
        EXPECT_EQ(c.p->Width(), c.w);
        EXPECT_EQ(c.p->Height(), c.h);
    }
}

// Each window the framework made names its control, system controls included, until the window
// goes: then the number names nothing, as it may soon be another window's.
TEST(Controls, AWindowNamesItsControlUntilItGoes) {
    TForm form(nullptr, L"LinkTestForm");
    form.SetClientSize(200, 100);
    auto* button = new TButton(&form, &form);
    button->SetBounds(10, 10, 80, 30);
    const HWND formWindow = form.Handle(), buttonWindow = button->Handle();
    EXPECT_EQ(TControl::FromHandle(formWindow), &form);
    EXPECT_EQ(TControl::FromHandle(buttonWindow), button);
    EXPECT_EQ(TControl::FromHandle(GetDesktopWindow()), nullptr);
    DestroyWindow(formWindow);  // the windows go before their controls
    EXPECT_FALSE(button->HandleAllocated());
    EXPECT_EQ(TControl::FromHandle(formWindow), nullptr);
    EXPECT_EQ(TControl::FromHandle(buttonWindow), nullptr);
}

// A form's caption is its title bar's text: changing it, through the form or by a window message,
// leaves the client area and its controls alone.
TEST(Form, ANewCaptionDoesNotPaintTheClientAreaAgain) {
    TForm form(nullptr, L"CaptionTestForm");
    form.SetClientSize(200, 100);
    form.Show();
    Application().ProcessMessages();
    UpdateWindow(form.Handle());
    RECT pending{};
    ASSERT_FALSE(GetUpdateRect(form.Handle(), &pending, FALSE));
    form.SetCaption(L"Downloading : 42% completed");
    EXPECT_FALSE(GetUpdateRect(form.Handle(), &pending, FALSE));
    SetWindowTextW(form.Handle(), L"Downloading : 43% completed");
    EXPECT_FALSE(GetUpdateRect(form.Handle(), &pending, FALSE));
    wchar_t text[64] = {};
    GetWindowTextW(form.Handle(), text, 64);
    EXPECT_STREQ(text, L"Downloading : 43% completed");
}

// A windowless container: its children's windows belong to the window that holds it, placed by
// its position; they move, hide and show with it; the holding window paints it and repaints its
// area when it changes.
class WindowlessTest : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr, L"WindowlessTestForm");
        form->SetClientSize(400, 300);
        panel = new TPanel(form.get(), form.get());
        panel->SetWindowless(true);
        panel->SetBounds(20, 30, 300, 200);
        box = new TGroupBox(form.get(), panel);
        box->SetWindowless(true);
        box->SetCaption(L"Box");
        box->SetBounds(10, 10, 200, 150);
        button = new TButton(form.get(), box);
        button->SetBounds(5, 40, 60, 25);
        form->Show();
        Application().ProcessMessages();
    }
    RECT WindowRectInForm(HWND hwnd) {
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(HWND_DESKTOP, form->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    std::unique_ptr<TForm> form;
    TPanel* panel;
    TGroupBox* box;
    TButton* button;
};

TEST_F(WindowlessTest, ChildWindowsSitInTheHoldingWindowAndMoveWithTheContainer) {
    EXPECT_FALSE(panel->HandleAllocated());
    EXPECT_EQ(panel->Handle(), form->Handle());
    EXPECT_EQ(GetParent(button->Handle()), form->Handle());
    RECT r = WindowRectInForm(button->Handle());
    EXPECT_EQ(r.left, 20 + 10 + 5);
    EXPECT_EQ(r.top, 30 + 10 + 40);
    EXPECT_EQ(r.right - r.left, 60);
    EXPECT_EQ(box->BoundsInWindow().left, 30);
    EXPECT_EQ(box->BoundsInWindow().top, 40);
    panel->SetBounds(50, 60, 300, 200);
    r = WindowRectInForm(button->Handle());
    EXPECT_EQ(r.left, 50 + 10 + 5);
    EXPECT_EQ(r.top, 60 + 10 + 40);
}

TEST_F(WindowlessTest, HidingTheContainerHidesItsChildWindows) {
    EXPECT_TRUE(IsWindowVisible(button->Handle()));
    panel->SetVisible(false);
    EXPECT_FALSE(IsWindowVisible(button->Handle()));
    panel->SetVisible(true);
    EXPECT_TRUE(IsWindowVisible(button->Handle()));
    // A child hidden on its own stays hidden when the container shows again.
    button->SetVisible(false);
    panel->SetVisible(false);
    panel->SetVisible(true);
    EXPECT_FALSE(IsWindowVisible(button->Handle()));
}

TEST_F(WindowlessTest, TheHoldingWindowPaintsTheFrameAndRepaintsAChangedCaption) {
    // The group box's etched frame is drawn into the form: its left edge, below the caption, is
    // not the background colour, while the middle of the box is.
    const int w = form->Width(), h = form->Height();
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(form->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    const RECT frame = box->BoundsInWindow();
    const COLORREF background = GetPixel(dc, frame.left + 100, frame.top + 100);
    EXPECT_NE(GetPixel(dc, frame.left, frame.top + 60), background);
    EXPECT_EQ(GetPixel(dc, frame.left + 100, frame.top + 120), background);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);

    UpdateWindow(form->Handle());
    RECT pending{};
    ASSERT_FALSE(GetUpdateRect(form->Handle(), &pending, FALSE));
    box->SetCaption(L"Another caption");
    ASSERT_TRUE(GetUpdateRect(form->Handle(), &pending, FALSE));
    EXPECT_EQ(pending.left, frame.left);
    EXPECT_EQ(pending.top, frame.top);
    EXPECT_EQ(pending.right, frame.right);
    EXPECT_EQ(pending.bottom, frame.bottom);
}

class ListGridTest : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr, L"GridTestForm");
        form->SetClientSize(500, 300);
        grid = new TListGrid(form.get(), form.get());
        grid->SetAlign(TAlign::Client);
        grid->SetEmptyCaption(L"Nothing here yet.");
        grid->AddColumn(L"A", TAlignment::Left, 120);
        grid->AddColumn(L"B", TAlignment::Center);
        grid->AddColumn(L"Hidden", TAlignment::Center, 80, false);
        grid->OnSelect = [this](TObject* sender) {
            EXPECT_EQ(sender, grid);
            selected.push_back(grid->SelectedRow());
        };
        form->Show();
        Application().ProcessMessages();
    }
    std::wstring ListText(int row, int column) {
        wchar_t buffer[256] = {};
        ListView_GetItemText(grid->Handle(), row, column, buffer, 256);
        return buffer;
    }
    std::unique_ptr<TForm> form;
    TListGrid* grid = nullptr;
    std::vector<int> selected;
};

TEST_F(ListGridTest, RowsCellsAndClearing) {
    EXPECT_EQ(grid->AddRow({L"1", L"2", L"3"}), 0);
    EXPECT_EQ(grid->AddRow({L"x"}), 1);  // missing cells are empty
    EXPECT_EQ(grid->AddRow({L"p", L"q", L"r", L"dropped"}), 2);
    EXPECT_EQ(grid->RowCount(), 3);
    EXPECT_EQ(ListView_GetItemCount(grid->Handle()), 3);
    EXPECT_EQ(grid->Cell(0, 2), L"3");
    EXPECT_EQ(ListText(0, 2), L"3");  // the hidden column holds its text too
    EXPECT_EQ(grid->Cell(1, 1), L"");
    EXPECT_EQ(grid->Cell(5, 0), L"");
    EXPECT_EQ(grid->Cell(0, 9), L"");
    grid->SetCell(1, 1, L"set");
    EXPECT_EQ(grid->Cell(1, 1), L"set");
    EXPECT_EQ(ListText(1, 1), L"set");
    grid->SetCell(7, 0, L"ignored");
    grid->ClearRows();
    EXPECT_EQ(grid->RowCount(), 0);
    EXPECT_EQ(ListView_GetItemCount(grid->Handle()), 0);
    EXPECT_EQ(grid->SelectedRow(), -1);
}

TEST_F(ListGridTest, SelectingARowRaisesSelect) {
    grid->AddRow({L"1"});
    grid->AddRow({L"2"});
    EXPECT_EQ(grid->SelectedRow(), -1);
    grid->SetSelectedRow(1);
    EXPECT_EQ(grid->SelectedRow(), 1);
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0], 1);
    // A click on a row, as the operator selects it.
    RECT item{};
    ListView_GetItemRect(grid->Handle(), 0, &item, LVIR_BOUNDS);
    LPARAM at = MAKELPARAM(item.left + 10, (item.top + item.bottom) / 2);
    SendMessageW(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(grid->Handle(), WM_LBUTTONUP, 0, at);
    Application().ProcessMessages();
    EXPECT_EQ(grid->SelectedRow(), 0);
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[1], 0);
    // The list view's search for typed letters finds rows by the start of their first cell.
    grid->AddRow({L"Pear"});
    LVFINDINFOW find{};
    find.flags = LVFI_PARTIAL | LVFI_STRING;
    find.psz = L"pe";
    EXPECT_EQ(ListView_FindItem(grid->Handle(), -1, &find), 2);
    find.flags = LVFI_STRING;
    EXPECT_EQ(ListView_FindItem(grid->Handle(), -1, &find), -1);
    find.psz = L"2";
    EXPECT_EQ(ListView_FindItem(grid->Handle(), -1, &find), 1);
}

TEST_F(ListGridTest, RowAndHeaderHeightsAndHiddenColumn) {
    grid->AddRow({L"1"});
    RECT item{};
    ASSERT_TRUE(ListView_GetItemRect(grid->Handle(), 0, &item, LVIR_BOUNDS));
    EXPECT_EQ(item.bottom - item.top, TListGrid::kRowHeight);
    RECT header{};
    GetWindowRect(ListView_GetHeader(grid->Handle()), &header);
    EXPECT_EQ(header.bottom - header.top, TListGrid::kHeaderHeight);
    EXPECT_EQ(ListView_GetColumnWidth(grid->Handle(), 2), 0);
    grid->SetColumnVisible(2, true);
    EXPECT_EQ(ListView_GetColumnWidth(grid->Handle(), 2), 80);
}

TEST_F(ListGridTest, ThousandsOfRowsInOneBulkUpdate) {
    constexpr int kRows = 5000;
    grid->AddRow({L"earlier"});
    {
        TListGridUpdate update(*grid);
        grid->ClearRows();
        for (int r = 0; r < kRows; ++r) {
            const std::wstring n = std::to_wstring(r);
            grid->AddRow({L"name " + n, L"5.9." + n, L"link " + n});
        }
    }
    EXPECT_TRUE(IsWindowVisible(grid->Handle()));
    EXPECT_EQ(grid->RowCount(), kRows);
    EXPECT_EQ(ListView_GetItemCount(grid->Handle()), kRows);
    EXPECT_EQ(ListText(0, 0), L"name 0");
    EXPECT_EQ(ListText(0, 2), L"link 0");
    EXPECT_EQ(ListText(kRows - 1, 0), L"name 4999");
    EXPECT_EQ(ListText(kRows - 1, 1), L"5.9.4999");
    EXPECT_EQ(ListText(kRows - 1, 2), L"link 4999");  // the hidden column
    // The scroll bar was worked out again once painting was back on: it spans every row.
    SCROLLINFO scroll{};
    scroll.cbSize = sizeof scroll;
    scroll.fMask = SIF_RANGE;
    ASSERT_TRUE(GetScrollInfo(grid->Handle(), SB_VERT, &scroll));
    EXPECT_GE(scroll.nMax - scroll.nMin + 1, kRows);
    EXPECT_EQ(grid->SelectedRow(), -1);
    EXPECT_TRUE(selected.empty());
    grid->SetSelectedRow(kRows - 1);
    EXPECT_EQ(grid->SelectedRow(), kRows - 1);
    EXPECT_EQ(selected, std::vector<int>{kRows - 1});
    EXPECT_GT(ListView_GetTopIndex(grid->Handle()), kRows - 100);  // scrolled to the selected row
}

// Counts the pixels of one colour in the grid's own painting.
int CountGridPixels(HWND hwnd, COLORREF color) {
    RECT r;
    GetClientRect(hwnd, &r);
    HDC screen = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    BitBlt(mem, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
    int n = 0;
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x)
            n += GetPixel(mem, x, y) == color;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd, screen);
    return n;
}

TEST_F(ListGridTest, EmptyCaptionShowsOnlyWithoutRows) {
    COLORREF captionColor = TStyleManager::Engine().Color(TStyleColor::GridEmptyText);
    int empty = CountGridPixels(grid->Handle(), captionColor);
    EXPECT_GT(empty, 20);
    grid->AddRow({L"1"});
    Application().ProcessMessages();
    EXPECT_LT(CountGridPixels(grid->Handle(), captionColor), empty / 4);
    grid->ClearRows();
    Application().ProcessMessages();
    EXPECT_GT(CountGridPixels(grid->Handle(), captionColor), empty / 2);
    // A bulk update that lists rows, and one that ends with none: painted once at the end either way.
    {
        TListGridUpdate update(*grid);
        grid->AddRow({L"1"});
    }
    Application().ProcessMessages();
    EXPECT_LT(CountGridPixels(grid->Handle(), captionColor), empty / 4);
    {
        TListGridUpdate update(*grid);
        grid->ClearRows();
    }
    Application().ProcessMessages();
    EXPECT_GT(CountGridPixels(grid->Handle(), captionColor), empty / 2);
}

TEST(Picture, FitsProportionallyCentred) {
    struct Case {
        int w, h;
        RECT box, expected;
    } cases[] = {
        {346, 446, {0, 0, 225, 254}, {14, 0, 211, 254}},  // the main window's picture
        {200, 100, {0, 0, 100, 100}, {0, 25, 100, 75}},
        {100, 100, {10, 10, 30, 30}, {10, 10, 30, 30}},
        {0, 100, {0, 0, 50, 50}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        RECT r = FitProportionally(c.w, c.h, c.box);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
}

// A 2 x 1 PNG: one opaque red pixel, one opaque blue pixel.
const unsigned char kTwoPixelPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x7b, 0x40, 0xe8, 0xdd, 0x00, 0x00, 0x00,
    0x0d, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0x00, 0x04, 0xff, 0x01, 0x07, 0x00, 0x01, 0xff,
    0x3d, 0x7d, 0x8c, 0x49, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

TEST(Picture, DecodesAndScalesPng) {
    std::string png(reinterpret_cast<const char*>(kTwoPixelPng), sizeof kTwoPixelPng);
    TBitmapPixels pixels = DecodeImage(png);
    ASSERT_EQ(pixels.Width, 2);
    ASSERT_EQ(pixels.Height, 1);
    EXPECT_EQ(pixels.Pixels[0], 0xFFFF0000u);  // BGRA in memory: red
    EXPECT_EQ(pixels.Pixels[1], 0xFF0000FFu);  // blue
    TBitmapPixels scaled = DecodeImage(png, 4, 2);
    EXPECT_EQ(scaled.Width, 4);
    EXPECT_EQ(scaled.Pixels.size(), 8u);
    EXPECT_TRUE(DecodeImage("not a picture").Pixels.empty());
}

}  // namespace
}  // namespace memoline::ui
