// Collects the support library's debug lines while it lives (log level 2, a message hook),
// and restores error-only logging without a hook when it goes.
#pragma once

#include "solvan_bus.h"

#include <string>
#include <vector>

class DebugLines {
  public:
    DebugLines() {
        lines().clear();
        solvan_log_message_handler = [](const char* message) {
            std::string line(message);
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines().push_back(line);
        };
        solvan_set_log_level(SOLVAN_LOG_DEBUG);
    }
    ~DebugLines() {
        solvan_set_log_level(SOLVAN_LOG_ERROR);
        solvan_log_message_handler = nullptr;
    }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    // Every message so far, in order.
    const std::vector<std::string>& all() const { return lines(); }

  private:
    static std::vector<std::string>& lines() {
        static std::vector<std::string> collected;
        return collected;
    }
};
