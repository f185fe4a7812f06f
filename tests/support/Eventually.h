// Bounded waiting for a condition that another thread makes true. The bound is generous: it only
// keeps a broken test from hanging, it never measures speed.
#ifndef PELLIX_TEST_EVENTUALLY_H
#define PELLIX_TEST_EVENTUALLY_H

#include <chrono>
#include <thread>

template <typename TPredicate>
bool Eventually(TPredicate fnPredicate, std::chrono::milliseconds oBound = std::chrono::seconds(20))
{
    const auto oDeadline = std::chrono::steady_clock::now() + oBound;
    while (!fnPredicate())
    {
        if (std::chrono::steady_clock::now() > oDeadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#endif // PELLIX_TEST_EVENTUALLY_H
