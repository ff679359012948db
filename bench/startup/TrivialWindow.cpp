// The smallest program whose one top-level window shows a picture and text: the yardstick for the
// updater's start-up. Built like the updater (same compiler, flags, static runtime, manifest), it
// registers a class, makes a 346 x 446 picture in memory, shows the window, paints the picture and a
// paragraph in the updater's font, and runs the message loop until the window is closed.
#include <windows.h>

#include <vector>

namespace {

constexpr int kPictureWidth = 346;
constexpr int kPictureHeight = 446;

struct Picture {
    BITMAPINFO info{};
    std::vector<DWORD> pixels;
};

Picture MakePicture() {
    Picture p;
    p.info.bmiHeader.biSize = sizeof p.info.bmiHeader;
    p.info.bmiHeader.biWidth = kPictureWidth;
    p.info.bmiHeader.biHeight = -kPictureHeight;  // top-down rows
    p.info.bmiHeader.biPlanes = 1;
    p.info.bmiHeader.biBitCount = 32;
    p.info.bmiHeader.biCompression = BI_RGB;
    p.pixels.resize(static_cast<size_t>(kPictureWidth) * kPictureHeight);
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            p.pixels[static_cast<size_t>(y) * kPictureWidth + x] =
                RGB(40 + x * 200 / kPictureWidth, 90, 160 + y * 90 / kPictureHeight);
    return p;
}

struct Window {
    Picture picture;
    HFONT font;
};

void Paint(HWND hwnd, const Window& w) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    StretchDIBits(dc, 16, 16, kPictureWidth, kPictureHeight, 0, 0, kPictureWidth, kPictureHeight,
                  w.picture.pixels.data(), &w.picture.info, DIB_RGB_COLORS, SRCCOPY);
    HGDIOBJ old = SelectObject(dc, w.font);
    RECT text{kPictureWidth + 32, 16, 620, 460};
    DrawTextW(dc,
              L"Welcome. This program shows one window with a picture and a paragraph of text, so that the time "
              L"to its first complete paint can be set beside the updater's.",
              -1, &text, DT_WORDBREAK);
    SelectObject(dc, old);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
            break;
        case WM_PAINT:
            Paint(hwnd, *reinterpret_cast<const Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    Window window{MakePicture(), nullptr};
    window.font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"TrivialWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Trivial window", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 660, 520, nullptr, nullptr, instance, &window);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DeleteObject(window.font);
    return 0;
}
