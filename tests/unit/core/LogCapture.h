#pragma once

#include "core/Logger.h"

#include <spdlog/sinks/ostream_sink.h>

#include <memory>
#include <sstream>
#include <string>

// Collects the lines logged while it lives, at every level, in the program's line format.
class LogCapture {
public:
    LogCapture() {
        sink_->set_formatter(Logger::makeFormatter());
        Logger::addLogger(sink_, LogLevel::Verbose);
    }
    ~LogCapture() { Logger::removeAllLoggers(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return out_.str(); }
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
    // Whether an error-level line holds the text.
    bool hasError(const std::string& part) const {
        std::istringstream lines(text());
        for (std::string line; std::getline(lines, line);) {
            if (line.find("[E]") != std::string::npos && line.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
    void clear() { out_.str({}); }

private:
    std::ostringstream out_;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink_ =
        std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
};
