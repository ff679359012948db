// The main window as the operator sees it: layout, texts, states, and its window as another
// process finds it.
#include "app/MainForm.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "tests/support/TestFiles.h"
#include "ui/Application.h"

namespace memoline {
namespace {

std::wstring WindowText(HWND hwnd) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// The window's rectangle in the client coordinates of `reference`.
RECT RectIn(HWND hwnd, HWND reference) {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, reference, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The control's rectangle in the form's client coordinates: its window's, or for a container the
// form draws without a window of its own, its bounds there.
RECT RectInForm(ui::TControl* control, HWND form) {
    return control->Windowless() ? control->BoundsInWindow() : RectIn(control->Handle(), form);
}

// `r`, in the form's client coordinates, relative to the top left corner of `container`.
RECT RelativeTo(RECT r, ui::TControl* container, HWND form) {
    const RECT c = RectInForm(container, form);
    OffsetRect(&r, -c.left, -c.top);
    return r;
}

void ExpectRect(const RECT& r, int left, int top, int width, int height, const char* what) {
    EXPECT_EQ(r.left, left) << what;
    EXPECT_EQ(r.top, top) << what;
    EXPECT_EQ(r.right - r.left, width) << what;
    EXPECT_EQ(r.bottom - r.top, height) << what;
}

void Pump() {
    ui::Application().ProcessMessages();
}

class MainFormTest : public testing::Test {
protected:
    void Show() {
        form = std::make_unique<TfrmMain>();
        form->Show();
        Pump();
    }
    void TearDown() override { form.reset(); }
    test::ProductInstallation product;  // no product unless a test installs one
    std::unique_ptr<TfrmMain> form;
};

TEST_F(MainFormTest, WindowFrameSizeAndCaption) {
    Show();
    HWND hwnd = form->Handle();
    EXPECT_EQ(ClassName(hwnd), L"TfrmMain");
    EXPECT_EQ(WindowText(hwnd), L"Memoline Server Updates");
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1011);
    EXPECT_EQ(client.bottom, 738);
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    // Centred on the screen.
    RECT window;
    GetWindowRect(hwnd, &window);
    EXPECT_NEAR((window.left + window.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

// The title bar and the taskbar show the program's icon in both sizes, each from its own image in
// the resource; the windows inside the form have no icon of their own.
TEST_F(MainFormTest, ProgramIconInBothSizesOnTheFormOnly) {
    Show();
    const struct {
        int classIndex, cx, cy;
    } sizes[] = {{GCLP_HICON, SM_CXICON, SM_CYICON}, {GCLP_HICONSM, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& size : sizes) {
        const auto icon = reinterpret_cast<HICON>(GetClassLongPtrW(form->Handle(), size.classIndex));
        ASSERT_NE(icon, nullptr) << size.classIndex;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(size.cx)) << size.classIndex;
        EXPECT_EQ(bitmap.bmHeight, GetSystemMetrics(size.cy)) << size.classIndex;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    for (ui::TControl* child :
         {static_cast<ui::TControl*>(form->VersionNumberPanel), static_cast<ui::TControl*>(form->lblCurrentVersion)}) {
        EXPECT_EQ(GetClassLongPtrW(child->Handle(), GCLP_HICON), 0) << ClassName(child->Handle());
        EXPECT_EQ(GetClassLongPtrW(child->Handle(), GCLP_HICONSM), 0) << ClassName(child->Handle());
    }
}

TEST_F(MainFormTest, CannotBeMaximisedOrResizedButMinimisesAndRestores) {
    Show();
    HWND hwnd = form->Handle();
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    Pump();
    EXPECT_FALSE(IsZoomed(hwnd));
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1011);
    EXPECT_EQ(client.bottom, 738);
    // The border is not a sizing border.
    RECT window;
    GetWindowRect(hwnd, &window);
    LRESULT hit = SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(window.right - 1, (window.top + window.bottom) / 2));
    EXPECT_NE(hit, HTRIGHT);
    EXPECT_NE(hit, HTBOTTOMRIGHT);
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump();
    EXPECT_TRUE(IsIconic(hwnd));
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    Pump();
    EXPECT_FALSE(IsIconic(hwnd));
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1011);
    EXPECT_EQ(client.bottom, 738);
}

TEST_F(MainFormTest, RegionsAndSections) {
    Show();
    HWND hwnd = form->Handle();
    struct Case {
        ui::TControl* control;
        int left, top, width, height;
        const char* name;
    } cases[] = {
        {form->LeftPanel, 0, 0, 225, 665, "LeftPanel"},
        {form->img1, 0, 0, 225, 254, "img1"},
        {form->VersionNumberPanel, 0, 665, 1011, 34, "VersionNumberPanel"},
        {form->CopyrightPanel, 0, 699, 1011, 39, "CopyrightPanel"},
        {form->ButtonPanel, 888, 0, 123, 665, "ButtonPanel"},
        {form->MainPanel, 225, 0, 663, 665, "MainPanel"},
        {form->IntroductionPanel, 225, 0, 663, 177, "IntroductionPanel"},
        {form->grpIntroduction, 235, 10, 643, 162, "grpIntroduction"},
        {form->CurrentVersionPanel, 225, 177, 663, 78, "CurrentVersionPanel"},
        {form->grp3, 235, 182, 643, 68, "grp3"},
        {form->lblCurrentVersion, 235 + 11, 182 + 32, 614, 25, "lblCurrentVersion"},
        {form->GridPanel, 225, 255, 663, 410, "GridPanel"},
        {form->grp2, 235, 260, 643, 395, "grp2"},
    };
    for (const Case& c : cases)
        ExpectRect(RectInForm(c.control, hwnd), c.left, c.top, c.width, c.height, c.name);
    // The containers that only place their children and paint are drawn by the form: the windows
    // of the controls inside them are the form's.
    for (ui::TControl* c : {static_cast<ui::TControl*>(form->LeftPanel), static_cast<ui::TControl*>(form->ButtonPanel),
                            static_cast<ui::TControl*>(form->MainPanel), static_cast<ui::TControl*>(form->grp2)})
        EXPECT_TRUE(c->Windowless());
    EXPECT_EQ(GetParent(form->grdUpdates->Handle()), hwnd);
    EXPECT_EQ(GetParent(form->btnCheck->Handle()), hwnd);
    // The grid fills the group box inside its frame and caption, with 10 pixels on every side.
    RECT grid = RelativeTo(RectIn(form->grdUpdates->Handle(), hwnd), form->grp2, hwnd);
    EXPECT_GE(grid.left, 10);
    EXPECT_LE(grid.left, 14);
    EXPECT_EQ(643 - grid.right, grid.left);
    EXPECT_EQ(395 - grid.bottom, grid.left);
    EXPECT_GT(grid.top, 20);
    EXPECT_LT(grid.top, 45);
    // The HTML label fills the welcome box the same way.
    RECT intro = RelativeTo(RectInForm(form->htm1, hwnd), form->grpIntroduction, hwnd);
    EXPECT_EQ(intro.left, grid.left);
    EXPECT_EQ(intro.top, grid.top);
    EXPECT_EQ(643 - intro.right, grid.left);
}

TEST_F(MainFormTest, ButtonsTheirPlacesCaptionsAndStates) {
    Show();
    struct Case {
        int id;
        int top;
        const wchar_t* caption;
        bool enabled;
    } cases[] = {{kIdCheck, 19, L"Check", true}, {kIdInstall, 57, L"Install", false}, {kIdExit, 95, L"Exit", true}};
    HWND previous = nullptr;
    for (const Case& c : cases) {
        HWND button = GetDlgItem(form->ButtonPanel->Handle(), c.id);
        ASSERT_TRUE(button) << c.id;
        EXPECT_EQ(ClassName(button), L"Button");
        EXPECT_EQ(WindowText(button), c.caption);
        EXPECT_EQ(IsWindowEnabled(button) != FALSE, c.enabled) << c.id;
        ExpectRect(RelativeTo(RectIn(button, form->Handle()), form->ButtonPanel, form->Handle()), 14, c.top, 96, 32,
                   "button");
        EXPECT_TRUE(GetWindowLongW(button, GWL_STYLE) & WS_TABSTOP);
        // Tab order follows Check, Install, Exit.
        if (previous)
            EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), button);
        previous = button;
    }
    EXPECT_EQ(form->btnCheck->Handle(), GetDlgItem(form->ButtonPanel->Handle(), kIdCheck));
}

TEST_F(MainFormTest, GridColumnsAndEmptyCaption) {
    Show();
    HWND list = form->grdUpdates->Handle();
    EXPECT_EQ(ClassName(list), L"SysListView32");
    struct Case {
        const wchar_t* header;
        int format;
        int width;
    } cases[] = {{L"Server Update", LVCFMT_LEFT, 250},
                 {L"Build", LVCFMT_CENTER, ui::TListGrid::kDefaultColumnWidth},
                 {L"Release Date", LVCFMT_CENTER, 150},
                 {L"Link", LVCFMT_CENTER, 0}};  // hidden
    for (int i = 0; i < 4; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        col.pszText = text;
        col.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(list, i, &col)) << i;
        EXPECT_EQ(std::wstring(text), cases[i].header);
        EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, cases[i].format) << i;
        EXPECT_EQ(col.cx, cases[i].width) << i;
    }
    EXPECT_EQ(form->colVersion, 0);
    EXPECT_EQ(form->colLink, 3);
    EXPECT_FALSE(form->grdUpdates->Column(form->colLink).Visible);
    EXPECT_EQ(form->grdUpdates->RowCount(), 0);
    EXPECT_EQ(form->grdUpdates->SelectedRow(), -1);
    EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"Click the Check button to check for updates.");
    LONG style = GetWindowLongW(list, GWL_STYLE);
    EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
    EXPECT_TRUE(style & LVS_NOSORTHEADER);
    EXPECT_FALSE(style & LVS_EDITLABELS);
}

