/*
** solvan_serial: opening a serial port from a compact mode text.
**
** "9600-8N1" names the speed, the data bits, the parity and the stop bits. The port is put in
** raw mode: no echo, no line editing, no character translation, and a read returns what has
** arrived or nothing after 5 seconds.
*/
#define _DEFAULT_SOURCE /* B230400 and the other speeds POSIX does not name */

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "solvan_io.h"

#define MODE_TEXT_SIZE 33 /* the mode text counts on its first 32 characters */

static const struct {
    const char* text; /* speed as written in the mode text */
    speed_t speed;    /* termios code of the speed */
} speeds[] = {{"50", B50},         {"75", B75},        {"110", B110},     {"134", B134},
              {"150", B150},       {"200", B200},      {"300", B300},     {"600", B600},
              {"1200", B1200},     {"1800", B1800},    {"2400", B2400},   {"4800", B4800},
              {"9600", B9600},     {"19200", B19200},  {"38400", B38400}, {"57600", B57600},
              {"115200", B115200}, {"230400", B230400}};

/* Fills `settings` from `mode`. Returns false for a malformed mode. */
static bool settings_of(const char* mode, struct termios* settings) {
    char text[MODE_TEXT_SIZE];
    snprintf(text, sizeof text, "%s", mode);
    char* dash = strchr(text, '-');
    if (dash == NULL) return false;
    *dash = '\0';
    const char* frame = dash + 1;
    int speed = -1;
    for (int i = 0; i < (int)(sizeof speeds / sizeof speeds[0]); i++)
        if (strcmp(text, speeds[i].text) == 0) speed = i;
    if (speed < 0 || strlen(frame) != 3) return false;

    memset(settings, 0, sizeof *settings);
    settings->c_cflag = CREAD | CLOCAL;
    switch (frame[0]) {
        case '5':
            settings->c_cflag |= CS5;
            break;
        case '6':
            settings->c_cflag |= CS6;
            break;
        case '7':
            settings->c_cflag |= CS7;
            break;
        case '8':
            settings->c_cflag |= CS8;
            break;
        default:
            return false;
    }
    switch (frame[1]) {
        case 'N':
        case 'n':
            settings->c_iflag = IGNPAR;
            break;
        case 'E':
        case 'e':
            settings->c_iflag = INPCK;
            settings->c_cflag |= PARENB;
            break;
        case 'O':
        case 'o':
            settings->c_iflag = INPCK;
            settings->c_cflag |= PARENB | PARODD;
            break;
        default:
            return false;
    }
    switch (frame[2]) {
        case '1':
            break;
        case '2':
            settings->c_cflag |= CSTOPB;
            break;
        default:
            return false;
    }
    settings->c_cc[VMIN] = 0;
    settings->c_cc[VTIME] = 50; /* tenths of a second */
    cfsetispeed(settings, speeds[speed].speed);
    cfsetospeed(settings, speeds[speed].speed);
    return true;
}

int solvan_open_serial_with_config(const char* path, const char* mode) {
    struct termios settings;
    if (path == NULL || mode == NULL || !settings_of(mode, &settings)) {
        errno = EINVAL;
        return -1;
    }
    int handle = open(path, O_RDWR | O_NOCTTY | O_SYNC);
    if (handle < 0) return -1;
    if (tcsetattr(handle, TCSANOW, &settings) != 0) {
        int error = errno;
        close(handle);
        errno = error;
        return -1;
    }
    return handle;
}

int solvan_open_serial_with_speed(const char* path, int speed) {
    char mode[MODE_TEXT_SIZE];
    snprintf(mode, sizeof mode, "%d-8N1", speed);
    return solvan_open_serial_with_config(path, mode);
}

int solvan_open_serial(const char* path) {
    return solvan_open_serial_with_speed(path, 9600);
}
