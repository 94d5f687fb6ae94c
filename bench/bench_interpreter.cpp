// Expression interpreter: one evaluation of a compiled program against the
// same formula written as a C++ function, and the allocations an evaluation
// makes (counted by a replaced operator new; must be 0).
//   Distance:  (а.арг-б.арг)^2^0.5      (the default link-marker formula)
//   Formula20: 20 operators over the 6 variables a..f
// Two ways to time one evaluation:
//   *Evaluate / *Native: independent evaluations, which the processor
//     overlaps (throughput);
//   *Chained: each evaluation's first variable depends on the previous
//     result (set through SetValue, as callers set it), so one evaluation
//     finishes before the next starts (latency, what a caller waits).
// The component benchmark adds what a caller pays through IInterpreter:
// two SetVariableValue calls with Cyrillic names and one Calculate.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "interpreter/Interpreter.h"
#include "interpreter/KorvanInterpreter.h"

VK_COM_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** out);

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

// "(а.арг-б.арг)^2^0.5" in code page 1251.
const char kDistance[] = "(\xE0.\xE0\xF0\xE3-\xE1.\xE0\xF0\xE3)^2^0.5";
const char kFormula20[] = "(a+b)*(c-d)/(e+f)-a*b+c/d*e-f*f*3+(a-c)*(b-d)/(e*f+1)";

double NativeDistance(const double* v) { return std::pow(std::pow(v[0] - v[1], 2.0), 0.5); }

double NativeFormula20(const double* v) {
  const double a = v[0], b = v[1], c = v[2], d = v[3], e = v[4], f = v[5];
  return (a + b) * (c - d) / (e + f) - a * b + c / d * e - f * f * 3 + (a - c) * (b - d) / (e * f + 1);
}

// Allocations per iteration, counted over the timed loop.
class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state) : state_(state), start_(g_allocations.load()) {}
  ~AllocationCounter() {
    state_.counters["allocs_per_eval"] = benchmark::Counter(
        static_cast<double>(g_allocations.load() - start_), benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& state_;
  long start_;
};

void RunEngine(benchmark::State& state, const char* text, const char* const* names, int count,
               bool chained) {
  CInterpreter engine;
  for (int i = 0; i < count; ++i) {
    engine.Declare(names[i]);
    engine.SetValue(names[i], 1.5 + i * 0.75);
  }
  if (engine.Compile(text) != ieOk) {
    state.SkipWithError("the expression does not compile");
    return;
  }
  AllocationCounter allocations(state);
  double result = 0;
  if (chained) {
    for (auto _ : state) {
      engine.SetValue(names[0], 1.5 + result * 0.0);
      result = engine.Evaluate();
    }
  } else {
    for (auto _ : state) benchmark::DoNotOptimize(result = engine.Evaluate());
  }
  benchmark::DoNotOptimize(result);
}

void RunNative(benchmark::State& state, double (*fn)(const double*), bool chained) {
  double values[6];
  for (int i = 0; i < 6; ++i) values[i] = 1.5 + i * 0.75;
  benchmark::DoNotOptimize(values);
  AllocationCounter allocations(state);
  double result = 0;
  for (auto _ : state) {
    if (chained) values[0] = 1.5 + result * 0.0;
    benchmark::ClobberMemory();  // the values are read afresh each time
    benchmark::DoNotOptimize(result = fn(values));
  }
}

const char* const kDistanceNames[] = {"\xE0.\xE0\xF0\xE3", "\xE1.\xE0\xF0\xE3"};
const char* const kFormulaNames[] = {"a", "b", "c", "d", "e", "f"};

void BM_DistanceEvaluate(benchmark::State& state) { RunEngine(state, kDistance, kDistanceNames, 2, false); }
void BM_DistanceNative(benchmark::State& state) { RunNative(state, NativeDistance, false); }
void BM_DistanceEvaluateChained(benchmark::State& state) { RunEngine(state, kDistance, kDistanceNames, 2, true); }
void BM_DistanceNativeChained(benchmark::State& state) { RunNative(state, NativeDistance, true); }
void BM_Formula20Evaluate(benchmark::State& state) { RunEngine(state, kFormula20, kFormulaNames, 6, false); }
void BM_Formula20Native(benchmark::State& state) { RunNative(state, NativeFormula20, false); }
void BM_Formula20EvaluateChained(benchmark::State& state) { RunEngine(state, kFormula20, kFormulaNames, 6, true); }
void BM_Formula20NativeChained(benchmark::State& state) { RunNative(state, NativeFormula20, true); }
BENCHMARK(BM_DistanceEvaluate);
BENCHMARK(BM_DistanceNative);
BENCHMARK(BM_DistanceEvaluateChained);
BENCHMARK(BM_DistanceNativeChained);
BENCHMARK(BM_Formula20Evaluate);
BENCHMARK(BM_Formula20Native);
BENCHMARK(BM_Formula20EvaluateChained);
BENCHMARK(BM_Formula20NativeChained);

void BM_ComponentSetAndCalculate(benchmark::State& state) {
  IClassFactory* factory = nullptr;
  IInterpreter* p = nullptr;
  if (FAILED(DllGetClassObject(CLSID_Interpreter, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IInterpreter, reinterpret_cast<void**>(&p)))) {
    state.SkipWithError("no interpreter object");
    return;
  }
  p->DeclareVariable(u"а.арг");
  p->DeclareVariable(u"б.арг");
  p->SetExpression(u"(а.арг-б.арг)^2^0.5");
  double a = 0, result = 0;
  {
    AllocationCounter allocations(state);
    for (auto _ : state) {
      p->SetVariableValue(u"а.арг", a += 0.5);
      p->SetVariableValue(u"б.арг", 1.25);
      p->Calculate(&result);
      benchmark::DoNotOptimize(result);
    }
  }
  p->Release();
  factory->Release();
}
BENCHMARK(BM_ComponentSetAndCalculate);

}  // namespace

BENCHMARK_MAIN();
