// The PnP install's share of the benchmark.
#pragma once

#include <functional>
#include <string>

// The fastest and the median of a case's runs, in milliseconds.
struct TIMING {
    double min;
    double median;
};

// The component's and the platform's timings of a case measured in turns.
struct PAIRTIMING {
    TIMING component;
    TIMING platform;
};

typedef PAIRTIMING (*MeasurePairFn)(int runs, bool warmUp, const std::function<void()>& component,
                                    const std::function<void()>& platform);
// goal: the largest ratio of the medians (component / platform) the row may
// show.
typedef void (*ReportFn)(const std::string& name, double goal, const TIMING& component, const TIMING& platform);

void BenchPnp(MeasurePairFn measure, ReportFn report);
