#pragma once
// The station's tool window: the serial number (a bar-code scanner types it
// and Enter starts the unit), the operator, Start, then the verdict large
// and coloured, the limits that failed, the time the unit took, and how the
// results store is doing. It only shows and asks: the package decides.
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vkresults {

class CStationWindow : public QWidget {
 public:
  explicit CStationWindow(QWidget* parent);

  // Asked when Start is pressed (or Enter in the serial field) with a serial.
  std::function<void(const std::string& serial, const std::string& operatorName)> onStart;
  std::function<void()> onShowResults;

  std::string Serial() const;
  std::string Operator() const;
  void SetOperator(const std::string& name);

  // What the window shows.
  void ShowIdle();
  void ShowMeasuring(int sweepsAwaited);
  void ShowVerdict(bool pass, const std::vector<std::string>& failing, double seconds);
  void ShowStore(const std::string& text, bool problem);
  void SetStartEnabled(bool enabled);

  QLineEdit* SerialEdit() const { return serial_; }
  QPushButton* StartButton() const { return start_; }
  QLabel* VerdictLabel() const { return verdict_; }
  QListWidget* FailingList() const { return failing_; }

 private:
  void Start();
  void SetVerdictText(const QString& text, const QColor& background);

  QLineEdit* serial_ = nullptr;
  QLineEdit* operator_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* results_ = nullptr;
  QLabel* verdict_ = nullptr;
  QLabel* time_ = nullptr;
  QLabel* store_ = nullptr;
  QListWidget* failing_ = nullptr;
};

}  // namespace vkresults
