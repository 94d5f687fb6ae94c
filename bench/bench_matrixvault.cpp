// The matrix editor with a 10,000 × 8 matrix: opening it (filling the table
// and showing it), scrolling to the end, and taking the table and saving it.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <QScrollBar>
#include <QTableView>

#include <filesystem>

#include "FormEditMatrix.h"
#include "MatrixGrid.h"
#include "PacketTypes.h"

namespace {

constexpr unsigned kRows = 10000, kColumns = 8;

CDoubleMatrix& BigMatrix() {
  static CDoubleMatrix* m = [] {
    auto* matrix = new CDoubleMatrix;
    for (unsigned c = 0; c < kColumns; ++c) {
      auto* v = new CDoubleVector(kRows);
      for (unsigned r = 0; r < kRows; ++r) (*v)[r] = r * 0.001 + c;
      matrix->InsertColumn(v);
    }
    return matrix;
  }();
  return *m;
}

matrixvault::TEditorSettings Settings() { return {"Таблица", QString(), QString(), QString(), {"Частота"}}; }

void BM_OpenEditor(benchmark::State& state) {
  for (auto _ : state) {
    matrixvault::TFormEditMatrix editor(nullptr, Settings());
    editor.Fill(BigMatrix());
    editor.show();
    editor.grab();  // painted once
  }
}
BENCHMARK(BM_OpenEditor)->Unit(benchmark::kMillisecond);

void BM_ScrollToEndAndBack(benchmark::State& state) {
  matrixvault::TFormEditMatrix editor(nullptr, Settings());
  editor.Fill(BigMatrix());
  editor.show();
  QScrollBar* bar = editor.StringGrid1->verticalScrollBar();
  for (auto _ : state) {
    bar->setValue(bar->maximum());
    editor.StringGrid1->viewport()->grab();
    bar->setValue(0);
    editor.StringGrid1->viewport()->grab();
  }
}
BENCHMARK(BM_ScrollToEndAndBack)->Unit(benchmark::kMillisecond);

void BM_TakeAndSave(benchmark::State& state) {
  matrixvault::TFormEditMatrix editor(nullptr, Settings());
  editor.Fill(BigMatrix());
  const std::string file = (std::filesystem::temp_directory_path() / "vk-bench-matrix.txt").string();
  for (auto _ : state) {
    CDoubleMatrix taken;
    editor.Take(taken);
    taken.SaveToFile(file);
  }
  std::filesystem::remove(file);
}
BENCHMARK(BM_TakeAndSave)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithApplication(argc, argv, [] {}); }
