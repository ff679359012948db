// A font description with its GDI font made on demand. Copies share nothing: each makes its own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/Handles.h"

namespace memoline::ui {

class TFont {
public:
    TFont() = default;
    TFont(std::wstring name, int height, bool bold = false);
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);

    const std::wstring& Name() const { return name_; }
    // Character height in pixels of a 96-DPI display (the em height without internal leading).
    int Height() const { return height_; }
    // The display density the GDI font is made for: the height is scaled from 96 DPI to it.
    int PixelsPerInch() const { return ppi_; }
    void SetPixelsPerInch(int ppi);
    bool Bold() const { return bold_; }
    COLORREF Color() const { return color_; }
    BYTE Quality() const { return quality_; }

    void SetName(const std::wstring& name);
    void SetHeight(int height);
    void SetBold(bool bold);
    // The text colour is not part of the GDI font; painting code reads it from here.
    void SetColor(COLORREF color) { color_ = color; }
    void SetQuality(BYTE quality);

    // The GDI font; made on first use and kept until the description changes.
    HFONT Handle() const;
    LOGFONTW LogFont() const;

private:
    void Reset() { handle_.reset(); }

    std::wstring name_ = L"Segoe UI";
    int height_ = 15;
    int ppi_ = 96;
    bool bold_ = false;
    COLORREF color_ = GetSysColor(COLOR_WINDOWTEXT);
    BYTE quality_ = DEFAULT_QUALITY;
    mutable unique_gdiobj handle_;
};

}  // namespace memoline::ui