TEST_F(MainFormTest, FormShowTextsWithoutInstallation) {
    Show();
    // The test program carries no version resource.
    EXPECT_EQ(WindowText(GetDlgItem(form->Handle(), kIdVersionNumberPanel)), L"Version 0.0.0");
    EXPECT_EQ(WindowText(form->lblCurrentVersion->Handle()), L"Memoline 5 is not installed on this computer.");
    EXPECT_EQ(WindowText(form->CopyrightPanel->Handle()).empty(), false);
}

// The start goes to the support log once the window is on screen, not while it is being shown.
TEST_F(MainFormTest, TheStartIsLoggedOnceTheWindowIsShown) {
    test::ScratchDir dir(L"start-log");
    const std::wstring path = dir / L"ServerUpdates.log";
    form = std::make_unique<TfrmMain>();
    form->Log.SetPath(path);
    form->Show();
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    Pump();
    const std::string text = test::ReadFileRaw(path);
    const std::string line = "  Memoline Server Updates 0.0.0 started; installed version: none\r\n";
    ASSERT_GE(text.size(), line.size());
    EXPECT_EQ(text.substr(text.size() - line.size()), line);
    EXPECT_EQ(text.find("\r\n"), text.size() - 2) << "one line";
}

TEST_F(MainFormTest, FormShowTextsWithInstallation) {
    struct Case {
        const wchar_t* server;
        const wchar_t* client;
        const wchar_t* shown;
    } cases[] = {{L"5.9.2.7", nullptr, L"5.9.2"}, {nullptr, L"5.7.3", L"5.7.3"}, {L"", nullptr, L"0.0.0"}};
    for (const Case& c : cases) {
        test::ProductInstallation installation;
        if (c.server)
            installation.InstallServer(c.server);
        if (c.client)
            installation.InstallClient(c.client);
        Show();
        EXPECT_EQ(form->lblCurrentVersion->Caption(),
                  std::wstring(L"You currently have Version <b>") + c.shown + L"</b> installed.");
        form.reset();
    }
}

