// The byte stream the transport reads into and writes from. Minimal on purpose: the HTTP client
// adapts its own buffers and decoders to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace memoline {

class TnetStream {
public:
    virtual ~TnetStream() = default;
    // Copies up to `count` bytes from the current position; returns how many (0 at the end).
    virtual size_t Read(char* buffer, size_t count) = 0;
    // Appends or overwrites at the current position and moves past the written bytes.
    virtual void Write(const char* data, size_t count) = 0;
    // Moves the position by `delta` bytes (negative moves back); clamped to the stream.
    virtual void Skip(int64_t delta) = 0;
};

// A stream over an in-memory byte string.
class TnetMemoryStream : public TnetStream {
public:
    TnetMemoryStream() = default;
    explicit TnetMemoryStream(std::string data) : data_(std::move(data)) {}

    size_t Read(char* buffer, size_t count) override {
        size_t n = position_ < data_.size() ? std::min(count, data_.size() - position_) : 0;
        data_.copy(buffer, n, position_);
        position_ += n;
        return n;
    }
    void Write(const char* data, size_t count) override {
        data_.replace(position_, std::min(count, data_.size() - position_), data, count);
        position_ += count;
    }
    void Skip(int64_t delta) override {
        int64_t target = static_cast<int64_t>(position_) + delta;
        position_ = static_cast<size_t>(std::clamp<int64_t>(target, 0, static_cast<int64_t>(data_.size())));
    }

    const std::string& Data() const { return data_; }
    size_t Position() const { return position_; }
    void Rewind() { position_ = 0; }

private:
    std::string data_;
    size_t position_ = 0;
};

}  // namespace memoline
