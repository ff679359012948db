// The style engine: applies a named visual style from the program's resources and paints controls
// through style hooks, one hook object per control, chosen by the control's class. Without an active
// style (none applied, or the named one missing) controls keep the platform's default look.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <vector>

#include "ui/StyleData.h"

namespace memoline::ui {

class TControl;

// Colours a style gives; without a style each falls back to a system colour.
enum class TStyleColor {
    Window,              // form, panel and group box background
    WindowText,          // text of panels, labels and group boxes
    Frame,               // group box frame
    ButtonFace,          // button, normal
    ButtonHot,           // button under the mouse
    ButtonPressed,       // button held down
    ButtonDisabled,      // button that cannot be pressed
    ButtonBorder,        // button outline
    ButtonText,          // button caption
    ButtonTextDisabled,  // caption of a disabled button
    GridBack,            // grid rows
    GridText,            // grid cells
    GridHeader,          // grid header background
    GridHeaderText,      // grid header text
    GridEmptyText,       // the caption a grid shows while it has no rows
};

// Paints one control under the active style. The base paints nothing of its own.
class TStyleHook {
public:
    explicit TStyleHook(TControl* control) : control_(control) {}
    virtual ~TStyleHook();
    TStyleHook(const TStyleHook&) = delete;
    TStyleHook& operator=(const TStyleHook&) = delete;

    TControl* Control() const { return control_; }
    // Paints the whole control onto `dc`.
    virtual void Paint(HDC dc);
    // Window styles the control needs for the hook to paint it (owner-drawn buttons).
    virtual DWORD ExtraStyle() const { return 0; }
    // Sees the control's messages first; true when it handled one.
    virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    // The engine hooks the control's window when it exists and unhooks it when it goes.
    void Attach();
    void Detach();

protected:
    void Invalidate();

private:
    TControl* control_;
    HWND subclassed_ = nullptr;
};

// The standard hook for push buttons: a flat face in the state's colour, the glyph (if any) and
// the caption; it tracks the mouse so the face follows it.
class TButtonStyleHook : public TStyleHook {
public:
    using TStyleHook::TStyleHook;
    void Paint(HDC dc) override;
    DWORD ExtraStyle() const override { return BS_OWNERDRAW; }
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    bool MouseInControl() const { return mouseInControl_; }

private:
    // What Enter presses now: the window's answer to DM_GETDEFID names this button.
    bool IsDefaultNow() const;
    bool mouseInControl_ = false;
};

class TStyleManager {
public:
    using HookFactory = std::function<std::unique_ptr<TStyleHook>(TControl*)>;

    // The one engine of the process.
    static TStyleManager& Engine();

    // Hooks of a control class; a later registration for the same class wins until unregistered.
    template <typename ControlClass, typename HookClass>
    void RegisterStyleHook() {
        Register(typeid(ControlClass), typeid(HookClass),
                 [](TControl* c) -> std::unique_ptr<TStyleHook> { return std::make_unique<HookClass>(c); });
    }
    template <typename ControlClass, typename HookClass>
    void UnregisterStyleHook() {
        Unregister(typeid(ControlClass), typeid(HookClass));
    }
    bool IsHookRegistered(std::type_index controlClass, std::type_index hookClass) const;

    // Applies the style of that name from the program's resources. When it is missing, shows an
    // error message box naming it (with a Close button), keeps the default look and returns false.
    bool TrySetStyle(const std::wstring& name);
    // Makes the given style active (null: the default look).
    void SetActiveStyle(std::optional<TStyleData> style) { active_ = std::move(style); }
    bool IsCustomStyleActive() const { return active_.has_value(); }
    std::wstring ActiveStyleName() const { return active_ ? active_->Name : L"Windows"; }

    COLORREF Color(TStyleColor color) const;

    // The hook for this control's class under the active style; null under the default look.
    std::unique_ptr<TStyleHook> CreateHook(TControl* control) const;

    // Styles carried in the program's resources (type "VSTYLE"), by their names.
    static std::optional<TStyleData> FindResourceStyle(const std::wstring& name);

private:
    struct Entry {
        std::type_index Control;
        std::type_index Hook;
        HookFactory Factory;
    };
    void Register(std::type_index controlClass, std::type_index hookClass, HookFactory factory);
    void Unregister(std::type_index controlClass, std::type_index hookClass);

    std::vector<Entry> hooks_;
    std::optional<TStyleData> active_;
};

}  // namespace memoline::ui
