#include "download/DownloadLoginForm.h"

#include <utility>

#include "core/Handles.h"
#include "ui/Button.h"
#include "ui/Dpi.h"
#include "ui/Label.h"

namespace memoline {
namespace {

constexpr int kFormWidth = 328;  // outer size
constexpr int kFormHeight = 223;

// The banner: the product's name on a band of its colour. The name is its window text too, which
// screen readers read.
class TLoginBanner : public ui::TControl {
public:
    TLoginBanner(TComponent* owner, TControl* parent) : TControl(owner, parent) {
        SetCaption(L"Memoline 5 Server Updates");
    }

protected:
    CreateParams GetCreateParams() override { return CreateParams{L"TDownloadLoginBanner", 0, 0, true}; }
    void Paint(HDC dc) override {
        RECT r = ClientRect();
        unique_gdiobj band(CreateSolidBrush(RGB(0, 84, 147)));
        FillRect(dc, &r, static_cast<HBRUSH>(band.get()));
        r.left += Scale(16);
        const HGDIOBJ old = SelectObject(dc, Font().Handle());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        DrawTextW(dc, Caption().c_str(), static_cast<int>(Caption().size()), &r, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
        SelectObject(dc, old);
    }
};

}  // namespace

TDownloadLoginForm::TDownloadLoginForm(std::wstring caption) : TForm(nullptr, kClassName), owner_(GetActiveWindow()) {
    SetFont(ui::TFont(L"MS Sans Serif", MulDiv(8, ui::kDesignDpi, 72)));
    SetCaption(std::move(caption));
    SizeWindow();
    AddControls();
}

ui::TControl::CreateParams TDownloadLoginForm::GetCreateParams() {
    // The system menu is the only border icon: no minimise or maximise box. WS_EX_CONTROLPARENT gives
    // the dialog keys: Tab, Enter (OK) and Esc (Cancel).
    CreateParams params{kClassName, WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
                        true};
    params.Owner = owner_;
    return params;
}

// The window's outer size is fixed; the form is sized by its client area, so the frame comes off.
void TDownloadLoginForm::SizeWindow() {
    const CreateParams params = GetCreateParams();
    const RECT frame = ui::AdjustWindowRectForDpi(RECT{0, 0, 0, 0}, params.Style, params.ExStyle, ui::kDesignDpi);
    SetClientSize(kFormWidth - (frame.right - frame.left), kFormHeight - (frame.bottom - frame.top));
}

void TDownloadLoginForm::AddControls() {
    auto place = [this](ui::TControl* control, int x, int y, int w, int h, int id) {
        control->SetBounds(x, y, w, h);
        control->SetControlId(id);
        return control;
    };
    place(new TLoginBanner(this, this), 0, 0, 320, 60, kImageId);
    // Each label comes right before its edit in the tab order, so its access key moves to the edit.
    place(new ui::TLabel(this, this), 16, 80, 80, 13, -1)->SetCaption(L"&User name: ");
    userEdit_ = new ui::TEdit(this, this);
    place(userEdit_, 104, 80, 193, 21, kUserNameId);
    place(new ui::TLabel(this, this), 16, 112, 80, 13, -1)->SetCaption(L"&Password:");
    passwordEdit_ = new ui::TEdit(this, this);
    passwordEdit_->SetPasswordChar(L'*');
    place(passwordEdit_, 104, 112, 193, 21, kPasswordId);
    auto* ok = new ui::TButton(this, this);
    place(ok, 144, 152, 75, 25, IDOK)->SetCaption(L"OK");
    ok->SetDefault(true);
    ok->OnClick = [this](TObject*) { Finish(IDOK); };
    auto* cancel = new ui::TButton(this, this);
    place(cancel, 224, 152, 75, 25, IDCANCEL)->SetCaption(L"Cancel");
    cancel->OnClick = [this](TObject*) { Finish(IDCANCEL); };
    SetActiveControl(userEdit_);
}

void TDownloadLoginForm::Finish(int result) {
    if (result == IDOK) {
        userName_ = userEdit_->Text();
        password_ = passwordEdit_->Text();
    }
    SetModalResult(result);
}

}  // namespace memoline
