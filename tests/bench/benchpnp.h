// The PnP install's share of the benchmark.
#pragma once

#include <functional>
#include <string>

typedef double (*MedianFn)(int runs, const std::function<void()>& work);
typedef void (*ReportFn)(const std::string& name, double component, double platform);

void BenchPnp(MedianFn median, ReportFn report);
