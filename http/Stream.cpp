#include "http/Stream.h"

#include <algorithm>
#include <cstring>

namespace memoline {

std::size_t TnetStringStream::Read(void* buffer, std::size_t count) {
    if (position_ >= data_.size())
        return 0;
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TnetStringStream::Write(const void* buffer, std::size_t count) {
    if (count == 0)
        return 0;
    const char* bytes = static_cast<const char*>(buffer);
    if (position_ == data_.size()) {
        data_.append(bytes, count);
    } else {
        const std::size_t overlap = std::min(count, data_.size() - position_);
        data_.replace(position_, overlap, bytes, overlap);
        data_.append(bytes + overlap, count - overlap);
    }
    position_ += count;
    return count;
}

std::int64_t TnetStringStream::Seek(std::int64_t offset, TnetSeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
        case TnetSeekOrigin::Begin:
            base = 0;
            break;
        case TnetSeekOrigin::Current:
            base = static_cast<std::int64_t>(position_);
            break;
        case TnetSeekOrigin::End:
            base = Size();
            break;
    }
    const std::int64_t target = std::clamp<std::int64_t>(base + offset, 0, Size());
    position_ = static_cast<std::size_t>(target);
    return target;
}

}  // namespace memoline
