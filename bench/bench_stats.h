#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace lumiclip::bench {

// Order statistics of a series of times in milliseconds.
struct Summary {
    double median = 0;
    double p90 = 0;
    double min = 0;
    int count = 0;
};

inline Summary summarize(std::vector<double> ms) {
    Summary s;
    s.count = static_cast<int>(ms.size());
    if (ms.empty()) {
        return s;
    }
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    s.median = n % 2 == 1 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    s.p90 = ms[std::min(n - 1, (n * 9 + 9) / 10 - 1)];
    s.min = ms.front();
    return s;
}

inline double elapsedMs(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace lumiclip::bench
