// Figures for the packet layer: XML vector forms, the matrix file and packet
// copies, each against a bare baseline measured in the same run.
#include <benchmark/benchmark.h>
#include <libxml/tree.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <unistd.h>

#include "PacketTypes.h"
#include "VKXml.h"

// Counts every allocation made through operator new in this program.
static std::atomic<long> g_allocations{0};
void* operator new(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

std::vector<double> RandomValues(size_t n) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> dist(-1000.0, 1000.0);
  std::vector<double> v(n);
  for (double& x : v) x = dist(rng);
  return v;
}

void BM_VectorXmlRoundTrip(benchmark::State& state) {
  const unsigned n = 10001;
  const std::vector<double> values = RandomValues(n);
  CDoubleVector vec(n);
  std::memcpy(vec.Data(), values.data(), n * sizeof(double));
  xmlDoc* doc = xmlNewDoc(BAD_CAST "1.0");
  xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST "p", nullptr);
  xmlDocSetRootElement(doc, e);
  CDoubleVector back;
  for (auto _ : state) {
    vec.SerializeData(e);
    back.DeserializeData(e);
    benchmark::DoNotOptimize(back.Data());
  }
  xmlFreeDoc(doc);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorXmlRoundTrip)->Unit(benchmark::kMillisecond);

void BM_VectorBaselineSnprintfStrtod(benchmark::State& state) {
  const unsigned n = 10001;
  const std::vector<double> values = RandomValues(n);
  std::vector<double> back(n);
  std::string text;
  for (auto _ : state) {
    text.clear();
    char buf[32];
    for (unsigned i = 0; i < n; ++i) {
      int len = std::snprintf(buf, sizeof buf, "%g", values[i]);
      if (i) text += ' ';
      text.append(buf, static_cast<size_t>(len));
    }
    const char* p = text.c_str();
    char* end;
    for (unsigned i = 0; i < n; ++i) {
      back[i] = std::strtod(p, &end);
      p = end;
    }
    benchmark::DoNotOptimize(back.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorBaselineSnprintfStrtod)->Unit(benchmark::kMillisecond);

// Writing a vector into XML as profiles do, against the six-digit writer the
// files had before (same values, same text layout). Argument 0: values with
// all their digits; 1: readings that six digits hold (hundredths of a dB).
std::vector<double> WriterValues(bool sixDigits) {
  std::vector<double> v = RandomValues(10001);
  if (sixDigits)
    for (double& x : v) x = std::round(x * 100) / 100;
  return v;
}

void BM_VectorXmlWrite(benchmark::State& state) {
  const std::vector<double> values = WriterValues(state.range(0) != 0);
  const unsigned n = static_cast<unsigned>(values.size());
  CDoubleVector vec(n);
  std::memcpy(vec.Data(), values.data(), n * sizeof(double));
  xmlDoc* doc = xmlNewDoc(BAD_CAST "1.0");
  xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST "p", nullptr);
  xmlDocSetRootElement(doc, e);
  for (auto _ : state) {
    vec.SerializeData(e);
    benchmark::ClobberMemory();
  }
  xmlFreeDoc(doc);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorXmlWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_VectorXmlWriteSixDigitsBaseline(benchmark::State& state) {
  const std::vector<double> values = WriterValues(state.range(0) != 0);
  const unsigned n = static_cast<unsigned>(values.size());
  xmlDoc* doc = xmlNewDoc(BAD_CAST "1.0");
  xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST "p", nullptr);
  xmlDocSetRootElement(doc, e);
  for (auto _ : state) {
    AnsiString text;
    text.reserve(static_cast<size_t>(n) * 8);
    for (unsigned i = 0; i < n; ++i) {
      if (i) text += ' ';
      vkcore::AppendG6(text, values[i]);
    }
    VKCore::AddAttribute(e, "vector", text);
    benchmark::ClobberMemory();
  }
  xmlFreeDoc(doc);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorXmlWriteSixDigitsBaseline)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

std::string MatrixFile() {
  static std::string name;
  if (!name.empty()) return name;
  char tmpl[] = "/tmp/vk-bench-matrix-XXXXXX";
  int fd = mkstemp(tmpl);
  close(fd);
  name = tmpl;
  CDoubleMatrix m;
  const std::vector<double> values = RandomValues(1000 * 1000);
  for (unsigned c = 0; c < 1000; ++c) {
    auto* col = new CDoubleVector(1000);
    std::memcpy(col->Data(), values.data() + c * 1000, 1000 * sizeof(double));
    m.InsertColumn(col);
  }
  m.SaveToFile(name);
  return name;
}

void BM_MatrixLoadFromFile(benchmark::State& state) {
  const std::string file = MatrixFile();
  CDoubleMatrix m;
  long bytes = 0;
  for (auto _ : state) {
    if (m.LoadFromFile(file) != 0) state.SkipWithError("load failed");
    FILE* f = std::fopen(file.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    bytes += std::ftell(f);
    std::fclose(f);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_MatrixLoadFromFile)->Unit(benchmark::kMillisecond);

void BM_MatrixBaselineStrtod(benchmark::State& state) {
  const std::string file = MatrixFile();
  std::vector<double> out;
  out.reserve(1000 * 1000);
  long bytes = 0;
  for (auto _ : state) {
    FILE* f = std::fopen(file.c_str(), "rb");
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    out.clear();
    const char* p = text.c_str();
    char* end;
    for (;;) {
      double v = std::strtod(p, &end);
      if (end == p) break;
      out.push_back(v);
      p = end;
    }
    bytes += static_cast<long>(text.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_MatrixBaselineStrtod)->Unit(benchmark::kMillisecond);

void BM_CopyPacketVector(benchmark::State& state) {
  const unsigned n = 100000;
  CDoubleVector vec(n);
  std::memset(vec.Data(), 0, n * sizeof(double));
  long allocations = 0;
  for (auto _ : state) {
    long before = g_allocations.load();
    CBasePacket* copy = vec.CopyPacket();
    allocations += g_allocations.load() - before;
    benchmark::DoNotOptimize(copy);
    delete copy;
  }
  // The packet object and its element array: two allocations, one copy.
  state.counters["allocs_per_copy"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * n * sizeof(double));
}
BENCHMARK(BM_CopyPacketVector);

void BM_CopyBaselineMemcpy(benchmark::State& state) {
  const unsigned n = 100000;
  std::vector<double> src(n, 0.0);
  for (auto _ : state) {
    double* dst = new double[n];
    std::memcpy(dst, src.data(), n * sizeof(double));
    benchmark::DoNotOptimize(dst);
    delete[] dst;
  }
  state.SetBytesProcessed(state.iterations() * n * sizeof(double));
}
BENCHMARK(BM_CopyBaselineMemcpy);

}  // namespace

BENCHMARK_MAIN();
