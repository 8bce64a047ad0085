// cr_pow against the C library's pow on the gain computers' arguments:
// envelope / threshold around and away from 1, exponents 1 - 10/r and
// 10/r - 1. "Throughput" calls on independent arguments; "Latency" feeds each
// result into the next base, as a recursive envelope does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/cr_pow.h"

namespace {

struct Args {
    std::vector<double> x, y;
};

const Args& gain_args() {
    static const Args a = [] {
        Args v;
        std::mt19937_64 g(7);
        std::uniform_real_distribution<double> u(0, 1);
        for (int i = 0; i < 4096; ++i) {
            const double threshold = std::floor(std::exp(u(g) * std::log(30000.0))) + 1;
            const double envelope = threshold * std::exp((u(g) - 0.5) * 6);  // within a factor 20 of it
            const int r = 11 + static_cast<int>(g() % 90);
            v.x.push_back(envelope / threshold);
            v.y.push_back(i & 1 ? 1 - 10.0 / r : 10.0 / r - 1);
        }
        return v;
    }();
    return a;
}

template <double (*Pow)(double, double)>
void BM_Throughput(benchmark::State& state) {
    const Args& a = gain_args();
    std::size_t i = 0;
    for (auto _ : state) {
        double sum = 0;
        for (int k = 0; k < 256; ++k, i = (i + 1) & 4095) sum += Pow(a.x[i], a.y[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 256);
}

template <double (*Pow)(double, double)>
void BM_Latency(benchmark::State& state) {
    const Args& a = gain_args();
    std::size_t i = 0;
    double carry = 0;
    for (auto _ : state) {
        for (int k = 0; k < 256; ++k, i = (i + 1) & 4095) carry = Pow(a.x[i] + carry * 0x1p-60, a.y[i]);
        benchmark::DoNotOptimize(carry);
    }
    state.SetItemsProcessed(state.iterations() * 256);
}

double c_pow(double x, double y) { return std::pow(x, y); }

BENCHMARK_TEMPLATE(BM_Throughput, qv::cr_pow);
BENCHMARK_TEMPLATE(BM_Throughput, c_pow);
BENCHMARK_TEMPLATE(BM_Latency, qv::cr_pow);
BENCHMARK_TEMPLATE(BM_Latency, c_pow);

}  // namespace
