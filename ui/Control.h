// The base of every control: a component with a window, a place in its parent, docking, inner
// margins and a font it inherits from its parent unless given its own.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"
#include "ui/Font.h"

namespace memoline::ui {

class TStyleHook;

// How a control docks in its parent. Parents place docked children in the order top, bottom, left,
// right, then client; children of the same kind in the order they were created, so the first
// bottom-docked child sits lowest.
enum class TAlign {
    None,    // keeps its own bounds
    Top,     // full width at the top of what is left
    Bottom,  // full width at the bottom of what is left
    Left,    // full height at the left of what is left
    Right,   // full height at the right of what is left
    Client,  // all that is left
};

// Inner margins: the space a container keeps free between its edge and its docked children.
struct TPadding {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

class TControl : public TComponent {
public:
    // A control is destroyed with `owner`; it lives inside `parent` (null for a top-level window).
    TControl(TComponent* owner, TControl* parent);
    ~TControl() override;

    // The window, created with the parent's on first use; its children's windows follow. A windowless
    // control gives the window that holds it.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    // A windowless control has no window of its own: the window of its nearest windowed ancestor
    // paints it and holds its children's windows. For containers that only place their children and
    // paint a background or a frame: every window costs time to make and to show. Set before the
    // windows are made.
    void SetWindowless(bool windowless) { windowless_ = windowless; }
    bool Windowless() const { return windowless_; }
    // The control's bounds in the client area of the window that holds its window (or, when it is
    // windowless, that paints it): its parent's position added for every windowless parent.
    RECT BoundsInWindow() const;
    // The control whose window this is, or null.
    static TControl* FromHandle(HWND hwnd);

    TControl* Parent() const { return parent_; }
    const std::vector<TControl*>& Controls() const { return children_; }

    // The control's place in pixels at the window's DPI.
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Position relative to the parent's client area, size of the whole control, in units of a 96-DPI
    // display: the control is placed at these values scaled to the window's DPI.
    void SetBounds(int left, int top, int width, int height);
    // The bounds as given to SetBounds (96-DPI units).
    RECT DesignBounds() const {
        return RECT{designLeft_, designTop_, designLeft_ + designWidth_, designTop_ + designHeight_};
    }

    // The DPI of the top-level window this control is in (96 until it is known).
    int Dpi() const { return parent_ ? parent_->Dpi() : dpi_; }
    // A length of the 96-DPI layout at this control's DPI.
    int Scale(int value) const;
    RECT ClientRect() const { return RECT{0, 0, width_, height_}; }

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);
    TPadding& Padding() { return padding_; }  // 96-DPI units
    void SetPadding(int left, int top, int right, int bottom);

    const std::wstring& Caption() const { return caption_; }
    virtual void SetCaption(const std::wstring& caption);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    // The parent's font unless the control was given its own.
    const TFont& Font() const;
    void SetFont(const TFont& font);

    int ControlId() const { return id_; }
    void SetControlId(int id) { id_ = id; }

    void Invalidate();
    // Gives the control the keyboard focus (its window is made if needed).
    void Focus();
    // The colour the control's background is painted in: the style's window colour unless a control
    // has its own. Controls that show through to their parent (labels) take the parent's.
    virtual COLORREF BackgroundColor() const;
    // Places the docked children, and theirs.
    void Realign();

    // What a screen reader reads for the control while the form paints it without a window of its own
    // (empty: nothing), and as what (a ROLE_SYSTEM_* value). A control with a window answers for
    // itself.
    virtual std::wstring AccessibleText() const { return {}; }
    virtual LONG AccessibleRole() const;

    // The style engine's hook painting this control, if any.
    TStyleHook* StyleHook() const { return hook_.get(); }

protected:
    // Whether the window has a border, caption or scroll bars around its client area.
    bool HasNonClientArea() const;
    // Stores the caption and gives it to the window, without painting it again: for a system control
    // that repaints itself when its text changes.
    void SetWindowCaption(const std::wstring& caption);

    struct CreateParams {
        const wchar_t* ClassName = L"";
        DWORD Style = 0;
        DWORD ExStyle = 0;
        bool OwnClass = true;  // a class of this framework (registered on demand), not a system one
        HWND Owner = nullptr;  // a top-level window's owner, which it stays in front of
    };
    virtual CreateParams GetCreateParams() = 0;
    // Where the window is made: in its parent window's client area, or on the screen for a top-level
    // window.
    virtual RECT InitialWindowRect() { return BoundsInWindow(); }
    virtual void CreateHandle();
    // After the window exists, before its children are made.
    virtual void HandleCreated() {}
    // The area docked children share, before padding; group boxes leave out their frame.
    virtual RECT AdjustClientRect(RECT r) { return r; }

    // Window procedure of the framework's own classes.
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);
    virtual void Paint(HDC dc);
    // Fills with the background the control shows through (the style's window colour).
    void PaintBackground(HDC dc, const RECT& r);

    // Notifications forwarded from the parent to the child control that sent them.
    virtual void CommandNotify(WORD) {}
    virtual bool Notify(NMHDR*, LRESULT&) { return false; }
    virtual bool DrawItem(const DRAWITEMSTRUCT&) { return false; }
    // WM_CTLCOLORSTATIC of a system static control: set the DC's colours and give the brush.
    virtual bool ControlColor(HDC, LRESULT&) { return false; }

    // Called for every window of the tree when the top-level window goes away.
    void HandleDestroyed();
    // Paints the visible windowless children, and theirs, into the DC of this control's window.
    void PaintWindowlessChildren(HDC dc);

    // Places the control in pixels, leaving its 96-DPI bounds alone (docking uses it).
    void SetPixelBounds(int left, int top, int width, int height);
    // A top-level window's new DPI: fonts, bounds and what controls derive from them follow, then
    // the docked children are placed again.
    void ChangeDpi(int dpi);
    // After the DPI changed, for what a control derives from it (column widths, row heights).
    virtual void DpiChanged() {}

    HWND handle_ = nullptr;

private:
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
    void FontChanged();
    bool ForwardToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    // Makes the windows of the children, and of a windowless child's children.
    void CreateChildWindows();
    // The window that paints this control: its own, or a windowless control's nearest windowed
    // ancestor's; null while that has none.
    HWND HostWindow() const;
    // Where the parent's client area starts in the window that holds this control's window.
    POINT ParentOrigin() const;
    // Visible, and so is every windowless ancestor up to the window that holds it.
    bool ShownInWindow() const;
    // Moves the window (a windowless control: its children's windows) to the current bounds.
    void PlaceWindow();
    void ShowChildWindows();

    TControl* parent_;
    std::vector<TControl*> children_;
    void ApplyDpi(int dpi);
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int designLeft_ = 0, designTop_ = 0, designWidth_ = 0, designHeight_ = 0;
    int dpi_ = 96;
    TAlign align_ = TAlign::None;
    TPadding padding_;
    std::wstring caption_;
    bool enabled_ = true;
    bool visible_ = true;
    bool parentFont_ = true;
    TFont font_;
    int id_ = 0;
    std::unique_ptr<TStyleHook> hook_;
    bool windowless_ = false;
};

// The framework's record of the mouse capture: the control whose window holds it, or null.
TControl* CaptureControl();

// Registers a window class of this framework once; every instance runs ControlWindowProc. Top-level
// windows show the program's icon; child windows have none.
enum class TClassIcon { None, Program };
void RegisterControlClass(const wchar_t* name, TClassIcon icon, UINT classStyle = CS_HREDRAW | CS_VREDRAW);

}  // namespace memoline::ui
