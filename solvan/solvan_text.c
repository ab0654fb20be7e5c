/*
** solvan_text: text conversions of the bus. Sexagesimal angles ("12:30:36") to and from
** numbers, decimal numbers read the same in every locale, and a sleep in microseconds.
**
** solvan_dtos hands out one of four buffers per thread in rotation, so threads never share
** one and a result survives three further calls on its thread.
*/
#define _POSIX_C_SOURCE 200809L

#include <limits.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "solvan_bus_private.h"

#define TEXT_SIZE 128      /* bytes of a sexagesimal text and of the part of a text read */
#define ROTATING_BUFFERS 4 /* results of solvan_dtos alive at once per thread */
/* Whole degrees of up to this many digits are printed in full: with a sign and ":MM:SS.ss" the
** text still fits TEXT_SIZE. */
#define MAX_DEGREE_DIGITS 117

static locale_t c_locale;
static pthread_once_t c_locale_once = PTHREAD_ONCE_INIT;

static void make_c_locale(void) {
    c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
}

/* strtod in the C locale, whatever the thread's or the process's locale. */
static double c_strtod(const char* text) {
    pthread_once(&c_locale_once, make_c_locale);
    if (c_locale == (locale_t)0) return strtod(text, NULL);
    locale_t previous = uselocale(c_locale);
    double value = strtod(text, NULL);
    uselocale(previous);
    return value;
}

/* Appends the decimal digits at `*text` to `out` (of `room` bytes left at `*used`), advancing
** both. Returns the number of digits read; digits beyond the room are read but not kept. */
static int take_digits(const char** text, char* out, size_t room, size_t* used) {
    int count = 0;
    for (; **text >= '0' && **text <= '9'; (*text)++, count++)
        if (*used + 1 < room) out[(*used)++] = **text;
    return count;
}

double solvan_atod(const char* text) {
    if (text == NULL) return 0;
    /* The number is rewritten in the C locale's form and read by strtod in the C locale, which
       rounds it correctly; digits beyond the 300th of a part only shift its scale, as in the text.
     */
    char number[640];
    size_t used = 0;
    while (*text == ' ')
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int whole = take_digits(&text, number, 300, &used);
    int dropped = whole - (int)used; /* integer digits not kept: a power of ten */
    int fraction = 0;
    if (*text == '.' || *text == ',') {
        text++;
        number[used++] = '.';
        size_t before = used;
        fraction = take_digits(&text, number, before + 300, &used);
    }
    number[used] = '\0';
    double value = whole + fraction > 0 ? c_strtod(number) : 0;
    long exponent = dropped;
    if (*text == 'e' || *text == 'E') {
        text++;
        bool negative_exponent = false;
        if (*text == '+' || *text == '-') negative_exponent = *text++ == '-';
        long given = 0;
        for (; *text >= '0' && *text <= '9'; text++)
            if (given < 100000) given = given * 10 + (*text - '0');
        exponent += negative_exponent ? -given : given;
        if (value == 0) {
            value = 1;
            used = (size_t)snprintf(number, sizeof number, "1");
        }
    }
    if (exponent != 0) {
        /* Scaled in one step through the text, so 2.5e2 is exactly 250. */
        snprintf(number + used, sizeof number - used, "e%ld", exponent);
        value = c_strtod(number);
    }
    return negative ? -value : value;
}

double solvan_stod(const char* text) {
    if (text == NULL) return 0;
    char copy[TEXT_SIZE];
    solvan_copy_field(copy, sizeof copy, text);
    char* first = strpbrk(copy, ":*'\xDF");
    if (first == NULL) return solvan_atod(copy);
    *first = '\0';
    double degrees = solvan_atod(copy);
    char* rest = first + 1;
    char* second = strpbrk(rest, ":*'");
    double minutes, seconds = 0;
    if (second != NULL) {
        *second = '\0';
        minutes = solvan_atod(rest);
        seconds = solvan_atod(second + 1);
    } else {
        minutes = solvan_atod(rest);
    }
    /* The sign is read from the text, so that -0:30 is below zero too. */
    const char* sign = copy + strspn(copy, " ");
    if (*sign == '-') return degrees - minutes / 60 - seconds / 3600;
    return degrees + minutes / 60 + seconds / 3600;
}

const char* solvan_dtos(double value, const char* format) {
    static _Thread_local char buffers[ROTATING_BUFFERS][TEXT_SIZE];
    static _Thread_local unsigned next;
    char* buffer = buffers[next];
    next = (next + 1) % ROTATING_BUFFERS;

    /* No angle to print: the C library's own texts, whatever the format. */
    if (isnan(value) || isinf(value)) {
        solvan_copy_field(buffer, TEXT_SIZE, isnan(value) ? "nan" : value < 0 ? "-inf" : "inf");
        return buffer;
    }
    double a = fabs(value);
    double whole = floor(a);
    double minutes_exact = 60 * (a - whole);
    int minutes = (int)minutes_exact;
    double seconds = 60 * (minutes_exact - floor(minutes_exact));
    char text[TEXT_SIZE];
    if (format != NULL) {
        /* The caller's format takes the degrees as an int: beyond its range they saturate. */
        int degrees = whole < (double)INT_MAX ? (int)whole : INT_MAX;
        size_t length = strlen(format);
        if (length > 0 && format[length - 1] == 'd')
            snprintf(text, sizeof text, format, degrees, minutes, (int)seconds);
        else
            snprintf(text, sizeof text, format, degrees, minutes, seconds);
    } else if (snprintf(NULL, 0, "%.0f", whole) <= MAX_DEGREE_DIGITS) {
        /* Whole degrees printed from the double, which holds them exactly, as a 64-bit integer
           would within its range. */
        snprintf(text, sizeof text, "%.0f:%02d:%05.2f", whole, minutes, floor(seconds * 100) / 100);
    } else {
        /* Degrees too long for the text (such a value has no fraction): in exponent form, with
           the fewest digits that read back as the same value. */
        char degrees[32];
        for (int digits = 1; digits <= 17; digits++) {
            snprintf(degrees, sizeof degrees, "%.*e", digits - 1, whole);
            if (solvan_atod(degrees) == whole) break;
        }
        snprintf(text, sizeof text, "%s:%02d:%05.2f", degrees, minutes, floor(seconds * 100) / 100);
    }
    if (value < 0) {
        if (text[0] == '+') {
            text[0] = '-';
            solvan_copy_field(buffer, TEXT_SIZE, text);
        } else {
            buffer[0] = '-';
            solvan_copy_field(buffer + 1, TEXT_SIZE - 1, text);
        }
    } else {
        solvan_copy_field(buffer, TEXT_SIZE, text);
    }
    return buffer;
}

void solvan_usleep(uint32_t microseconds) {
    if (microseconds >= 1000000) sleep(microseconds / 1000000);
    uint32_t rest = microseconds % 1000000;
    if (rest != 0) {
        struct timespec wait = {0, (long)rest * 1000};
        while (nanosleep(&wait, &wait) != 0) {
        }
    }
}

char* solvan_dtoa(char* buffer, double value) {
    snprintf(buffer, 32, "%.10g", value);
    char* comma = strchr(buffer, ',');
    if (comma != NULL) *comma = '.';
    return buffer;
}
