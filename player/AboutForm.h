#pragma once
// The About box: program version, product, and the version of every package
// the launcher found. Also shown, without waiting, as a splash while a scheme
// given on the command line opens.
#include <QDialog>

class CPluginsManager;
class QLabel;
class QTextEdit;

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  TfrmAbout(CPluginsManager* plugins, QWidget* parent = nullptr);
  QLabel* LabelVersion = nullptr;
  QLabel* LabelInfo = nullptr;
  QTextEdit* Packages = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
