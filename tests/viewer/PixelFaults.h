// A tally of device pixels found wrong, for tests of what the marker view shows.
#pragma once

#include <map>
#include <string>

// Device pixels found wrong in one paint, by fault, and the first of them.
struct Faults {
    std::map<std::string, int> counts;
    std::string first;
    void add(const char* what, int i, int j) {
        if (counts[what]++ == 0 && first.empty())
            first = std::string(what) + " at device pixel " + std::to_string(i) + "," +
                    std::to_string(j);
    }
};
