#pragma once
// The results window: the latest results in a table (filtered by serial
// and verdict), the yield per hour or per day as bars, and a histogram of a
// chosen reading with its limits; what the table shows goes to CSV. The
// store is read aside (a long operation), with a connection of its own.
#include <QDialog>

#include <map>
#include <string>
#include <vector>

#include "ResultStore.h"
#include "limits/LimitLines.h"

class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace vkresults {

class CResultsWindow : public QDialog {
 public:
  CResultsWindow(QWidget* parent, TStoreConfig config);

  // The limits of readings, drawn on their histograms.
  void SetReadingLimits(std::map<std::string, korchart::TValueLimits> limits) { limits_ = std::move(limits); }
  // Reads the store again and shows what the filters ask for.
  void Refresh();
  // Writes what the table shows; false (said) when the file is not written.
  bool ExportCsv(const std::string& file);

  QTableWidget* Table() const { return table_; }
  QCustomPlot* YieldChart() const { return yield_; }
  QCustomPlot* Histogram() const { return histogram_; }
  QComboBox* ReadingCombo() const { return reading_; }
  const std::vector<TResult>& Shown() const { return shown_; }

 private:
  void FillTable();
  void FillYield(const std::vector<TYieldBucket>& buckets, bool perDay);
  void FillHistogram(const std::string& name, const std::vector<double>& values);

  TStoreConfig config_;
  QLineEdit* serial_ = nullptr;
  QComboBox* verdict_ = nullptr;
  QComboBox* period_ = nullptr;
  QComboBox* reading_ = nullptr;
  QTableWidget* table_ = nullptr;
  QCustomPlot* yield_ = nullptr;
  QCustomPlot* histogram_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<TResult> shown_;
  std::map<std::string, korchart::TValueLimits> limits_;
};

}  // namespace vkresults