TEST_F(MainFormTest, ExitClosesTheWindow) {
    Show();
    HWND hwnd = form->Handle();
    SendMessageW(form->btnExit->Handle(), BM_CLICK, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(form->HandleAllocated());
}

// The metrics of a font as drawn on the screen, and the face the system reports for it.
struct DrawnFont {
    std::wstring face;
    TEXTMETRICW tm{};
};

DrawnFont Measure(HFONT font) {
    DrawnFont drawn;
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    GetTextMetricsW(dc, &drawn.tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    drawn.face = face;
    return drawn;
}

// The family our test prefixes draw for "Segoe UI" (Linux has no Segoe UI): set by ./dev, from a font
// package ./dev installs, so every machine draws the same.
std::wstring SegoeUiSubstitute() {
    wchar_t value[LF_FACESIZE] = {};
    DWORD size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", L"Segoe UI",
                 RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

TEST_F(MainFormTest, WindowFontIsSegoeUi15) {
    Show();
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(form->btnCheck->Handle(), WM_GETFONT, 0, 0));
    ASSERT_TRUE(font);
    ASSERT_TRUE(GetObjectW(font, sizeof lf, &lf));
    // What the program asks for.
    EXPECT_EQ(std::wstring(lf.lfFaceName), L"Segoe UI");
    EXPECT_EQ(lf.lfHeight, -15);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_EQ(lf.lfCharSet, ANSI_CHARSET);

    // What the prefix is set up to give: the substitute family, drawn with that family's metrics.
    const std::wstring substitute = SegoeUiSubstitute();
    ASSERT_EQ(substitute, L"Liberation Sans") << "the test prefix maps \"Segoe UI\" to Liberation Sans";
    LOGFONTW direct = lf;
    wcscpy(direct.lfFaceName, substitute.c_str());
    HFONT substituteFont = CreateFontIndirectW(&direct);
    ASSERT_TRUE(substituteFont);
    const DrawnFont asked = Measure(font);
    const DrawnFont given = Measure(substituteFont);
    DeleteObject(substituteFont);
    EXPECT_EQ(given.face, substitute) << "the substitute family is installed";
    EXPECT_EQ(asked.tm.tmHeight, given.tm.tmHeight);
    EXPECT_EQ(asked.tm.tmAveCharWidth, given.tm.tmAveCharWidth);
    EXPECT_EQ(asked.tm.tmHeight - asked.tm.tmInternalLeading, 15);
}

// Keeps the version panel, the current-version label and the Exit button in the HWND[3] at data.
BOOL CALLBACK KeepLabelsAndExit(HWND child, LPARAM data) {
    auto* f = reinterpret_cast<HWND*>(data);
    int id = GetDlgCtrlID(child);
    if (id == kIdVersionNumberPanel)
        f[0] = child;
    if (id == kIdCurrentVersion)
        f[1] = child;
    if (id == kIdExit)
        f[2] = child;
    return TRUE;
}

// Every control of the form by its ID, in the form's client coordinates: windows where they are, the
// containers the form draws where it draws them.
void CollectControlRects(ui::TControl* parent, HWND form, std::map<int, RECT>& rects) {
    for (ui::TControl* c : parent->Controls()) {
        if (int id = c->ControlId(); id >= kIdLeftPanel && id <= kIdStatus)
            rects[id] = RectInForm(c, form);
        CollectControlRects(c, form, rects);
    }
}

std::map<int, RECT> ControlRects(TfrmMain& form) {
    std::map<int, RECT> rects;
    CollectControlRects(&form, form.Handle(), rects);
    return rects;
}

int HeaderHeight(HWND list) {
    RECT r;
    GetWindowRect(ListView_GetHeader(list), &r);
    return r.bottom - r.top;
}

// At 144 and 192 DPI every rectangle is the 96-DPI one scaled, within a pixel of rounding; the fonts,
// the grid's columns, rows and header follow; back at 96 DPI the layout is exactly the original.
TEST_F(MainFormTest, TheLayoutScalesWithTheDpi) {
    Show();
    HWND hwnd = form->Handle();
    HWND list = form->grdUpdates->Handle();
    form->grdUpdates->AddRow({L"Server Update 5.10.0", L"5.10.0", L"2026-11-28", L"http://h/s.exe"});
    const std::map<int, RECT> at96 = ControlRects(*form);
    ASSERT_EQ(at96.size(), 19u);
    RECT row96{};
    ListView_GetItemRect(list, 0, &row96, LVIR_BOUNDS);
    for (int dpi : {144, 192, 96}) {
        SCOPED_TRACE("dpi " + std::to_string(dpi));
        // Placed off the desktop: at 192 DPI the window is larger than the test desktop and would lie
        // over the windows of the test programs running beside this one.
        RECT suggested{-8000, -8000, -7900, -7900};
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Pump();
        auto scale = [dpi](LONG v) { return MulDiv(v, dpi, 96); };
        RECT client;
        GetClientRect(hwnd, &client);
        EXPECT_EQ(client.right, scale(1011));
        EXPECT_EQ(client.bottom, scale(738));
        for (const auto& [id, r] : ControlRects(*form)) {
            const RECT& o = at96.at(id);
            const int tolerance = dpi == 96 ? 0 : 1;
            EXPECT_NEAR(r.left, scale(o.left), tolerance) << "control " << id;
            EXPECT_NEAR(r.top, scale(o.top), tolerance) << "control " << id;
            EXPECT_NEAR(r.right, scale(o.right), tolerance) << "control " << id;
            EXPECT_NEAR(r.bottom, scale(o.bottom), tolerance) << "control " << id;
        }
        // The window font: 9-point Segoe UI stays 9-point, so 15 pixels at 96 DPI become 15 * dpi / 96.
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form->btnCheck->Handle(), WM_GETFONT, 0, 0)), sizeof lf, &lf);
        EXPECT_EQ(lf.lfHeight, -scale(15));
        HDC dc = GetDC(hwnd);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        ReleaseDC(hwnd, dc);
        EXPECT_NEAR(tm.tmHeight - tm.tmInternalLeading, scale(15), 1);  // the face's own rounding
        // The grid: column widths, header and row heights.
        EXPECT_EQ(ListView_GetColumnWidth(list, 0), scale(250));
        EXPECT_EQ(ListView_GetColumnWidth(list, 2), scale(150));
        EXPECT_EQ(ListView_GetColumnWidth(list, 3), 0);
        EXPECT_EQ(HeaderHeight(list), scale(30));
        RECT row{};
        ListView_GetItemRect(list, 0, &row, LVIR_BOUNDS);
        EXPECT_EQ(row.bottom - row.top, scale(row96.bottom - row96.top));
    }
}

