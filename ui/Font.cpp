#include "ui/Font.h"

#include <algorithm>
#include <utility>

namespace memoline::ui {

TFont::TFont(std::wstring name, int height, bool bold) : name_(std::move(name)), height_(height), bold_(bold) {}

TFont::TFont(const TFont& other)
    : name_(other.name_),
      height_(other.height_),
      ppi_(other.ppi_),
      bold_(other.bold_),
      color_(other.color_),
      quality_(other.quality_) {}

TFont& TFont::operator=(const TFont& other) {
    if (this == &other)
        return *this;
    name_ = other.name_;
    height_ = other.height_;
    ppi_ = other.ppi_;
    bold_ = other.bold_;
    color_ = other.color_;
    quality_ = other.quality_;
    Reset();
    return *this;
}

void TFont::SetName(const std::wstring& name) {
    name_ = name;
    Reset();
}
void TFont::SetHeight(int height) {
    height_ = height;
    Reset();
}
void TFont::SetPixelsPerInch(int ppi) {
    if (ppi == ppi_)
        return;
    ppi_ = ppi;
    Reset();
}
void TFont::SetBold(bool bold) {
    bold_ = bold;
    Reset();
}
void TFont::SetQuality(BYTE quality) {
    quality_ = quality;
    Reset();
}

LOGFONTW TFont::LogFont() const {
    LOGFONTW lf{};
    // A negative height asks for the character height, not the cell height.
    lf.lfHeight = -MulDiv(height_, ppi_, 96);
    lf.lfWeight = bold_ ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = quality_;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    size_t n = std::min<size_t>(name_.size(), LF_FACESIZE - 1);
    name_.copy(lf.lfFaceName, n);
    lf.lfFaceName[n] = 0;
    return lf;
}

HFONT TFont::Handle() const {
    if (!handle_) {
        LOGFONTW lf = LogFont();
        handle_.reset(CreateFontIndirectW(&lf));
    }
    return static_cast<HFONT>(handle_.get());
}

}  // namespace memoline::ui
