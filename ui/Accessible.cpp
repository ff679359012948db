#include "ui/Accessible.h"

#include <oleacc.h>

#include <functional>
#include <utility>

#include "core/LazyLibrary.h"

namespace memoline::ui {
namespace {

// Loaded on the first question, not imported: the program would load them, and what they load, at
// every start. Never freed: the objects handed out live on in the clients' hands.
core::TLazyLibrary& OleaccLibrary() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"oleacc.dll");
    return *library;
}
core::TLazyLibrary& Ole32Library() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"ole32.dll");
    return *library;
}
core::TLazyLibrary& OleautLibrary() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"oleaut32.dll");
    return *library;
}

using SysAllocStringLenFn = decltype(&::SysAllocStringLen);

BSTR AllocString(const std::wstring& text) {
    static const core::TLazyFunction<SysAllocStringLenFn> fn(OleautLibrary(), "SysAllocStringLen");
    return fn.CallOr(BSTR{}, text.data(), static_cast<UINT>(text.size()));
}

// The object handed to the client is marshalled through COM, so the thread that answers needs an
// apartment: entered at the first question and kept for the thread's life (the windows it answers
// for live as long).
bool EnterApartment() {
    static const core::TLazyFunction<decltype(&::CoInitializeEx)> initialize(Ole32Library(), "CoInitializeEx");
    const HRESULT hr =
        initialize.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr, DWORD{COINIT_APARTMENTTHREADED});
    // Already in one: of either kind, it serves.
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

void Empty(VARIANT* v) {
    V_VT(v) = VT_EMPTY;
}

