// Collects the library's log messages through its hook while in scope, at a chosen level.
#pragma once

#include "solvan_bus.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class CapturedLog {
  public:
    explicit CapturedLog(uint32_t level = SOLVAN_LOG_TRACE) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
        solvan_set_log_level(level);
        solvan_log_message_handler = [](const char* message) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(message);
        };
    }
    ~CapturedLog() {
        solvan_log_message_handler = nullptr;
        solvan_set_log_level(SOLVAN_LOG_ERROR);
    }

    static std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    static bool has(const std::string& line) {
        const std::vector<std::string> all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

  private:
    static inline std::mutex mutex_;
    static inline std::vector<std::string> messages_;
};
