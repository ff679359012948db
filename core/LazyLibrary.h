// A system DLL loaded on its first use rather than with the program. Every DLL in the exe's import
// table is loaded (with all it imports in turn) before the first line of wWinMain runs, which costs
// the window tens of milliseconds for libraries only a Check or an Install needs.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <type_traits>

namespace memoline::core {

// Loads `fileName` by its full path in the system folder, never from the program's folder, the
// current one or PATH, where anyone may have left a DLL of that name. nullptr when it is not there,
// with the reason in GetLastError.
inline HMODULE LoadSystemLibrary(const wchar_t* fileName) noexcept {
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + ::lstrlenW(fileName) >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[length] = L'\\';
    ::lstrcpyW(path + length + 1, fileName);
    // The DLLs it imports in turn from the system folder too. Windows 7 without KB2533623 does not
    // know the flag and refuses the call: there only the library itself comes from the right place.
    HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && ::GetLastError() == ERROR_INVALID_PARAMETER)
        module = ::LoadLibraryW(path);
    return module;
}

class TLazyLibrary {
public:
    // `fileName` must outlive the object (a literal).
    explicit TLazyLibrary(const wchar_t* fileName) noexcept : fileName_(fileName) {}
    TLazyLibrary(const TLazyLibrary&) = delete;
    TLazyLibrary& operator=(const TLazyLibrary&) = delete;

    // The function `name` of the library, typed as `Fn` (decltype(&TheFunction) of the SDK's
    // declaration); the library is loaded on the first call, from the system folder only. nullptr when
    // the library or the function is missing, with the reason in GetLastError.
    template <typename Fn>
    Fn Function(const char* name) {
        HMODULE module = Module();
        if (!module)
            return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    }

private:
    HMODULE Module() {
        std::call_once(loaded_, [this] {
            module_.reset(LoadSystemLibrary(fileName_));
            if (!module_)
                error_ = ::GetLastError();
        });
        if (!module_)
            ::SetLastError(error_);
        return module_.get();
    }

    // Not Handles.h's owner: that header brings wininet.h, which cannot stand beside winhttp.h.
    struct TFreeLibrary {
        void operator()(HMODULE module) const { ::FreeLibrary(module); }
    };

    const wchar_t* fileName_;
    std::once_flag loaded_;
    std::unique_ptr<std::remove_pointer_t<HMODULE>, TFreeLibrary> module_;
    DWORD error_ = ERROR_MOD_NOT_FOUND;
};

// One function of a lazy library, looked up once (on the first call of the wrapper that holds it).
template <typename Fn>
class TLazyFunction {
public:
    TLazyFunction(TLazyLibrary& library, const char* name) : fn_(library.Function<Fn>(name)) {}

    // The function's result; `failed` when the library or the function is missing, with
    // ERROR_PROC_NOT_FOUND in GetLastError, as the call's own failures report theirs.
    template <typename Result, typename... Args>
    Result CallOr(Result failed, Args... args) const {
        if (!fn_) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return failed;
        }
        return fn_(args...);
    }

    // For a function without a result: nothing happens when it is missing.
    template <typename... Args>
    void CallIfFound(Args... args) const {
        if (fn_)
            fn_(args...);
    }

private:
    Fn fn_;
};

}  // namespace memoline::core
