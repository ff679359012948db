// A WinINet handle that a call on a worker may still be using after the UI thread has given the call
// up: it is closed when the last holder lets go, on whichever thread that is, and a request keeps the
// session it was opened in alive, so no call ever meets a closed (or reused) handle value.
#pragma once

#include <memory>
#include <utility>

#include "core/Handles.h"

namespace memoline {

class shared_hinternet {
    struct Holder;

public:
    shared_hinternet() = default;
    shared_hinternet(HINTERNET handle, shared_hinternet parent);

    HINTERNET get() const;
    explicit operator bool() const { return get() != nullptr; }
    void reset() { holder_.reset(); }

private:
    std::shared_ptr<Holder> holder_;
};

struct shared_hinternet::Holder {
    Holder(shared_hinternet p, HINTERNET h) : parent(std::move(p)), handle(h) {}
    shared_hinternet parent;  // declared first: closed after the child
    unique_hinternet handle;
};

inline shared_hinternet::shared_hinternet(HINTERNET handle, shared_hinternet parent)
    : holder_(handle ? std::make_shared<Holder>(std::move(parent), handle) : nullptr) {}

inline HINTERNET shared_hinternet::get() const {
    return holder_ ? holder_->handle.get() : nullptr;
}

}  // namespace memoline
