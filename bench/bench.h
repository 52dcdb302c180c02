#pragma once

#include <QStringList>

#include <functional>

// The benchmark program runs every registered section in turn and prints figures.
// A section registers itself from its own source file with ORB_BENCH_SECTION.
using BenchRun = std::function<int(const QStringList& args)>;
bool registerBenchSection(const char* name, const BenchRun& run);

#define ORB_BENCH_SECTION(name, fn) static const bool orbBenchRegistered_##fn = registerBenchSection(name, fn)
