#include "ui/Image.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>

#include "core/Handles.h"

namespace memoline::ui {
namespace {

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_)
            p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** put() { return &p_; }

private:
    T* p_ = nullptr;
};

// COM for this thread for as long as the object lives (nested initialisations are counted).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }

private:
    HRESULT hr_;
};

}  // namespace

TBitmapPixels DecodeImage(const std::string& bytes, int width, int height) {
    ComScope com;
    TBitmapPixels result;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.put()))))
        return result;
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                            static_cast<DWORD>(bytes.size()))))
        return result;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put())))
        return result;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.put())))
        return result;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return result;
    UINT w = 0, h = 0;
    if (FAILED(converter->GetSize(&w, &h)) || w == 0 || h == 0)
        return result;
    IWICBitmapSource* source = converter.get();
    ComPtr<IWICBitmapScaler> scaler;
    if (width > 0 && height > 0 && (UINT(width) != w || UINT(height) != h)) {
        if (FAILED(factory->CreateBitmapScaler(scaler.put())) ||
            FAILED(scaler->Initialize(converter.get(), width, height, WICBitmapInterpolationModeFant)))
            return result;
        source = scaler.get();
        w = width;
        h = height;
    }
    std::vector<uint32_t> pixels(size_t(w) * h);
    if (FAILED(source->CopyPixels(nullptr, w * 4, static_cast<UINT>(pixels.size() * 4),
                                  reinterpret_cast<BYTE*>(pixels.data()))))
        return result;
    result.Width = static_cast<int>(w);
    result.Height = static_cast<int>(h);
    result.Pixels = std::move(pixels);
    return result;
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
    bytes_ = bytes;
    source_.Width = decoded.Width;
    source_.Height = decoded.Height;
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
        scaled_ = DecodeImage(bytes_, w, h);
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
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, fit.left, fit.top, w, h, mem.get(), 0, 0, w, h, blend);
    SelectObject(mem.get(), old);
}

}  // namespace memoline::ui
