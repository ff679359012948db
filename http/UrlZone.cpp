#include "http/UrlZone.h"

#include <objbase.h>
#include <urlmon.h>

#include <memory>

#include "core/LazyLibrary.h"

namespace memoline {
namespace {

// Never freed: a request on a worker may still be inside them while the process ends.
core::TLazyLibrary& Urlmon() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"urlmon.dll");
    return *library;
}

core::TLazyLibrary& Ole32() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"ole32.dll");
    return *library;
}

// COM on the calling thread for the question's length; a thread already in an apartment keeps it.
class TComForCall {
public:
    TComForCall() {
        static const core::TLazyFunction<decltype(&::CoInitializeEx)> initialize(Ole32(), "CoInitializeEx");
        hr_ = initialize.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr, DWORD{COINIT_MULTITHREADED});
    }
    ~TComForCall() {
        static const core::TLazyFunction<decltype(&::CoUninitialize)> uninitialize(Ole32(), "CoUninitialize");
        if (SUCCEEDED(hr_))
            uninitialize.CallIfFound();
    }
    TComForCall(const TComForCall&) = delete;
    TComForCall& operator=(const TComForCall&) = delete;

private:
    HRESULT hr_;
};

struct TRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};

}  // namespace

bool IsLocalIntranetUrl(const std::wstring& url) {
    static const core::TLazyFunction<decltype(&::CoInternetCreateSecurityManager)> create(
        Urlmon(), "CoInternetCreateSecurityManager");
    TComForCall com;
    IInternetSecurityManager* made = nullptr;
    if (FAILED(create.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr, &made, DWORD{0})) || !made)
        return false;
    const std::unique_ptr<IInternetSecurityManager, TRelease> manager(made);
    DWORD zone = URLZONE_INVALID;
    if (FAILED(manager->MapUrlToZone(url.c_str(), &zone, 0)))
        return false;
    return zone == URLZONE_INTRANET;
}

}  // namespace memoline
