// Byte streams of the HTTP client. Response bodies travel through a chain of write-only filters
// (socket, TLS, chunked, gzip, destination); request bodies are read from a stream the request makes.
// No platform code: builds in the host lane too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace memoline {

enum class TnetSeekOrigin {
    Begin,    // offset from the start
    Current,  // offset from the current position
    End,      // offset from the end
};

class TnetStream {
public:
    virtual ~TnetStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end or for a write-only stream).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes; returns how many were taken. Filters take all of them or throw.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Moves the position; returns the new one. Streams that cannot seek throw.
    virtual std::int64_t Seek(std::int64_t offset, TnetSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, TnetSeekOrigin::Current); }
};

// A stream over bytes in memory: a request body, the collected response body, a test's sink.
class TnetStringStream : public TnetStream {
public:
    TnetStringStream() = default;
    explicit TnetStringStream(std::string data) : data_(std::move(data)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    // Writes at the position, overwriting and then extending the bytes.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Positions are clamped to 0 .. Size().
    std::int64_t Seek(std::int64_t offset, TnetSeekOrigin origin) override;

    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    const std::string& DataString() const { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

}  // namespace memoline
