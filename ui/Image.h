// A picture control showing a PNG carried in the program's resources, decoded by the platform's
// imaging component (WIC) and scaled proportionally to fit, centred.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Control.h"

namespace memoline::ui {

// Decoded pixels: 32-bit premultiplied BGRA, top row first.
struct TBitmapPixels {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
};

// Decodes an image file held in memory (PNG among others) and scales it to width x height
// (the source size when both are 0). Empty pixels when the data cannot be decoded.
TBitmapPixels DecodeImage(const std::string& bytes, int width = 0, int height = 0);

// The largest rectangle with the picture's proportions that fits `box`, centred in it.
RECT FitProportionally(int pictureWidth, int pictureHeight, const RECT& box);

class TImage : public TControl {
public:
    using TControl::TControl;
    // Loads an RCDATA resource of the running program; false when it is missing or not an image.
    bool LoadFromResource(const wchar_t* name);
    bool LoadFromBytes(const std::string& bytes);
    int PictureWidth() const { return source_.Width; }
    int PictureHeight() const { return source_.Height; }

protected:
    CreateParams GetCreateParams() override;
    void Paint(HDC dc) override;

private:
    std::string bytes_;
    TBitmapPixels source_;  // size only; the pixels are scaled from bytes_ at the size shown
    TBitmapPixels scaled_;
};

}  // namespace memoline::ui
