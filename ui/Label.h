// A line of text: a system static control (so another process reads its text), painted on its
// parent's background in its font's colour. With AutoSize its width follows its text.
#pragma once

#include "core/Handles.h"
#include "ui/Control.h"

namespace memoline::ui {

class TLabel : public TControl {
public:
    using TControl::TControl;

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);
    // When set (the default), "&" marks the access key, which moves the focus to the next control.
    void SetShowAccelChar(bool show) { showAccelChar_ = show; }
    void SetCaption(const std::wstring& caption) override;

protected:
    CreateParams GetCreateParams() override;
    bool ControlColor(HDC dc, LRESULT& brush) override;
    void DpiChanged() override { FitToText(); }

private:
    // Gives an auto-sized label the width of its text in its font; the height stays.
    void FitToText();

    bool autoSize_ = false;
    bool showAccelChar_ = true;
    unique_gdiobj brush_;  // the parent's background, for the static control to paint with
    COLORREF brushColor_ = 0;
};

}  // namespace memoline::ui
