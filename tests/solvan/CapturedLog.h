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
        clear();
        solvan_set_log_level(level);
        solvan_log_message_handler = &CapturedLog::hook;
    }
    ~CapturedLog() {
        solvan_log_message_handler = nullptr;
        solvan_set_log_level(SOLVAN_LOG_ERROR);
    }

    static std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex());
        return store();
    }
    static bool has(const std::string& line) {
        const std::vector<std::string> all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    static void clear() {
        std::lock_guard<std::mutex> lock(mutex());
        store().clear();
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& store() {
        static std::vector<std::string> s;
        return s;
    }
    static void hook(const char* message) {
        std::lock_guard<std::mutex> lock(mutex());
        store().emplace_back(message);
    }
};
