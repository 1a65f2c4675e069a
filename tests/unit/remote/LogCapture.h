#pragma once

#include "core/Logger.h"

#include <mutex>
#include <spdlog/sinks/base_sink.h>
#include <string>
#include <utility>
#include <vector>

// While it lives, the process's only logger: keeps each message with its level.
class LogCapture {
public:
    LogCapture()
        : sink_(std::make_shared<Sink>()) {
        Logger::removeAllLoggers();
        Logger::addLogger(sink_, LogLevel::Verbose);
    }
    ~LogCapture() { Logger::removeAllLoggers(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::pair<spdlog::level::level_enum, std::string>> lines() const { return sink_->lines(); }
    // The messages written at the level.
    std::vector<std::string> at(spdlog::level::level_enum level) const {
        std::vector<std::string> out;
        for (const auto& [l, message] : lines()) {
            if (l == level)
                out.push_back(message);
        }
        return out;
    }

private:
    class Sink : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<std::pair<spdlog::level::level_enum, std::string>> lines() {
            std::lock_guard lock(mutex_);
            return lines_;
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            lines_.emplace_back(msg.level, std::string(msg.payload.data(), msg.payload.size()));
        }
        void flush_() override {}

    private:
        std::vector<std::pair<spdlog::level::level_enum, std::string>> lines_;
    };
    std::shared_ptr<Sink> sink_;
};