// A work area lower than the window (1366 x 768 less the taskbar, on a monitor right of the primary
// one): the window lies inside it, the list of updates gives up the height and every other control
// keeps its size and stays whole in the client area, the regions under the list moving up with it. In
// a work area too low even for that, the list keeps its minimum and the title bar stays inside; in a
// roomy one the layout is whole again.
TEST_F(MainFormTest, ALowWorkAreaTakesHeightFromTheListOnly) {
    Show();
    HWND hwnd = form->Handle();
    const std::map<int, RECT> whole = ControlRects(*form);
    const RECT low{1366, 0, 1366 + 1366, 728};
    form->PlaceInWorkArea(low);
    Pump();
    RECT window, client;
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    EXPECT_GE(window.left, low.left);
    EXPECT_GE(window.top, low.top);
    EXPECT_LE(window.right, low.right);
    EXPECT_LE(window.bottom, low.bottom);
    EXPECT_GE(window.bottom, low.bottom - 1) << "the window takes the whole height it can";
    const int lost = 738 - client.bottom;
    ASSERT_GT(lost, 0);
    EXPECT_EQ(client.right, 1011);
    // What each control gives up: the columns and the list's region their height, the regions below
    // them their place.
    std::map<int, std::pair<int, int>> change;  // id: (top, height)
    for (int id : {kIdLeftPanel, kIdButtonPanel, kIdMainPanel, kIdGridPanel, kIdGridGroup, kIdUpdates})
        change[id] = {0, -lost};
    for (int id : {kIdVersionNumberPanel, kIdCopyrightPanel})
        change[id] = {-lost, 0};
    for (const auto& [id, r] : ControlRects(*form)) {
        const RECT& o = whole.at(id);
        const auto [top, height] = change.count(id) ? change[id] : std::pair<int, int>{0, 0};
        EXPECT_EQ(r.left, o.left) << "control " << id;
        EXPECT_EQ(r.top, o.top + top) << "control " << id;
        EXPECT_EQ(r.right, o.right) << "control " << id;
        EXPECT_EQ(r.bottom - r.top, o.bottom - o.top + height) << "control " << id;
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
            << "control " << id << " lies outside the client area";
    }

    const RECT tiny{0, 0, 1366, 400};
    form->PlaceInWorkArea(tiny);
    Pump();
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(window.left, (1366 - (window.right - window.left)) / 2);
    EXPECT_EQ(window.top, 0);
    const RECT gridRegion = ControlRects(*form).at(kIdGridPanel);
    EXPECT_EQ(gridRegion.bottom - gridRegion.top, TfrmMain::kMinGridRegionHeight);
    EXPECT_EQ(client.bottom,
              738 - (whole.at(kIdGridPanel).bottom - whole.at(kIdGridPanel).top) + TfrmMain::kMinGridRegionHeight);

    form->PlaceInWorkArea(RECT{0, 0, 1280, 1024});
    Pump();
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.bottom, 738);
    for (const auto& [id, r] : ControlRects(*form))
        EXPECT_TRUE(EqualRect(&r, &whole.at(id))) << "control " << id;
}

