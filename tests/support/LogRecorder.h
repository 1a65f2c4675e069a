#pragma once

#include "core/Logger.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <spdlog/sinks/base_sink.h>
#include <string>
#include <vector>

// Keeps the messages logged while it lives, with their levels. It takes the process's logger to itself:
// the loggers added before it are gone when it goes.
class LogRecorder {
public:
    struct Entry {
        spdlog::level::level_enum level;
        std::string message;
    };

    explicit LogRecorder(int levelMask = LogLevel::Verbose)
        : sink_(std::make_shared<Sink>()) {
        Logger::removeAllLoggers();
        Logger::addLogger(sink_, levelMask);
    }
    ~LogRecorder() { Logger::removeAllLoggers(); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::vector<Entry> entries() const { return sink_->entries(); }
    // The messages written at the level, in order.
    std::vector<std::string> at(spdlog::level::level_enum level) const {
        std::vector<std::string> out;
        for (const Entry& e : entries())
            if (e.level == level)
                out.push_back(e.message);
        return out;
    }
    // How many messages were exactly this text.
    long count(const std::string& message) const {
        const auto all = entries();
        return std::count_if(all.begin(), all.end(), [&](const Entry& e) { return e.message == message; });
    }
    long count(spdlog::level::level_enum level, const std::string& message) const {
        const auto all = entries();
        return std::count_if(all.begin(), all.end(),
                             [&](const Entry& e) { return e.level == level && e.message == message; });
    }

private:
    class Sink : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<Entry> entries() {
            std::lock_guard lock(mutex_);
            return entries_;
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            entries_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
        }
        void flush_() override {}

    private:
        std::vector<Entry> entries_;
    };

    std::shared_ptr<Sink> sink_;
};
