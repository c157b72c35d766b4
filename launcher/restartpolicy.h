#pragma once

// When a crashed child is started again: 10 ms after the first counted crash, 1 s after crashes
// 2 to 5, 5 s after crashes 6 to 10, never after that; the count returns to zero 30 s after the
// latest restart. Tests scale the times down.
class RestartPolicy
{
public:
    static constexpr int kMaxCrashes = 10;

    // Delay before the restart after the given crash count, or -1 for no restart.
    int restartDelay(int crashCount) const;
    int crashResetInterval() const;

    // Divides every time by the factor (at least 1 ms).
    void setTimeScale(int divisor);
    // The policy new processes take.
    static RestartPolicy defaultPolicy();
    static void setDefaultPolicy(const RestartPolicy &policy);

private:
    int scaled(int ms) const;

    int m_divisor = 1;
};
