// The root of the object model: every component may have an owner that frees it, and events carry
// the object that raised them as their first argument (Sender).
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

namespace memoline {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// A component owned by another is destroyed with its owner; one without an owner is the caller's.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {
        if (owner_)
            owner_->owned_.push_back(this);
    }
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    ~TComponent() override {
        // Children are freed newest first; each one unlinks itself from this list.
        while (!owned_.empty())
            delete owned_.back();
        if (owner_) {
            auto& list = owner_->owned_;
            list.erase(std::remove(list.begin(), list.end(), this), list.end());
        }
    }

    TComponent* Owner() const { return owner_; }
    // True while a stored layout is being restored into the component; nothing here restores layouts,
    // but components that read on property change honour it.
    bool Loading() const { return loading_; }

protected:
    void SetLoading(bool loading) { loading_ = loading; }

private:
    TComponent* owner_;
    std::vector<TComponent*> owned_;
    bool loading_ = false;
};

}  // namespace memoline
