#include "ui/Image.h"

#include <algorithm>

#include "core/Handles.h"

namespace memoline::ui {

TBitmapPixels DecodeImage(const std::string& bytes, int width, int height) {
    TBitmapPixels decoded = DecodePng(bytes);
    if (decoded.Pixels.empty() || width <= 0 || height <= 0 || (width == decoded.Width && height == decoded.Height))
        return decoded;
    return ScalePixels(decoded, width, height);
}

RECT FitProportionally(int pictureWidth, int pictureHeight, const RECT& box) {
    int boxW = box.right - box.left, boxH = box.bottom - box.top;
    if (pictureWidth <= 0 || pictureHeight <= 0 || boxW <= 0 || boxH <= 0)
        return RECT{box.left, box.top, box.left, box.top};
    // Compare the aspect ratios in integers: the narrower side decides the scale.
    int w, h;
    if (int64_t(boxW) * pictureHeight <= int64_t(boxH) * pictureWidth) {
        w = boxW;
        h = static_cast<int>(int64_t(pictureHeight) * boxW / pictureWidth);
    } else {
        h = boxH;
        w = static_cast<int>(int64_t(pictureWidth) * boxH / pictureHeight);
    }
    int x = box.left + (boxW - w) / 2, y = box.top + (boxH - h) / 2;
    return RECT{x, y, x + w, y + h};
}

bool TImage::LoadFromResource(const wchar_t* name) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    return LoadFromBytes(std::string(static_cast<const char*>(data), SizeofResource(module, info)));
}

bool TImage::LoadFromBytes(const std::string& bytes) {
    TBitmapPixels decoded = DecodeImage(bytes);
    if (decoded.Pixels.empty())
        return false;
    source_ = std::move(decoded);
    scaled_ = TBitmapPixels{};
    Invalidate();
    return true;
}

TControl::CreateParams TImage::GetCreateParams() {
    return CreateParams{L"TImage", 0, 0, true};
}

void TImage::Paint(HDC dc) {
    RECT r = ClientRect();
    PaintBackground(dc, r);
    RECT fit = FitProportionally(source_.Width, source_.Height, r);
    int w = fit.right - fit.left, h = fit.bottom - fit.top;
    if (w <= 0 || h <= 0)
        return;
    if (scaled_.Width != w || scaled_.Height != h)
        scaled_ = ScalePixels(source_, w, h);
    if (scaled_.Pixels.empty())
        return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const unique_hbitmap bmp(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp)
        return;
    std::copy(scaled_.Pixels.begin(), scaled_.Pixels.end(), static_cast<uint32_t*>(bits));
    const unique_memory_dc mem(CreateCompatibleDC(dc));
    HGDIOBJ old = SelectObject(mem.get(), bmp.get());
    // Premultiplied alpha: transparent parts of the picture show the background.
    // gdi32's own blend: msimg32's AlphaBlend only forwards to it, and would be one more DLL to load
    // at start-up.
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, fit.left, fit.top, w, h, mem.get(), 0, 0, w, h, blend);
    SelectObject(mem.get(), old);
}

}  // namespace memoline::ui
