// Helpers for the fuzz targets of the support library's parsers.
#pragma once

#include "solvan_bus.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Keeps the library's log lines (every refused input logs one) off the fuzzer's output.
inline void quietSolvanLog() {
    solvan_log_message_handler = [](const char*) {};
}

// The input as a zero-terminated text, cut at its first zero byte as a C caller would see it.
inline std::string inputText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size).c_str();
}
