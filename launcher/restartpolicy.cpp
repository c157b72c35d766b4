#include "restartpolicy.h"

#include <algorithm>

namespace {
RestartPolicy g_default;
}

int RestartPolicy::restartDelay(int crashCount) const
{
    if (crashCount < 1 || crashCount > kMaxCrashes)
        return -1;
    if (crashCount == 1)
        return scaled(10);
    if (crashCount <= 5)
        return scaled(1000);
    return scaled(5000);
}

int RestartPolicy::crashResetInterval() const
{
    return scaled(30000);
}

void RestartPolicy::setTimeScale(int divisor)
{
    m_divisor = std::max(1, divisor);
}

int RestartPolicy::scaled(int ms) const
{
    return std::max(1, ms / m_divisor);
}

RestartPolicy RestartPolicy::defaultPolicy()
{
    return g_default;
}

void RestartPolicy::setDefaultPolicy(const RestartPolicy &policy)
{
    g_default = policy;
}
