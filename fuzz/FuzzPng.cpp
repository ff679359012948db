// The PNG reader on any input: it either refuses it (empty pixels) or gives a picture whose pixel count
// matches its size and whose colours never exceed their alpha (premultiplied).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/Pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace memoline::ui;
    const TBitmapPixels p = DecodePng(std::string_view(reinterpret_cast<const char*>(data), size));
    if (p.Pixels.empty()) {
        if (p.Width != 0 || p.Height != 0)
            std::abort();
        return 0;
    }
    if (p.Width <= 0 || p.Height <= 0 || p.Pixels.size() != std::size_t(p.Width) * std::size_t(p.Height))
        std::abort();
    for (std::uint32_t px : p.Pixels) {
        const std::uint32_t a = px >> 24;
        if ((px >> 16 & 0xff) > a || (px >> 8 & 0xff) > a || (px & 0xff) > a)
            std::abort();
    }
    // Scaling what was read to a small size must work too.
    const TBitmapPixels small = ScalePixels(p, 3, 2);
    if (small.Pixels.size() != 6)
        std::abort();
    return 0;
}
