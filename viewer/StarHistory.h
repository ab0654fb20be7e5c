// The measurements and positions of the selected star, kept while it stays selected.
//
// Every successful measurement appends one entry to each of the three measurement lists, so
// they always have equal lengths; the oldest entry slides out once `maxMeasurements` are held.
// A failed measurement appends nothing. Every tracked frame appends the star's position to
// `driftHistory`, which slides out its oldest position beyond `maxPositions`. A new click or
// dragged rectangle empties all four lists (`clear`).
//
// The lists hold the measured numbers as the probe gave them: a width that is not positive
// or not a number stays as it is (the history graph leaves it out), and a peak that cannot be
// an integer (not a number, infinite, out of range) is held as no value.
#pragma once

#include "Image.h"

#include <QPointF>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class StarHistory {
  public:
    static constexpr size_t maxMeasurements = 101;  // the graph's 200 points at 2 per entry
    static constexpr size_t maxPositions = 201;     // the drift graph's 400 points at 2 per entry

    std::vector<double> fwhmHistory;                  // FWHM in pixels, oldest first
    std::vector<double> hfdHistory;                   // HFD in pixels, oldest first
    std::vector<std::optional<int64_t>> peakHistory;  // peak truncated toward zero; none: no number
    std::vector<QPointF> driftHistory;  // star positions in image pixels, oldest first

    // Empties the three measurement lists and the drift history.
    void clear();

    // Records one measurement, dropping the oldest once `maxMeasurements` are held.
    void appendMeasurement(const PSFResult& result);

    // Records the star's position on a new frame, dropping the oldest beyond `maxPositions`.
    void appendPosition(QPointF position);

    // Number of measurements held (the length of each of the three lists).
    size_t measurementCount() const { return fwhmHistory.size(); }
};