// Child ids 1..parts are the painted parts; the standard object's children follow, shifted by their
// number.
class TAccessibleObject final : public IAccessible {
public:
    TAccessibleObject(HWND hwnd, IAccessible* inner, TAccessibleDetails details)
        : hwnd_(hwnd), inner_(inner), details_(std::move(details)) {}
    ~TAccessibleObject() { inner_->Release(); }
    TAccessibleObject(const TAccessibleObject&) = delete;
    TAccessibleObject& operator=(const TAccessibleObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

    // IDispatch: clients call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return inner_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (!count)
            return E_POINTER;
        LONG innerCount = 0;
        if (FAILED(inner_->get_accChildCount(&innerCount)))
            innerCount = 0;
        *count = Parts() + innerCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Part:
                return S_FALSE;  // a simple element, asked for through its id
            case Kind::Inner:
                return inner_->get_accChild(inner, out);
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Self:
                if (const std::wstring own = details_.Name ? details_.Name() : std::wstring(); !own.empty()) {
                    *name = Copy(own);
                    return S_OK;
                }
                return inner_->get_accName(inner, name);
            case Kind::Part:
                *name = Copy(Part(child).Name);
                return S_OK;
            case Kind::Inner:
                return inner_->get_accName(inner, name);
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return ForInner(child, value, [&](VARIANT v) { return inner_->get_accValue(v, value); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        if (!description)
            return E_POINTER;
        *description = nullptr;
        VARIANT inner;
        const Kind kind = Classify(child, inner);
        std::wstring text;
        if (kind == Kind::Self && details_.Description)
            text = details_.Description();
        else if (kind == Kind::Inner && details_.ChildDescription)
            text = details_.ChildDescription(V_I4(&inner));
        if (!text.empty()) {
            *description = Copy(text);
            return S_OK;
        }
        if (kind == Kind::Part)
            return S_FALSE;
        return kind == Kind::Invalid ? E_INVALIDARG : inner_->get_accDescription(inner, description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role)
            return E_POINTER;
        Empty(role);
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Part:
                V_VT(role) = VT_I4;
                V_I4(role) = Part(child).Role;
                return S_OK;
            case Kind::Self:
            case Kind::Inner:
                return inner_->get_accRole(inner, role);
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state)
            return E_POINTER;
        Empty(state);
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Part:
                V_VT(state) = VT_I4;
                V_I4(state) = STATE_SYSTEM_READONLY | (IsWindowVisible(hwnd_) ? 0 : STATE_SYSTEM_INVISIBLE);
                return S_OK;
            case Kind::Self:
            case Kind::Inner:
                return inner_->get_accState(inner, state);
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return ForInner(child, help, [&](VARIANT v) { return inner_->get_accHelp(v, help); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return ForInner(child, file, [&](VARIANT v) { return inner_->get_accHelpTopic(file, v, topic); });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return ForInner(child, shortcut, [&](VARIANT v) { return inner_->get_accKeyboardShortcut(v, shortcut); });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        const HRESULT hr = inner_->get_accFocus(focus);
        Shift(focus);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        const HRESULT hr = inner_->get_accSelection(selection);
        Shift(selection);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return ForInner(child, action, [&](VARIANT v) { return inner_->get_accDefaultAction(v, action); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        BSTR* none = nullptr;
        return ForInner(child, none, [&](VARIANT v) { return inner_->accSelect(flags, v); });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Part: {
                if (!left || !top || !width || !height)
                    return E_POINTER;
                RECT r = Part(child).Bounds;
                MapWindowPoints(hwnd_, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
                *left = r.left;
                *top = r.top;
                *width = r.right - r.left;
                *height = r.bottom - r.top;
                return S_OK;
            }
            case Kind::Self:
            case Kind::Inner:
                return inner_->accLocation(left, top, width, height, inner);
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end)
            return E_POINTER;
        Empty(end);
        VARIANT inner;
        const Kind kind = Classify(start, inner);
        const LONG parts = Parts();
        if (kind == Kind::Self && direction == NAVDIR_FIRSTCHILD && parts > 0)
            return Id(end, 1);
        if (kind == Kind::Part) {
            const LONG id = V_I4(&start);
            if (direction == NAVDIR_PREVIOUS)
                return id > 1 ? Id(end, id - 1) : S_FALSE;
            if (direction == NAVDIR_NEXT) {
                if (id < parts)
                    return Id(end, id + 1);
                VARIANT self;
                Empty(&self);
                V_VT(&self) = VT_I4;
                V_I4(&self) = CHILDID_SELF;
                const HRESULT hr = inner_->accNavigate(NAVDIR_FIRSTCHILD, self, end);
                Shift(end);
                return hr;
            }
            return S_FALSE;
        }
        if (kind == Kind::Invalid)
            return E_INVALIDARG;
        const HRESULT hr = inner_->accNavigate(direction, inner, end);
        Shift(end);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        if (!hit)
            return E_POINTER;
        // A child window first (the grid lies inside its group's part), then the innermost part.
        const HRESULT hr = inner_->accHitTest(x, y, hit);
        if (SUCCEEDED(hr) && (V_VT(hit) == VT_DISPATCH || (V_VT(hit) == VT_I4 && V_I4(hit) != CHILDID_SELF))) {
            Shift(hit);
            return hr;
        }
        POINT at{x, y};
        ScreenToClient(hwnd_, &at);
        for (LONG i = Parts(); i > 0; --i) {
            if (PtInRect(&details_.Parts[i - 1].Bounds, at)) {
                return Id(hit, i);  // the standard object's answer was the window itself: nothing to free
            }
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        BSTR* none = nullptr;
        return ForInner(child, none, [&](VARIANT v) { return inner_->accDoDefaultAction(v); });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    enum class Kind { Self, Part, Inner, Invalid };

    LONG Parts() const { return static_cast<LONG>(details_.Parts.size()); }
    const TAccessiblePart& Part(const VARIANT& child) const { return details_.Parts[V_I4(&child) - 1]; }

    // What a child id names; `inner` is the id to give the standard object (self for self).
    Kind Classify(const VARIANT& child, VARIANT& inner) const {
        Empty(&inner);
        V_VT(&inner) = VT_I4;
        V_I4(&inner) = CHILDID_SELF;
        if (V_VT(&child) != VT_I4)
            return Kind::Invalid;
        const LONG id = V_I4(&child);
        if (id == CHILDID_SELF)
            return Kind::Self;
        if (id < 0)
            return Kind::Invalid;
        if (id <= Parts())
            return Kind::Part;
        V_I4(&inner) = id - Parts();
        return Kind::Inner;
    }

    // A call about the object itself or a standard child goes to the standard object; a part has
    // nothing of the kind.
    template <typename Out, typename Call>
    HRESULT ForInner(const VARIANT& child, Out* out, Call call) {
        if (out)
            *out = {};
        VARIANT inner;
        switch (Classify(child, inner)) {
            case Kind::Self:
            case Kind::Inner:
                return call(inner);
            case Kind::Part:
                return S_FALSE;
            default:
                return E_INVALIDARG;
        }
    }

    // A child id from the standard object, in this object's numbering.
    void Shift(VARIANT* v) const {
        if (v && V_VT(v) == VT_I4 && V_I4(v) != CHILDID_SELF)
            V_I4(v) += Parts();
    }

    static HRESULT Id(VARIANT* v, LONG id) {
        V_VT(v) = VT_I4;
        V_I4(v) = id;
        return S_OK;
    }

    static BSTR Copy(const std::wstring& text) { return AllocString(text); }

    LONG refs_ = 1;
    HWND hwnd_;
    IAccessible* inner_;
    TAccessibleDetails details_;
};

}  // namespace

LRESULT AnswerGetObject(HWND hwnd, WPARAM wp, LPARAM lp, TAccessibleDetails details) {
    if (static_cast<LONG>(static_cast<DWORD>(lp)) != OBJID_CLIENT)
        return 0;
    static const core::TLazyFunction<decltype(&::CreateStdAccessibleObject)> createStandard(
        OleaccLibrary(), "CreateStdAccessibleObject");
    static const core::TLazyFunction<decltype(&::LresultFromObject)> result(OleaccLibrary(), "LresultFromObject");
    if (!EnterApartment())
        return 0;
    IAccessible* standard = nullptr;
    const HRESULT hr = createStandard.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), hwnd, LONG{OBJID_CLIENT},
                                             std::cref(__uuidof(IAccessible)), reinterpret_cast<void**>(&standard));
    if (FAILED(hr) || !standard)
        return 0;
    auto* object = new TAccessibleObject(hwnd, standard, std::move(details));
    const LRESULT answer =
        result.CallOr(LRESULT{0}, std::cref(__uuidof(IAccessible)), wp, static_cast<IUnknown*>(object));
    object->Release();  // the answer holds its own reference
    return answer;
}

}  // namespace memoline::ui
