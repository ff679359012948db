// A read-only grid of text rows over a standard report-mode list view (SysListView32) in owner-data
// mode: the grid holds the rows, the list view only their number and asks for the texts it needs, so
// another process can still read every cell through the list view's messages. Whole-row selection
// that stays highlighted without focus, fixed row and header heights, bold headers that do not sort,
// columns that can be hidden, and a caption drawn in the empty area while there are no rows.
#pragma once

#include <string>
#include <vector>

#include "ui/Control.h"

namespace memoline::ui {

enum class TAlignment {
    Left,    // text starts at the left edge
    Center,  // text centred in the column
    Right,   // text ends at the right edge
};

struct TListColumn {
    std::wstring Header;
    TAlignment Alignment = TAlignment::Left;
    int Width = 100;
    bool Visible = true;
};

class TListGrid : public TControl {
public:
    static constexpr int kDefaultColumnWidth = 100;
    static constexpr int kRowHeight = 24;
    static constexpr int kHeaderHeight = 30;

    TListGrid(TComponent* owner, TControl* parent);
    ~TListGrid() override;

    // Columns; the index is the position, hidden columns included.
    int AddColumn(const std::wstring& header,
                  TAlignment alignment = TAlignment::Left,
                  int width = kDefaultColumnWidth,
                  bool visible = true);
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const TListColumn& Column(int index) const { return columns_.at(index); }
    void SetColumnVisible(int index, bool visible);
    void SetColumnWidth(int index, int width);

    // Rows: appended at the end; missing cells are empty, extra cells are dropped. Returns its index.
    int AddRow(const std::vector<std::wstring>& cells);
    int AddRow(std::vector<std::wstring>&& cells);
    void ClearRows();
    // Removes one row; the rows after it move up. Out-of-range rows are ignored.
    void DeleteRow(int row);
    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Out-of-range positions read as empty text and are ignored when written.
    std::wstring Cell(int row, int column) const;
    void SetCell(int row, int column, const std::wstring& text);

    // Many row changes as one: between BeginUpdate and the matching EndUpdate the list view does not
    // repaint (it would after every insert, which makes a long list slow to fill); EndUpdate repaints
    // once. Calls nest; only the outermost pair switches painting.
    void BeginUpdate();
    void EndUpdate();

    // The text drawn in the empty area while the grid has no rows.
    const std::wstring& EmptyCaption() const { return emptyCaption_; }
    void SetEmptyCaption(const std::wstring& caption);

    // What screen readers call the grid; its window text too (not shown), for those that read that.
    void SetAccessibleName(const std::wstring& name);

    // The selected row, -1 when none. Selecting a row raises OnSelect.
    int SelectedRow() const;
    void SetSelectedRow(int row);
    TNotifyEvent OnSelect;

protected:
    CreateParams GetCreateParams() override;
    void HandleCreated() override;
    void DpiChanged() override;
    bool Notify(NMHDR* header, LRESULT& result) override;

private:
    friend LRESULT CALLBACK GridSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void SetRowHeight();
    void InsertColumnWindow(int index);
    void SyncRowCount();
    void FillItem(LVITEMW& item) const;
    int FindRow(const LVFINDINFOW& find, int start) const;
    void PaintEmpty(HDC dc);
    // The focus cue, while the grid has the focus.
    void PaintFocusCue(HDC dc);
    LRESULT CustomDraw(NMLVCUSTOMDRAW* draw);
    LRESULT AnswerGetObject(WPARAM wp, LPARAM lp);
    // A row as a screen reader describes it: the visible columns after the first, "header: text" each.
    std::wstring RowDescription(int row) const;
    LRESULT DrawHeaderItem(NMCUSTOMDRAW* draw);

    std::vector<TListColumn> columns_;
    std::vector<std::vector<std::wstring>> rows_;
    std::wstring emptyCaption_;
    std::wstring accessibleName_;
    TFont headerFont_;
    HIMAGELIST rowHeightImages_ = nullptr;
    int updateDepth_ = 0;
};

// One bulk update of a grid for the lifetime of the object.
class TListGridUpdate {
public:
    explicit TListGridUpdate(TListGrid& grid) : grid_(grid) { grid_.BeginUpdate(); }
    ~TListGridUpdate() { grid_.EndUpdate(); }
    TListGridUpdate(const TListGridUpdate&) = delete;
    TListGridUpdate& operator=(const TListGridUpdate&) = delete;

private:
    TListGrid& grid_;
};

}  // namespace memoline::ui
