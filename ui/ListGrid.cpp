#include "ui/ListGrid.h"

#include <algorithm>
#include <cwchar>

#include "core/Handles.h"
#include "ui/Accessible.h"
#include "ui/Style.h"

namespace memoline::ui {
namespace {

constexpr UINT_PTR kGridSubclassId = 0x4752;    // the grid's own subclass of its list view
constexpr UINT_PTR kHeaderSubclassId = 0x4844;  // the subclass of the list view's header

int ColumnFormat(TAlignment alignment) {
    switch (alignment) {
        case TAlignment::Center:
            return LVCFMT_CENTER;
        case TAlignment::Right:
            return LVCFMT_RIGHT;
        case TAlignment::Left:
            break;
    }
    return LVCFMT_LEFT;
}

// Gives the header its fixed height: the list view asks the header for its layout and places the
// rows below what the header reports.
LRESULT CALLBACK HeaderSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    if (msg == HDM_LAYOUT) {
        LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        auto* layout = reinterpret_cast<HDLAYOUT*>(lp);
        const int height = reinterpret_cast<const TListGrid*>(data)->Scale(TListGrid::kHeaderHeight);
        layout->pwpos->cy = height;
        layout->prc->top = layout->pwpos->y + height;
        return r;
    }
    if (msg == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, HeaderSubclassProc, kHeaderSubclassId);
    return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace

LRESULT CALLBACK GridSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* grid = reinterpret_cast<TListGrid*>(data);
    switch (msg) {
        case WM_PAINT:
            if (grid->rows_.empty()) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd, &ps);
                grid->PaintEmpty(dc);
                EndPaint(hwnd, &ps);
                return 0;
            }
            break;
        case WM_PRINTCLIENT:
            if (grid->rows_.empty()) {
                grid->PaintEmpty(reinterpret_cast<HDC>(wp));
                return 0;
            }
            break;
        case WM_GETOBJECT:
            if (LRESULT answer = grid->AnswerGetObject(wp, lp))
                return answer;
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS: {
            // The list view repaints only its focused row, which it may not have: the cue is the frame.
            LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
            InvalidateRect(hwnd, nullptr, FALSE);
            return r;
        }
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lp);
            if (header->code == NM_CUSTOMDRAW && TStyleManager::Engine().IsCustomStyleActive())
                return grid->DrawHeaderItem(reinterpret_cast<NMCUSTOMDRAW*>(lp));
            // Hidden columns keep width 0: their dividers cannot be dragged or double-clicked open.
            if (header->code == HDN_BEGINTRACKW || header->code == HDN_BEGINTRACKA ||
                header->code == HDN_DIVIDERDBLCLICKW || header->code == HDN_DIVIDERDBLCLICKA) {
                int item = reinterpret_cast<NMHEADERW*>(lp)->iItem;
                if (item >= 0 && item < grid->ColumnCount() && !grid->columns_[item].Visible)
                    return TRUE;
            }
            break;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, GridSubclassProc, kGridSubclassId);
            break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

TListGrid::TListGrid(TComponent* owner, TControl* parent) : TControl(owner, parent) {}

TListGrid::~TListGrid() {
    if (HandleAllocated() && IsWindow(handle_))
        DestroyWindow(handle_);
    if (rowHeightImages_)
        ImageList_Destroy(rowHeightImages_);
}

TControl::CreateParams TListGrid::GetCreateParams() {
    // LVS_SHOWSELALWAYS: the selection stays visible while another control has the focus;
    // LVS_NOSORTHEADER: headers are not buttons; no LVS_EDITLABELS: the cells are read-only;
    // LVS_SHAREIMAGELISTS: the row-height image list is ours to free;
    // LVS_OWNERDATA: the list view holds only the number of rows and asks for the texts it draws or
    // is asked for. A list view that holds its items takes several messages per row, each of which
    // costs a round trip to the Wine server, so listing thousands of rows took seconds.
    return CreateParams{WC_LISTVIEWW,
                        LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                            LVS_SHAREIMAGELISTS | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL,
                        WS_EX_CLIENTEDGE, false};
}

void TListGrid::HandleCreated() {
    HWND list = handle_;
    // Each step of setting up a shown list view (the row height, every column, the row count) lays the
    // header and the rows out again: once, at the end, is enough.
    const bool shown = (GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown)
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    SetRowHeight();
    TStyleManager& engine = TStyleManager::Engine();
    ListView_SetBkColor(list, engine.Color(TStyleColor::GridBack));
    ListView_SetTextBkColor(list, engine.Color(TStyleColor::GridBack));
    ListView_SetTextColor(list, engine.Color(TStyleColor::GridText));
    SetWindowSubclass(list, GridSubclassProc, kGridSubclassId, reinterpret_cast<DWORD_PTR>(this));
    HWND header = ListView_GetHeader(list);
    headerFont_ = Font();
    headerFont_.SetBold(true);
    if (header) {
        SetWindowSubclass(header, HeaderSubclassProc, kHeaderSubclassId, reinterpret_cast<DWORD_PTR>(this));
        SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(headerFont_.Handle()), TRUE);
    }
    for (int i = 0; i < ColumnCount(); ++i)
        InsertColumnWindow(i);
    SyncRowCount();
    if (shown)
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    // Let the list view lay out the header again with its fixed height.
    SetWindowPos(list, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    if (updateDepth_ > 0)
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);  // made during a bulk update: quiet until its end
}

