// A picture control showing a PNG carried in the program's resources, scaled proportionally to fit,
// centred. Decoded by our own reader rather than the platform's imaging component, whose COM start-up
// costs the window tens of milliseconds before it can show.
#pragma once

#include <string>

#include "ui/Control.h"
#include "ui/Pixels.h"

namespace memoline::ui {

// Decodes a PNG file held in memory and scales it to width x height (the source size when both are
// 0). Empty pixels when the data cannot be decoded.
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
    TBitmapPixels source_;
    TBitmapPixels scaled_;  // source_ at the size shown
};

}  // namespace memoline::ui
