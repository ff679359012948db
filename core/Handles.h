// Move-only owners for the platform's handle kinds. Each kind names its failure value and its close
// function once, here, so no caller repeats them. A kind closed through a library loaded at run time
// (sockets) is declared beside that library's loader.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <utility>

#include "core/WinInet.h"

namespace memoline {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid())
            Traits::close(old);
    }
    // For out-parameters of platform calls: frees what was held first.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace handle_traits {
struct kernel {
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::CloseHandle(h); }
};
struct file {  // CreateFile and FindFirstChangeNotification fail with INVALID_HANDLE_VALUE, not NULL
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { ::CloseHandle(h); }
};
struct find {  // FindFirstFile: closed with FindClose
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { ::FindClose(h); }
};
struct hinternet {
    using pointer = HINTERNET;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { core::wininet::InternetCloseHandle(h); }
};
struct module {
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::FreeLibrary(h); }
};
struct gdi {
    using pointer = HGDIOBJ;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::DeleteObject(h); }
};
// The GDI objects we draw with, typed so they go to the drawing calls without casts.
struct brush {
    using pointer = HBRUSH;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::DeleteObject(h); }
};
struct bitmap {
    using pointer = HBITMAP;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::DeleteObject(h); }
};
struct memory_dc {  // CreateCompatibleDC: freed with DeleteDC, never ReleaseDC
    using pointer = HDC;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::DeleteDC(h); }
};
struct screen_dc {  // GetDC(nullptr): released, not deleted
    using pointer = HDC;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::ReleaseDC(nullptr, h); }
};
struct window {
    using pointer = HWND;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ::DestroyWindow(h); }
};
}  // namespace handle_traits

using unique_handle = unique_any<handle_traits::kernel>;
using unique_file = unique_any<handle_traits::file>;
using unique_find = unique_any<handle_traits::find>;
using unique_hinternet = unique_any<handle_traits::hinternet>;
using unique_hmodule = unique_any<handle_traits::module>;
using unique_gdiobj = unique_any<handle_traits::gdi>;
using unique_hbrush = unique_any<handle_traits::brush>;
using unique_hbitmap = unique_any<handle_traits::bitmap>;
using unique_memory_dc = unique_any<handle_traits::memory_dc>;
using unique_screen_dc = unique_any<handle_traits::screen_dc>;
using unique_hwnd = unique_any<handle_traits::window>;

}  // namespace memoline
