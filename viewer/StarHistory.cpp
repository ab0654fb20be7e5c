#include "StarHistory.h"

#include "ProbeTexts.h"

void StarHistory::clear() {
    fwhmHistory.clear();
    hfdHistory.clear();
    peakHistory.clear();
    driftHistory.clear();
}

void StarHistory::appendMeasurement(const PSFResult& result) {
    if (fwhmHistory.size() >= maxMeasurements) {
        fwhmHistory.erase(fwhmHistory.begin());
        hfdHistory.erase(hfdHistory.begin());
        peakHistory.erase(peakHistory.begin());
    }
    fwhmHistory.push_back(result.fwhm);
    hfdHistory.push_back(result.hfd);
    peakHistory.push_back(ProbeTexts::truncatedInteger(result.peak));
}

void StarHistory::appendPosition(QPointF position) {
    if (driftHistory.size() >= maxPositions) driftHistory.erase(driftHistory.begin());
    driftHistory.push_back(position);
}