void TListGrid::DpiChanged() {
    if (!HandleAllocated())
        return;
    headerFont_ = Font();
    headerFont_.SetBold(true);
    if (HWND header = ListView_GetHeader(handle_))
        SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(headerFont_.Handle()), TRUE);
    for (int i = 0; i < ColumnCount(); ++i)
        ListView_SetColumnWidth(handle_, i, columns_[i].Visible ? Scale(columns_[i].Width) : 0);
    SetRowHeight();
    SyncRowCount();  // the measurement above leaves the list view without rows
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void TListGrid::SetRowHeight() {
    // A list view makes its rows as high as its small images (a 1-pixel-wide list sets the height),
    // plus whatever padding the platform's list view adds: measure one row and correct for it.
    HWND list = handle_;
    const int rowHeight = Scale(kRowHeight);
    int imageHeight = rowHeight;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HIMAGELIST images = ImageList_Create(1, imageHeight, ILC_COLOR32, 1, 0);
        ListView_SetImageList(list, images, LVSIL_SMALL);
        if (rowHeightImages_)
            ImageList_Destroy(rowHeightImages_);
        rowHeightImages_ = images;
        // One row for the measurement; the rows themselves are counted in afterwards.
        ListView_SetItemCountEx(list, 1, LVSICF_NOSCROLL);
        RECT r{};
        bool measured = ListView_GetItemRect(list, 0, &r, LVIR_BOUNDS);
        ListView_SetItemCountEx(list, 0, LVSICF_NOSCROLL);
        int padding = measured ? (r.bottom - r.top) - imageHeight : 0;
        if (padding == 0 || imageHeight - padding <= 0)
            return;
        imageHeight = rowHeight - padding;
    }
}

int TListGrid::AddColumn(const std::wstring& header, TAlignment alignment, int width, bool visible) {
    columns_.push_back(TListColumn{header, alignment, width, visible});
    for (auto& row : rows_)
        row.resize(columns_.size());
    int index = ColumnCount() - 1;
    if (HandleAllocated())
        InsertColumnWindow(index);
    return index;
}

void TListGrid::InsertColumnWindow(int index) {
    const TListColumn& c = columns_[index];
    LVCOLUMNW col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = ColumnFormat(c.Alignment);
    col.cx = c.Visible ? Scale(c.Width) : 0;
    col.pszText = const_cast<wchar_t*>(c.Header.c_str());
    col.iSubItem = index;
    ListView_InsertColumn(handle_, index, &col);
    if (index == 0 && c.Alignment != TAlignment::Left) {
        // The first column is always inserted left-aligned; alignment is accepted once it exists.
        ListView_SetColumn(handle_, 0, &col);
    }
}

void TListGrid::SetColumnVisible(int index, bool visible) {
    columns_.at(index).Visible = visible;
    if (HandleAllocated())
        ListView_SetColumnWidth(handle_, index, visible ? Scale(columns_[index].Width) : 0);
}

void TListGrid::SetColumnWidth(int index, int width) {
    columns_.at(index).Width = width;
    if (HandleAllocated() && columns_[index].Visible)
        ListView_SetColumnWidth(handle_, index, Scale(width));
}

int TListGrid::AddRow(const std::vector<std::wstring>& cells) {
    return AddRow(std::vector<std::wstring>(cells));
}

int TListGrid::AddRow(std::vector<std::wstring>&& cells) {
    std::vector<std::wstring> row(std::move(cells));
    row.resize(columns_.size());
    rows_.push_back(std::move(row));
    int index = RowCount() - 1;
    // In a bulk update the list view learns the number of rows once, at its end.
    if (HandleAllocated() && updateDepth_ == 0) {
        SyncRowCount();
        if (index == 0)
            InvalidateRect(handle_, nullptr, TRUE);  // the empty caption goes
    }
    return index;
}

