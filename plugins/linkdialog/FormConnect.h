#pragma once
// The connection dialog: an address frame (the stored list of a device type
// and its editing), a connection frame (progress while the instrument link
// connects) and an error frame (the link's error text); an entry editor.
#include <QDialog>
#include <QTableWidget>

#include <functional>
#include <string>

#include "AddressList.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace linkdialog {

// The address grid: "№", "Имя", "Адрес"; whole rows are selected and may
// be dragged to another place.
class TAddressGrid : public QTableWidget {
  Q_OBJECT
 public:
  explicit TAddressGrid(QWidget* parent = nullptr);
  // Rows of the list (the header is not one of them).
  int DataRows() const { return rowCount(); }

 signals:
  // A row was dragged from `from` to `to`.
  void rowDragged(int from, int to);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void FitColumns();
  int dragRow_ = -1;
};

// An entry's name and address.
class TFormEditItem : public QDialog {
  Q_OBJECT
 public:
  TFormEditItem(QWidget* owner, const QString& caption);
  QLineEdit* Edit1 = nullptr;  // name
  QLineEdit* Edit2 = nullptr;  // address
};

class TFrameAddress : public QWidget {
  Q_OBJECT
 public:
  TFrameAddress(QWidget* parent, const std::string& deviceType, QPushButton* okButton);
  // Reads the list of the device type from the configuration file.
  void LoadList();
  // Writes it back (every other part of the file stays as it was).
  void SaveList();
  // The address of the selected row ("" for an empty row or none).
  QString SelectedAddress() const;
  QString LastAddress() const { return lastAddress_; }
  void SetLastAddress(const QString& address) { lastAddress_ = address; }
  TAddressList List() const;

  TAddressGrid* StringGrid1 = nullptr;
  QCheckBox* CheckBoxAutoConnect = nullptr;
  QAction* ActionUp = nullptr;
  QAction* ActionDown = nullptr;
  QAction* ActionAdd = nullptr;
  QAction* ActionChange = nullptr;
  QAction* ActionDelete = nullptr;

 private:
  void AddRow(const QString& name, const QString& host);
  void Renumber();
  void MoveRow(int from, int to);
  void OnAdd();
  void OnChange();
  void OnDelete();
  std::string deviceType_;
  QString lastAddress_;
  QPushButton* okButton_;
};

class TFrameConnection : public QWidget {
  Q_OBJECT
 public:
  explicit TFrameConnection(QWidget* parent);
  // The progress line grows by a pixel a tick; past the device picture it
  // starts again.
  void Tick();
  int LineWidth() const;

  QLabel* Message = nullptr;
  QLabel* Image1 = nullptr;  // the device
  QLabel* Image2 = nullptr;  // the computer
  QWidget* Shape1 = nullptr;  // the dotted line
  QPlainTextEdit* Memo1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Place();
};

class TFrameError : public QWidget {
  Q_OBJECT
 public:
  explicit TFrameError(QWidget* parent);
  QLabel* LabelError = nullptr;
};

class TFormConnect : public QDialog {
  Q_OBJECT
 public:
  TFormConnect(QWidget* owner, const std::string& deviceType, const QString& deviceName);

  // Called with the address to connect to.
  std::function<void(const std::string&)> OnConnect;

  // Starts connecting: the connection frame, the buttons off, the callback.
  void StartConnecting(const QString& address, bool saveList);
  void ShowConnectionError(const QString& text);
  void DeviceAnswers();    // the device has begun to answer
  void ConnectionDone();   // connected: the dialog closes
  void ShowAddressFrame();

  QWidget* Panel1 = nullptr;
  QPushButton* Button1 = nullptr;  // "ОК"
  QPushButton* Button2 = nullptr;  // "Отмена"
  QAction* ActionConnect = nullptr;
  TFrameAddress* Address = nullptr;
  TFrameConnection* Connection = nullptr;
  TFrameError* Error = nullptr;
  QWidget* CurrentFrame() const;

 private:
  void OnOk();
  QStackedWidget* frames_ = nullptr;
};

}  // namespace linkdialog
