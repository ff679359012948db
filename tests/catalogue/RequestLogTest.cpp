#include "catalogue/RequestLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace memoline {
namespace {

struct Entry {
    std::string receiver;
    uint8_t level;
    std::wstring text;
    bool operator==(const Entry&) const = default;
};

class RecordingLogger : public IRequestLogger {
public:
    explicit RecordingLogger(std::vector<Entry>& log) : log_(log) {}
    void Log(uint8_t level, const std::wstring& text) override { log_.push_back({"interface", level, text}); }

private:
    std::vector<Entry>& log_;
};

class RequestLogTest : public ::testing::Test {
protected:
    void TearDown() override {
        RequestLogEvent = nullptr;
        RequestLogger.reset();
    }
    std::vector<Entry> log_;
};

TEST_F(RequestLogTest, CallbackFirstThenInterface) {
    RequestLogEvent = [this](uint8_t level, const std::wstring& text) { log_.push_back({"callback", level, text}); };
    RequestLogger = std::make_shared<RecordingLogger>(log_);
    LogProgress(L"p");
    LogFailure(L"f");
    DoLog(7, L"d");
    EXPECT_EQ(log_, (std::vector<Entry>{{"callback", 0, L"p"},
                                        {"interface", 0, L"p"},
                                        {"callback", 2, L"f"},
                                        {"interface", 2, L"f"},
                                        {"callback", 7, L"d"},
                                        {"interface", 7, L"d"}}));
}

TEST_F(RequestLogTest, EitherReceiverAlone) {
    LogProgress(L"dropped");
    RequestLogger = std::make_shared<RecordingLogger>(log_);
    LogFailure(L"only interface");
    RequestLogger.reset();
    RequestLogEvent = [this](uint8_t level, const std::wstring& text) { log_.push_back({"callback", level, text}); };
    LogProgress(L"only callback");
    EXPECT_EQ(log_, (std::vector<Entry>{{"interface", 2, L"only interface"}, {"callback", 0, L"only callback"}}));
}

TEST_F(RequestLogTest, WhatAReceiverThrowsReachesTheCaller) {
    RequestLogEvent = [](uint8_t, const std::wstring&) { throw std::runtime_error("receiver"); };
    RequestLogger = std::make_shared<RecordingLogger>(log_);
    EXPECT_THROW(LogProgress(L"x"), std::runtime_error);
    EXPECT_TRUE(log_.empty());
}

}  // namespace
}  // namespace memoline
