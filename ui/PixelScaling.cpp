#include <algorithm>
#include <array>

#include "ui/Pixels.h"

namespace memoline::ui {
namespace {

struct TTap {
    int Source;
    float Weight;
};

// For every target index along one axis, the source indexes it covers and their shares of it (the
// shares of one target sum to 1). A target smaller than the source averages several source pixels; a
// larger one repeats them, blending only where a target pixel straddles two.
std::vector<std::vector<TTap>> AxisTaps(int sourceSize, int targetSize) {
    std::vector<std::vector<TTap>> taps(static_cast<size_t>(targetSize));
    const double step = double(sourceSize) / targetSize;
    for (int t = 0; t < targetSize; ++t) {
        const double begin = t * step, end = (t + 1) * step;
        const int first = static_cast<int>(begin);
        const int last = std::min(sourceSize - 1, static_cast<int>(end - 1e-9));
        for (int s = first; s <= last; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(begin, double(s));
            if (covered > 0)
                taps[size_t(t)].push_back({s, static_cast<float>(covered / step)});
        }
    }
    return taps;
}

using TChannels = std::array<float, 4>;  // B, G, R, A as in memory

TChannels Split(uint32_t p) {
    return {float(p & 0xff), float(p >> 8 & 0xff), float(p >> 16 & 0xff), float(p >> 24)};
}

uint32_t Join(const TChannels& c) {
    uint32_t p = 0;
    for (int i = 3; i >= 0; --i)
        p = p << 8 | uint32_t(std::clamp(c[size_t(i)] + 0.5f, 0.0f, 255.0f));
    return p;
}

}  // namespace

TBitmapPixels ScalePixels(const TBitmapPixels& source, int width, int height) {
    if (width <= 0 || height <= 0 || source.Width <= 0 || source.Height <= 0 ||
        source.Pixels.size() != size_t(source.Width) * size_t(source.Height))
        return {};
    const auto across = AxisTaps(source.Width, width);
    const auto down = AxisTaps(source.Height, height);
    // Across first, row by row of the source, then down: premultiplied channels average correctly.
    std::vector<TChannels> rows(size_t(source.Height) * size_t(width));
    for (int y = 0; y < source.Height; ++y) {
        const uint32_t* in = source.Pixels.data() + size_t(y) * size_t(source.Width);
        for (int x = 0; x < width; ++x) {
            TChannels sum{};
            for (const TTap& tap : across[size_t(x)]) {
                const TChannels c = Split(in[tap.Source]);
                for (size_t i = 0; i < 4; ++i)
                    sum[i] += c[i] * tap.Weight;
            }
            rows[size_t(y) * size_t(width) + size_t(x)] = sum;
        }
    }
    TBitmapPixels result;
    result.Width = width;
    result.Height = height;
    result.Pixels.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            TChannels sum{};
            for (const TTap& tap : down[size_t(y)]) {
                const TChannels& c = rows[size_t(tap.Source) * size_t(width) + size_t(x)];
                for (size_t i = 0; i < 4; ++i)
                    sum[i] += c[i] * tap.Weight;
            }
            result.Pixels[size_t(y) * size_t(width) + size_t(x)] = Join(sum);
        }
    }
    return result;
}

}  // namespace memoline::ui
