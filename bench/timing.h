#pragma once

// What the benchmarks share: the mean time of a body over a benchmark's iterations.

#include <benchmark/benchmark.h>

#include <chrono>

template <typename Body>
double timed(benchmark::State &state, Body body)
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return total / static_cast<double>(state.iterations());
}
