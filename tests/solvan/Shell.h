// Scratch directories and shell commands for tests that check the library against system tools.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

// A directory of its own under /tmp, removed with its contents at the end of the scope.
struct ScratchDir {
    ScratchDir() {
        char pattern[] = "/tmp/solvan-test-XXXXXX";
        if (mkdtemp(pattern)) path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    // Writes `data` into the file `name` here; returns the file's path.
    std::string write(const std::string& name, const std::string& data) const {
        std::ofstream(path / name, std::ios::binary) << data;
        return (path / name).string();
    }
    std::filesystem::path path;
};

// The standard output of `command`; `status` gets its exit status (-1: it did not exit).
inline std::string shell(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, n);
    const int result = pclose(pipe);
    if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return out;
}

// `data` packed by the system's gzip tool.
inline std::string gzipTool(const std::string& data) {
    ScratchDir dir;
    return shell("gzip -c -n '" + dir.write("plain", data) + "'");
}
