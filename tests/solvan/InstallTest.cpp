// The installed library: `cmake --install` of the "solvan" component into a fresh prefix, then a
// small C driver built against it with pkg-config, once shared and once static, and run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Runs `command` in the shell; returns its exit status and appends its output to `output`.
int run(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    std::string text;
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output += text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char* kDriver = R"(#include <solvan_bus.h>
#include <solvan_token.h>
#include <stdio.h>
#include <string.h>

static int changes;
static solvan_result change(solvan_device* device, solvan_client* client,
                            solvan_property* property) {
    (void)device;
    (void)client;
    if (strcmp(property->name, "CONNECTION") == 0 && solvan_get_switch(property, "CONNECTED"))
        changes++;
    return SOLVAN_OK;
}

int main(void) {
    solvan_device device = {.name = "CCD", .change_property = change};
    solvan_start();
    solvan_attach_device(&device);
    solvan_device_connect(NULL, "CCD");
    solvan_stop();
    printf("%d %s %g\n", changes, solvan_dtos(-1.5, NULL), solvan_stod("12:30"));
    return 0;
}
)";

TEST(Install, DriverBuildsWithPkgConfigAgainstTheInstalledTree) {
    fs::path root = fs::temp_directory_path() / ("solvan-install-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    fs::path prefix = root / "prefix";
    std::string log;
    ASSERT_EQ(run("'" CMAKE_COMMAND "' --install '" BUILD_DIR "' --component solvan --prefix '" +
                      prefix.string() + "'",
                  &log),
              0)
        << log;
    fs::path libdir = prefix / INSTALL_LIBDIR;
    for (fs::path file :
         {libdir / "libsolvan.a", libdir / "libsolvan.so", libdir / "pkgconfig" / "solvan.pc",
          prefix / "include" / "solvan" / "solvan_bus.h",
          prefix / "include" / "solvan" / "solvan_token.h",
          prefix / "include" / "solvan" / "solvan_io.h"})
        EXPECT_TRUE(fs::exists(file)) << file;
    EXPECT_FALSE(fs::exists(prefix / "include" / "solvan" / "solvan_bus_private.h"));

    std::ofstream(root / "driver.c") << kDriver;
    std::string env = "PKG_CONFIG_PATH='" + (libdir / "pkgconfig").string() + "' ";
    std::string compile = "'" C_COMPILER "' -std=c11 -Wall -Werror " EXTRA_FLAGS " '" +
                          (root / "driver.c").string() + "' ";
    struct Case {
        const char* name;
        std::string libraries;
    } cases[] = {
        {"shared", "$(" + env + "pkg-config --cflags --libs solvan)"},
        {"static", "$(" + env +
                       "pkg-config --static --cflags --libs solvan | "
                       "sed 's/-lsolvan/-l:libsolvan.a/')"},
    };
    for (auto& c : cases) {
        fs::path program = root / c.name;
        std::string output;
        ASSERT_EQ(run(compile + "-o '" + program.string() + "' " + c.libraries, &output), 0)
            << c.name << ": " << output;
        output.clear();
        EXPECT_EQ(
            run("LD_LIBRARY_PATH='" + libdir.string() + "' '" + program.string() + "'", &output),
            0);
        EXPECT_EQ(output, "1 -1:30:00.00 12.5\n") << c.name;
    }
    fs::remove_all(root);
}

}  // namespace
