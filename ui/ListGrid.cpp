#include "ui/ListGrid.h"

#include "ui/Style.h"

namespace memoline::ui {
namespace {

constexpr UINT_PTR kGridSubclassId = 0x4752;   // the grid's own subclass of its list view
constexpr UINT_PTR kHeaderSubclassId = 0x4844; // the subclass of the list view's header

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
                grid->PaintEmpty();
                return 0;
            }
            break;
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
    // LVS_SHAREIMAGELISTS: the row-height image list is ours to free.
    return CreateParams{WC_LISTVIEWW,
                        LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_SHAREIMAGELISTS | WS_TABSTOP | WS_HSCROLL |
                            WS_VSCROLL,
                        WS_EX_CLIENTEDGE, false};
}

void TListGrid::HandleCreated() {
    HWND list = handle_;
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
    for (int r = 0; r < RowCount(); ++r)
        InsertRowWindow(r);
    // Let the list view lay out the header again with its fixed height.
    SetWindowPos(list, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
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
        LVITEMW probe{};
        probe.mask = LVIF_TEXT;
        probe.iItem = ListView_GetItemCount(list);
        probe.pszText = const_cast<wchar_t*>(L"");
        int index = ListView_InsertItem(list, &probe);
        RECT r{};
        bool measured = ListView_GetItemRect(list, index, &r, LVIR_BOUNDS);
        ListView_DeleteItem(list, index);
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
    std::vector<std::wstring> row(cells);
    row.resize(columns_.size());
    rows_.push_back(std::move(row));
    int index = RowCount() - 1;
    if (HandleAllocated()) {
        InsertRowWindow(index);
        if (index == 0)
            InvalidateRect(handle_, nullptr, TRUE);  // the empty caption goes
    }
    return index;
}

void TListGrid::InsertRowWindow(int row) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(rows_[row].empty() ? L"" : rows_[row][0].c_str());
    ListView_InsertItem(handle_, &item);
    for (int c = 1; c < ColumnCount(); ++c)
        ListView_SetItemText(handle_, row, c, const_cast<wchar_t*>(rows_[row][c].c_str()));
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
    if (HandleAllocated()) {
        ListView_DeleteItem(handle_, row);
        if (rows_.empty())
            InvalidateRect(handle_, nullptr, TRUE);  // the empty caption comes back
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
    if (HandleAllocated())
        ListView_SetItemText(handle_, row, column, const_cast<wchar_t*>(rows_[row][column].c_str()));
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

void TListGrid::PaintEmpty() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(handle_, &ps);
    RECT client;
    GetClientRect(handle_, &client);
    TStyleManager& engine = TStyleManager::Engine();
    HBRUSH back = CreateSolidBrush(engine.Color(TStyleColor::GridBack));
    FillRect(dc, &client, back);
    DeleteObject(back);
    // The caption sits a little below the header, centred across the grid.
    RECT text{client.left + Scale(4), client.top + Scale(kHeaderHeight + 12), client.right - Scale(4), client.bottom};
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, engine.Color(TStyleColor::GridEmptyText));
    DrawTextW(dc, emptyCaption_.c_str(), static_cast<int>(emptyCaption_.size()), &text, DT_CENTER | DT_TOP | DT_WORDBREAK);
    SelectObject(dc, old);
    EndPaint(handle_, &ps);
}

LRESULT TListGrid::DrawHeaderItem(NMCUSTOMDRAW* draw) {
    if (draw->dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw->dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    // Under the style the header is flat: its colour, a thin divider at the right, bold text.
    TStyleManager& engine = TStyleManager::Engine();
    RECT r = draw->rc;
    HBRUSH back = CreateSolidBrush(engine.Color(TStyleColor::GridHeader));
    FillRect(draw->hdc, &r, back);
    DeleteObject(back);
    HBRUSH line = CreateSolidBrush(engine.Color(TStyleColor::Frame));
    RECT divider{r.right - 1, r.top + Scale(4), r.right, r.bottom - Scale(4)};
    FillRect(draw->hdc, &divider, line);
    RECT bottom{r.left, r.bottom - 1, r.right, r.bottom};
    FillRect(draw->hdc, &bottom, line);
    DeleteObject(line);
    int column = static_cast<int>(draw->dwItemSpec);
    if (column >= 0 && column < ColumnCount() && r.right - r.left > 1) {
        const TListColumn& c = columns_[column];
        UINT align = c.Alignment == TAlignment::Center ? DT_CENTER : c.Alignment == TAlignment::Right ? DT_RIGHT : DT_LEFT;
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
            return CDRF_NOTIFYITEMDRAW;
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

bool TListGrid::Notify(NMHDR* header, LRESULT& result) {
    switch (header->code) {
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
