// The installed library: `cmake --install` of the "solvan" component into a fresh prefix, then a
// small C driver built against it with pkg-config, once shared and once static, and run.
#include <gtest/gtest.h>

#include "Shell.h"

#include <string>

namespace {

namespace fs = std::filesystem;

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

// Runs `command` with its errors in `output`; returns its exit status.
int run(const std::string& command, std::string& output) {
    int status = -1;
    output = shell(command + " 2>&1", &status);
    return status;
}

TEST(Install, DriverBuildsWithPkgConfigAgainstTheInstalledTree) {
    ScratchDir root;
    const fs::path prefix = root.path / "prefix", libdir = prefix / INSTALL_LIBDIR;
    std::string log;
    ASSERT_EQ(run("'" CMAKE_COMMAND "' --install '" BUILD_DIR "' --component solvan --prefix '" +
                      prefix.string() + "'",
                  log),
              0)
        << log;
    for (fs::path file :
         {libdir / "libsolvan.a", libdir / "libsolvan.so", libdir / "pkgconfig" / "solvan.pc",
          prefix / "include" / "solvan" / "solvan_bus.h",
          prefix / "include" / "solvan" / "solvan_token.h",
          prefix / "include" / "solvan" / "solvan_io.h"})
        EXPECT_TRUE(fs::exists(file)) << file;
    EXPECT_FALSE(fs::exists(prefix / "include" / "solvan" / "solvan_bus_private.h"));

    const std::string driver = root.write("driver.c", kDriver);
    const std::string env = "PKG_CONFIG_PATH='" + (libdir / "pkgconfig").string() + "' ";
    const std::string compile =
        "'" C_COMPILER "' -std=c11 -Wall -Werror " EXTRA_FLAGS " '" + driver + "' ";
    const std::pair<const char*, std::string> cases[] = {
        {"shared", "$(" + env + "pkg-config --cflags --libs solvan)"},
        {"static", "$(" + env +
                       "pkg-config --static --cflags --libs solvan | "
                       "sed 's/-lsolvan/-l:libsolvan.a/')"},
    };
    for (auto& [name, libraries] : cases) {
        const std::string program = (root.path / name).string();
        std::string output;
        ASSERT_EQ(run(compile + "-o '" + program + "' " + libraries, output), 0)
            << name << ": " << output;
        EXPECT_EQ(run("LD_LIBRARY_PATH='" + libdir.string() + "' '" + program + "'", output), 0);
        EXPECT_EQ(output, "1 -1:30:00.00 12.5\n") << name;
    }
}

}  // namespace