// The real updater, found and driven from this process as an end-to-end driver would.
TEST(MainFormProcess, RealUpdaterShowsItsVersionAndExitEndsIt) {
    test::ProductInstallation product;
    product.InstallServer(L"5.9.0");
    std::wstring exe = test::BinDir() + L"MemolineServerUpdates.exe";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    ASSERT_TRUE(
        CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HWND window = nullptr;
    // Found once shown: the texts are set while it is being shown.
    for (int i = 0; i < 200 && !(window && IsWindowVisible(window)); ++i) {
        window = FindWindowW(L"TfrmMain", L"Memoline Server Updates");
        Sleep(50);
    }
    ASSERT_TRUE(window);
    HWND found[3] = {};
    EnumChildWindows(window, KeepLabelsAndExit, reinterpret_cast<LPARAM>(found));
    ASSERT_TRUE(found[0] && found[1] && found[2]);
    EXPECT_EQ(WindowText(found[0]), L"Version 1.0.0");
    EXPECT_EQ(WindowText(found[1]), L"You currently have Version <b>5.9.0</b> installed.");
    // The style was found among the updater's resources: its buttons are painted by the style.
    EXPECT_EQ(GetWindowLongW(found[2], GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    PostMessageW(found[2], BM_CLICK, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

struct Process {
    PROCESS_INFORMATION pi{};
    explicit Process(const std::wstring& exe) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring commandLine = L"\"" + exe + L"\"";
        EXPECT_TRUE(
            CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    }
    ~Process() {
        if (pi.hProcess && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
};

BOOL CALLBACK CountUpdaterWindow(HWND w, LPARAM data) {
    if (ClassName(w) == L"TfrmMain" && IsWindowVisible(w))
        ++*reinterpret_cast<int*>(data);
    return TRUE;
}

int CountUpdaterWindows() {
    int count = 0;
    EnumWindows(CountUpdaterWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// A second start in the same session shows nothing of its own: the running window comes back to the
// front (restored from the taskbar) and the second process ends.
TEST(MainFormProcess, ASecondStartBringsTheFirstWindowForwardAndEnds) {
    test::ProductInstallation product;
    product.InstallServer(L"5.9.0");
    const std::wstring exe = test::BinDir() + L"MemolineServerUpdates.exe";
    Process first(exe);
    HWND window = nullptr;
    for (int i = 0; i < 200 && !(window && IsWindowVisible(window)); ++i) {
        window = FindWindowW(L"TfrmMain", L"Memoline Server Updates");
        Sleep(50);
    }
    ASSERT_TRUE(window);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    Process second(exe);
    ASSERT_EQ(WaitForSingleObject(second.pi.hProcess, 15000), WAIT_OBJECT_0) << "the second updater stayed";
    DWORD code = 1;
    GetExitCodeProcess(second.pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    for (int i = 0; i < 100 && IsIconic(window); ++i)
        Sleep(50);
    EXPECT_FALSE(IsIconic(window)) << "the first window was not brought back";
    EXPECT_EQ(CountUpdaterWindows(), 1);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(first.pi.hProcess, 10000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace memoline