void TListGrid::SyncRowCount() {
    // Rows are only ever added at the end here (clearing goes through LVM_DELETEALLITEMS): the rows
    // on screen stay where they are and only the new ones are drawn.
    ListView_SetItemCountEx(handle_, RowCount(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void TListGrid::ClearRows() {
    rows_.clear();
    if (HandleAllocated()) {
        ListView_DeleteAllItems(handle_);
        InvalidateRect(handle_, nullptr, TRUE);
    }
}

void TListGrid::DeleteRow(int row) {
    if (row < 0 || row >= RowCount())
        return;
    rows_.erase(rows_.begin() + row);
    if (HandleAllocated() && updateDepth_ == 0) {
        // The list view holds no rows of its own, only their number: the rest is drawn anew.
        ListView_SetItemCountEx(handle_, RowCount(), LVSICF_NOSCROLL);
        InvalidateRect(handle_, nullptr, TRUE);  // the rows below move up, or the empty caption comes back
    }
}

std::wstring TListGrid::Cell(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return L"";
    return rows_[row][column];
}

void TListGrid::SetCell(int row, int column, const std::wstring& text) {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return;
    rows_[row][column] = text;
    if (HandleAllocated() && updateDepth_ == 0)
        ListView_RedrawItems(handle_, row, row);  // drawn anew from the changed text
}

void TListGrid::BeginUpdate() {
    if (updateDepth_++ == 0 && HandleAllocated())
        SendMessageW(handle_, WM_SETREDRAW, FALSE, 0);
}

void TListGrid::EndUpdate() {
    if (updateDepth_ == 0 || --updateDepth_ > 0 || !HandleAllocated())
        return;
    SyncRowCount();
    SendMessageW(handle_, WM_SETREDRAW, TRUE, 0);
    // Painting was off: everything the changes touched, the scroll bars and the header included.
    RedrawWindow(handle_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void TListGrid::SetEmptyCaption(const std::wstring& caption) {
    emptyCaption_ = caption;
    if (HandleAllocated() && rows_.empty())
        InvalidateRect(handle_, nullptr, TRUE);
}

int TListGrid::SelectedRow() const {
    if (!HandleAllocated())
        return -1;
    return ListView_GetNextItem(handle_, -1, LVNI_SELECTED);
}

void TListGrid::SetSelectedRow(int row) {
    if (!HandleAllocated())
        return;
    ListView_SetItemState(handle_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0 && row < RowCount()) {
        ListView_SetItemState(handle_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(handle_, row, FALSE);
    }
}

void TListGrid::PaintEmpty(HDC dc) {
    RECT client;
    GetClientRect(handle_, &client);
    TStyleManager& engine = TStyleManager::Engine();
    const unique_hbrush back(CreateSolidBrush(engine.Color(TStyleColor::GridBack)));
    FillRect(dc, &client, back.get());
    // The caption sits a little below the header, centred across the grid.
    RECT text{client.left + Scale(4), client.top + Scale(kHeaderHeight + 12), client.right - Scale(4), client.bottom};
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, engine.Color(TStyleColor::GridEmptyText));
    DrawTextW(dc, emptyCaption_.c_str(), static_cast<int>(emptyCaption_.size()), &text,
              DT_CENTER | DT_TOP | DT_WORDBREAK);
    SelectObject(dc, old);
    PaintFocusCue(dc);
}

void TListGrid::SetAccessibleName(const std::wstring& name) {
    accessibleName_ = name;
    SetWindowCaption(name);
}

LRESULT TListGrid::AnswerGetObject(WPARAM wp, LPARAM lp) {
    const HWND hwnd = handle_;
    const auto grid = [hwnd] { return dynamic_cast<TListGrid*>(FromHandle(hwnd)); };
    TAccessibleDetails details;
    details.Name = [grid] {
        const TListGrid* g = grid();
        return g ? g->accessibleName_ : std::wstring();
    };
    // The empty area's caption says why there is nothing, or what is going on.
    details.Description = [grid] {
        const TListGrid* g = grid();
        return g && g->rows_.empty() ? g->emptyCaption_ : std::wstring();
    };
    // The list view's own description of a row would list every column, the hidden ones too.
    details.ChildDescription = [grid](LONG child) {
        const TListGrid* g = grid();
        return g ? g->RowDescription(static_cast<int>(child) - 1) : std::wstring();
    };
    return ui::AnswerGetObject(hwnd, wp, lp, std::move(details));
}

std::wstring TListGrid::RowDescription(int row) const {
    std::wstring text;
    if (row < 0 || row >= RowCount())
        return text;
    for (int c = 1; c < ColumnCount(); ++c) {
        if (!columns_[c].Visible)
            continue;
        if (!text.empty())
            text += L", ";
        text += columns_[c].Header + L": " + rows_[row][c];
    }
    return text;
}

void TListGrid::PaintFocusCue(HDC dc) {
    if (GetFocus() != handle_)
        return;
    // A dotted frame inside the rows' area, below the header: shown with or without rows, and whether
    // or not a row is selected.
    RECT r;
    GetClientRect(handle_, &r);
    r.top += Scale(kHeaderHeight);
    InflateRect(&r, -Scale(1), -Scale(1));
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    DrawFocusRect(dc, &r);
}

LRESULT TListGrid::DrawHeaderItem(NMCUSTOMDRAW* draw) {
    if (draw->dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw->dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    // Under the style the header is flat: its colour, a thin divider at the right, bold text.
    TStyleManager& engine = TStyleManager::Engine();
    RECT r = draw->rc;
    const unique_hbrush back(CreateSolidBrush(engine.Color(TStyleColor::GridHeader)));
    FillRect(draw->hdc, &r, back.get());
    const unique_hbrush line(CreateSolidBrush(engine.Color(TStyleColor::Frame)));
    RECT divider{r.right - 1, r.top + Scale(4), r.right, r.bottom - Scale(4)};
    FillRect(draw->hdc, &divider, line.get());
    RECT bottom{r.left, r.bottom - 1, r.right, r.bottom};
    FillRect(draw->hdc, &bottom, line.get());
    int column = static_cast<int>(draw->dwItemSpec);
    if (column >= 0 && column < ColumnCount() && r.right - r.left > 1) {
        const TListColumn& c = columns_[column];
        UINT align = c.Alignment == TAlignment::Center  ? DT_CENTER
                     : c.Alignment == TAlignment::Right ? DT_RIGHT
                                                        : DT_LEFT;
        RECT text{r.left + Scale(6), r.top, r.right - Scale(6), r.bottom};
        HGDIOBJ old = SelectObject(draw->hdc, headerFont_.Handle());
        SetBkMode(draw->hdc, TRANSPARENT);
        SetTextColor(draw->hdc, engine.Color(TStyleColor::GridHeaderText));
        DrawTextW(draw->hdc, c.Header.c_str(), static_cast<int>(c.Header.size()), &text,
                  align | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        SelectObject(draw->hdc, old);
    }
    return CDRF_SKIPDEFAULT;
}

LRESULT TListGrid::CustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
        case CDDS_POSTPAINT:
            PaintFocusCue(draw->nmcd.hdc);
            return CDRF_DODEFAULT;
        case CDDS_ITEMPREPAINT: {
            int row = static_cast<int>(draw->nmcd.dwItemSpec);
            if (ListView_GetItemState(handle_, row, LVIS_SELECTED) & LVIS_SELECTED) {
                // Drawn as selected in the highlight colour whether or not the grid has the focus.
                draw->nmcd.uItemState &= ~(CDIS_SELECTED | CDIS_FOCUS);
                draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
                draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
            }
            return CDRF_DODEFAULT;
        }
    }
    return CDRF_DODEFAULT;
}

void TListGrid::FillItem(LVITEMW& item) const {
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    const std::wstring text = Cell(item.iItem, item.iSubItem);
    const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(item.cchTextMax) - 1);
    std::wmemcpy(item.pszText, text.data(), n);
    item.pszText[n] = L'\0';
}

int TListGrid::FindRow(const LVFINDINFOW& find, int start) const {
    // Typing in the grid selects the next row whose first cell starts with what was typed.
    if (!(find.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.psz)
        return -1;
    const size_t length = std::wcslen(find.psz);
    const bool partial = (find.flags & LVFI_PARTIAL) != 0;
    auto matches = [&](int row) {
        const std::wstring& cell = rows_[row].empty() ? std::wstring() : rows_[row][0];
        if (partial ? cell.size() < length : cell.size() != length)
            return false;
        return _wcsnicmp(cell.c_str(), find.psz, length) == 0;
    };
    const int count = RowCount();
    start = std::clamp(start, 0, count);
    for (int row = start; row < count; ++row) {
        if (matches(row))
            return row;
    }
    if (find.flags & LVFI_WRAP) {
        for (int row = 0; row < start; ++row) {
            if (matches(row))
                return row;
        }
    }
    return -1;
}

bool TListGrid::Notify(NMHDR* header, LRESULT& result) {
    switch (header->code) {
        case LVN_GETDISPINFOW:
            FillItem(reinterpret_cast<NMLVDISPINFOW*>(header)->item);
            result = 0;
            return true;
        case LVN_DELETEALLITEMS:
            // The rows live in rows_: no LVN_DELETEITEM for each of them is wanted.
            result = TRUE;
            return true;
        case LVN_ODFINDITEMW: {
            auto* find = reinterpret_cast<NMLVFINDITEMW*>(header);
            result = FindRow(find->lvfi, find->iStart);
            return true;
        }
        case NM_CUSTOMDRAW:
            result = CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
            return true;
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            bool nowSelected = (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED);
            if ((change->uChanged & LVIF_STATE) && nowSelected && change->iItem >= 0 && OnSelect)
                OnSelect(this);
            result = 0;
            return true;
        }
    }
    return false;
}

}  // namespace memoline::ui
