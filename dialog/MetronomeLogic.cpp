#include "MetronomeLogic.h"

#include <cstdio>

UINT ClampTimerResolution(const TIMECAPS& caps) {
    UINT uResolution = caps.wPeriodMin;
    if (uResolution <= 10)
        uResolution = 10;
    if (uResolution >= caps.wPeriodMax)
        uResolution = caps.wPeriodMax;
    return uResolution;
}

std::string FormatTempo(int nTempo) {
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%d bpm", nTempo);
    return buffer;
}

const PriorityRow& PriorityRowForSelection(int nIndex) {
    constexpr int nRows = static_cast<int>(sizeof kPriorityRows / sizeof kPriorityRows[0]);
    if (nIndex < 0 || nIndex >= nRows)
        return kPriorityRows[kNormalPriorityIndex];
    return kPriorityRows[nIndex];
}
