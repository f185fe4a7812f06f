#include "CCodingPace.h"

#include <algorithm>
#include <cstdlib>

CCodingPace::CCodingPace() : m_uiBudgetUs(0), m_uiWindow(1), m_uiCount(0), m_uiSumUs(0), m_uiMeanUs(0)
{
}

void CCodingPace::Start(uint32_t xFramerate)
{
    const uint64_t uiFrameRate = std::max<uint64_t>(1, (static_cast<uint64_t>(xFramerate) + 0x8000) >> 16);
    const uint64_t uiPeriodUs = (1000000ull << 16) / std::max<uint32_t>(1, xFramerate);
    m_uiBudgetUs = uiPeriodUs * s_uiBudgetPercent / 100;
    const char* szBudget = getenv("PELLIX_SIM_ENCODER_BUDGET_US");
    if (szBudget != nullptr && szBudget[0] != 0)
        m_uiBudgetUs = strtoull(szBudget, nullptr, 10);
    m_uiWindow = static_cast<unsigned>(std::min<uint64_t>(uiFrameRate, s_uiMaxWindow));
    Restart();
}

void CCodingPace::Restart()
{
    m_uiCount = 0;
    m_uiSumUs = 0;
    m_uiMeanUs = 0;
}

bool CCodingPace::Note(uint64_t uiMicroseconds)
{
    m_uiSumUs += uiMicroseconds;
    if (++m_uiCount < m_uiWindow)
        return false;
    m_uiMeanUs = m_uiSumUs / m_uiCount;
    m_uiCount = 0;
    m_uiSumUs = 0;
    return m_uiMeanUs > m_uiBudgetUs;
}
