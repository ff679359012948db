// Decoder throughput on the host build: the gzip decoder against zlib's own gzip inflate on the same
// bytes, and the chunk decoder against a plain memory copy, each fed in 8 KiB pieces as the client
// feeds them. Every figure is the best of a few rounds, measured in this run.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/ChunkedStream.h"
#include "http/GZipInflateStream.h"

using namespace memoline;

namespace {

constexpr std::size_t kBodySize = 64u << 20;
constexpr std::size_t kPiece = 8192;
constexpr int kRounds = 5;

// Copies what it is given into a buffer of the body's size, so decoded bytes really land in memory.
class BufferSink : public TnetStream {
public:
    explicit BufferSink(std::size_t size) : buffer_(size) {}
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* data, std::size_t count) override {
        if (count > buffer_.size() - used_)
            throw std::runtime_error("sink overflow");
        std::memcpy(buffer_.data() + used_, data, count);
        used_ += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, TnetSeekOrigin) override { return static_cast<std::int64_t>(used_); }
    void Reset() { used_ = 0; }
    std::size_t Used() const { return used_; }
    const char* Data() const { return buffer_.data(); }

private:
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Text that compresses about as well as a catalogue or a log: lines of words and numbers.
std::string MakeText(std::size_t size) {
    static const char* const words[] = {"Memoline", "server",   "update",    "setup",  "version", "build",
                                        "release",  "download", "catalogue", "client", "data",    "install"};
    std::mt19937 random(12345);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        text += words[random() % 12];
        text += random() % 5 == 0 ? ";" : " ";
        if (random() % 8 == 0)
            text += std::to_string(random() % 100000) + "\r\n";
    }
    text.resize(size);
    return text;
}

std::string GzipCompress(const std::string& data) {
    z_stream stream{};
    // 16 + MAX_WBITS: the gzip wrapper, as a web server sends it.
    if (deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        throw std::runtime_error("deflate");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Chunk(const std::string& data) {
    std::mt19937 random(777);
    std::string out;
    out.reserve(data.size() + data.size() / 1000 + 64);
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 32768, data.size() - at);
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", n);
        out += line;
        out.append(data, at, n);
        out += "\r\n";
        at += n;
    }
    out += "0\r\n\r\n";
    return out;
}

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

// The best time of each contender over the rounds; the contenders take turns, so a busy spell of the
// machine hits both alike.
std::pair<double, double> BestSeconds(const std::function<void()>& first, const std::function<void()>& second) {
    double bestFirst = 1e9, bestSecond = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        bestFirst = std::min(bestFirst, Seconds(first));
        bestSecond = std::min(bestSecond, Seconds(second));
    }
    return {bestFirst, bestSecond};
}

void Feed(TnetStream& stream, const std::string& input) {
    for (std::size_t at = 0; at < input.size(); at += kPiece)
        stream.Write(input.data() + at, std::min(kPiece, input.size() - at));
}

// zlib's own gzip decoding of the same bytes, in the same pieces, into the same kind of sink.
void ZlibGunzip(const std::string& input, BufferSink& sink) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        throw std::runtime_error("inflateInit2");
    unsigned char out[16384];
    int result = Z_OK;
    for (std::size_t at = 0; at < input.size() && result != Z_STREAM_END; at += kPiece) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + at));
        stream.avail_in = static_cast<uInt>(std::min(kPiece, input.size() - at));
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                throw std::runtime_error("inflate");
            sink.Write(out, sizeof out - stream.avail_out);
        } while (stream.avail_out == 0 && result != Z_STREAM_END);
    }
    inflateEnd(&stream);
}

bool SinkHolds(const BufferSink& sink, const std::string& text) {
    return sink.Used() == text.size() && std::memcmp(sink.Data(), text.data(), text.size()) == 0;
}

// Each contender once, untimed: all of them must give back the body.
void Verify(BufferSink& sink, const std::string& text, const std::string& gzipped, const std::string& chunked) {
    {
        TnetGZipInflateStream gzip(sink);
        Feed(gzip, gzipped);
        if (!SinkHolds(sink, text))
            throw std::runtime_error("gzip decoder output differs");
    }
    sink.Reset();
    ZlibGunzip(gzipped, sink);
    if (!SinkHolds(sink, text))
        throw std::runtime_error("zlib output differs");
    sink.Reset();
    TnetChunkedStream decoder(sink);
    Feed(decoder, chunked);
    if (!decoder.IsCompleted() || !SinkHolds(sink, text))
        throw std::runtime_error("chunk decoder output differs");
}

double MegabytesPerSecond(std::size_t bytes, double seconds) {
    return bytes / 1e6 / seconds;
}

}  // namespace

int main() try {
    const std::string text = MakeText(kBodySize);
    const std::string gzipped = GzipCompress(text);
    const std::string chunked = Chunk(text);
    BufferSink sink(kBodySize);
    Verify(sink, text, gzipped, chunked);

    const auto [ours, zlib] = BestSeconds(
        [&] {
            sink.Reset();
            TnetGZipInflateStream gzip(sink);
            Feed(gzip, gzipped);
        },
        [&] {
            sink.Reset();
            ZlibGunzip(gzipped, sink);
        });
    const auto [dechunk, copy] = BestSeconds(
        [&] {
            sink.Reset();
            TnetChunkedStream decoder(sink);
            Feed(decoder, chunked);
        },
        [&] {
            sink.Reset();
            for (std::size_t at = 0; at < text.size(); at += kPiece)
                sink.Write(text.data() + at, std::min(kPiece, text.size() - at));
        });
    const double oursRate = MegabytesPerSecond(text.size(), ours);
    const double zlibRate = MegabytesPerSecond(text.size(), zlib);
    const double chunkedRate = MegabytesPerSecond(chunked.size(), dechunk);
    std::printf("body: %zu bytes, gzip %zu bytes, chunked %zu bytes, %zu-byte pieces, best of %d\n", text.size(),
                gzipped.size(), chunked.size(), kPiece, kRounds);
    std::printf("gzip_stream_mb_per_s=%.0f\n", oursRate);
    std::printf("zlib_gzip_mb_per_s=%.0f\n", zlibRate);
    std::printf("memcpy_mb_per_s=%.0f\n", MegabytesPerSecond(text.size(), copy));
    std::printf("gzip_vs_zlib=%.3f\n", oursRate / zlibRate);
    std::printf("chunked_mb_per_s=%.0f\n", chunkedRate);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench failed: %s\n", e.what());
    return 1;
}
