// The main of a micro-benchmark whose figures go to standard error, so
// that standard output can be the sink of what it measures.
#pragma once

#include <benchmark/benchmark.h>
#include <iostream>

inline int run_benchmarks_to_stderr(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
