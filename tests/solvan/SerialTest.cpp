// Serial ports on pseudo-terminals: every mode text gives the terminal settings read back with
// tcgetattr, and bytes cross in both directions; malformed modes fail with EINVAL.
#include "solvan_io.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

// The settings last handed to tcsetattr. The Linux pseudo-terminal driver forces CS8 and
// clears PARENB in what it keeps, so data bits and parity are read from the call itself.
static termios lastApplied;
extern "C" int tcsetattr(int handle, int actions, const termios* settings) noexcept {
    using Real = int (*)(int, int, const termios*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    lastApplied = *settings;
    return real(handle, actions, settings);
}

namespace {

// A pseudo-terminal pair; the slave path stands for the serial port.
struct Pty {
    Pty() {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() {
        close(master);
        close(slave);
    }
    int master = -1, slave = -1;
    std::string path;
};

struct ModeCase {
    const char* mode;
    speed_t speed;
    tcflag_t size;    // CS5..CS8
    tcflag_t parity;  // PARENB and PARODD bits
    bool twoStops;    // CSTOPB
};

TEST(Serial, ModeTextGivesTerminalSettingsAndBytesCross) {
    const ModeCase cases[] = {
        {"9600-8N1", B9600, CS8, 0, false},           {"115200-7E2", B115200, CS7, PARENB, true},
        {"50-5o1", B50, CS5, PARENB | PARODD, false}, {"230400-6n2", B230400, CS6, 0, true},
        {"1200-8e1", B1200, CS8, PARENB, false},      {"134-7O2", B134, CS7, PARENB | PARODD, true},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        Pty pty;
        ASSERT_FALSE(pty.path.empty());
        const int handle = solvan_open_serial_with_config(pty.path.c_str(), c.mode);
        ASSERT_GE(handle, 0) << strerror(errno);
        termios t{};
        ASSERT_EQ(tcgetattr(handle, &t), 0);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(lastApplied.c_cflag & CSIZE, c.size);
        EXPECT_EQ(lastApplied.c_cflag & (PARENB | PARODD), c.parity);
        EXPECT_EQ(t.c_cflag & PARODD, c.parity & PARODD);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_TRUE((t.c_cflag & (CREAD | CLOCAL)) == (CREAD | CLOCAL));
        EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR), c.parity ? INPCK : IGNPAR);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 50);
        EXPECT_EQ(fcntl(handle, F_GETFL) & O_ACCMODE, O_RDWR);

        ASSERT_EQ(write(pty.master, "ping\r\n", 6), 6);
        char line[16];
        EXPECT_EQ(solvan_read_line(handle, line, 15), 4);
        EXPECT_STREQ(line, "ping");
        EXPECT_TRUE(solvan_write(handle, "pong", 4));
        char back[4];
        ASSERT_EQ(read(pty.master, back, 4), 4);
        EXPECT_EQ(std::string(back, 4), "pong");
        close(handle);
    }
}

TEST(Serial, DefaultAndSpeedVariants) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    for (auto [speed, expected] : {std::pair{0, B9600}, std::pair{19200, B19200}}) {
        const int handle = speed ? solvan_open_serial_with_speed(pty.path.c_str(), speed)
                                 : solvan_open_serial(pty.path.c_str());
        ASSERT_GE(handle, 0);
        EXPECT_EQ(cfgetospeed(&lastApplied), expected);
        EXPECT_EQ(lastApplied.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), CS8);
        close(handle);
    }
    EXPECT_EQ(solvan_open_serial_with_speed(pty.path.c_str(), 12345), -1);
}

TEST(Serial, MalformedModesAndPathsFail) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    const int lowestFree = open("/dev/null", O_RDONLY);
    close(lowestFree);
    for (const char* mode : {"9600-8X1", "9601-8N1", "9600-9N1", "9600-8N", "9600-4N1", "9600-8N3",
                             "9600-8N1 ", "9600", "", "-8N1", "96OO-8N1", "+9600-8N1", "9600--8N1",
                             "9600-8N1-8N1", "9600-8N1000000000000000000000000000000000"}) {
        errno = 0;
        EXPECT_EQ(solvan_open_serial_with_config(pty.path.c_str(), mode), -1) << mode;
        EXPECT_EQ(errno, EINVAL) << mode;
    }
    // /dev/null opens but takes no terminal settings.
    for (auto [path, error] :
         {std::pair{"/nonexistent/tty", ENOENT}, std::pair{"/dev/null", ENOTTY}}) {
        errno = 0;
        EXPECT_EQ(solvan_open_serial_with_config(path, "9600-8N1"), -1);
        EXPECT_EQ(errno, error);
    }
    errno = 0;
    EXPECT_EQ(solvan_open_serial_with_config(pty.path.c_str(), nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(solvan_open_serial_with_config(nullptr, "9600-8N1"), -1);
    // No handle stays open after a failure, the failed settings on /dev/null included.
    const int next = open("/dev/null", O_RDONLY);
    EXPECT_EQ(next, lowestFree);
    close(next);
}

}  // namespace
