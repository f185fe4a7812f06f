// The frame rate a client reports for a stream ("60/1", "30000/1001", "25"), as a number.
//
// The server stamps each picture with the running time at which it reaches the stream, so a
// client that guesses the rate from the first pictures' times may land a little away from the
// input's rate (29.92 for 30, say, and 29.5 on a busy machine, whose pictures reach the stream
// less evenly); tests compare within 5 %, which a stream whose pictures share a time (a guess of
// twice the rate) or come at another rate still fails. A source without a clock of its own (the
// default picture, paced by the display) gives no rate to guess.
#ifndef PELLIX_TEST_FRAME_RATE_H
#define PELLIX_TEST_FRAME_RATE_H

#include <cstdlib>
#include <string>

inline double ParseFrameRate(const std::string& roRate)
{
    const size_t uiSlash = roRate.find('/');
    const double dNumerator = std::strtod(roRate.substr(0, uiSlash).c_str(), nullptr);
    if (uiSlash == std::string::npos)
        return dNumerator;
    const double dDenominator = std::strtod(roRate.substr(uiSlash + 1).c_str(), nullptr);
    return dDenominator != 0.0 ? dNumerator / dDenominator : 0.0;
}

const double g_dFrameRateTolerance = 0.05;

#endif // PELLIX_TEST_FRAME_RATE_H
