// Whether a live encoder keeps up with its input: the time it took to code each of the last
// pictures (one second's worth at the input's rate) against the time it may take, which is the
// time between two pictures less a margin for the rest of the chain (PELLIX_SIM_ENCODER_BUDGET_US
// sets it instead, in microseconds, so that a test can make any machine too slow). Allocates
// nothing once started.
#ifndef CCODING_PACE_H
#define CCODING_PACE_H

#include <cstdint>

class CCodingPace
{
public:
    // Share of the time between two pictures that coding one may take.
    static constexpr unsigned s_uiBudgetPercent = 90;

    CCodingPace();

    // Starts afresh for an input of xFramerate frames per second (Q16).
    void Start(uint32_t xFramerate);
    // Forgets the pictures seen so far (after the coding was made faster).
    void Restart();
    // Notes that coding a picture took uiMicroseconds; true when the pictures of the last full
    // window took longer on average than the budget.
    bool Note(uint64_t uiMicroseconds);

    uint64_t BudgetUs() const { return m_uiBudgetUs; }
    // Mean coding time of the last full window.
    uint64_t MeanUs() const { return m_uiMeanUs; }

private:
    static constexpr unsigned s_uiMaxWindow = 240;

    uint64_t m_uiBudgetUs;
    unsigned m_uiWindow;
    unsigned m_uiCount;
    uint64_t m_uiSumUs;
    uint64_t m_uiMeanUs;
};

#endif // CCODING_PACE_H
