// Decoded pictures as the window draws them, and the pieces that make them without the platform's
// imaging component: a PNG reader and a scaler. Portable, so the host lane can test and fuzz them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace memoline::ui {

// Decoded pixels: 32-bit premultiplied BGRA, top row first.
struct TBitmapPixels {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
};

// Decodes a PNG file held in memory. Only the kinds our own pictures are saved as are read: 8 bits per
// channel, truecolour with or without alpha, not interlaced. Anything else, and any damage (a bad
// checksum, a short or overlong image stream, a missing chunk), gives empty pixels.
TBitmapPixels DecodePng(std::string_view bytes);

// The picture resampled to width x height by area averaging (each target pixel the mean of the source
// area it covers). Empty pixels when either size is not positive or the source is empty.
TBitmapPixels ScalePixels(const TBitmapPixels& source, int width, int height);

}  // namespace memoline::ui
