#pragma once
// The wizard's form: a navy heading with the page caption, the page (text,
// a dock for other windows, a picture on the right, the progress of a
// measurement at the bottom) and the buttons "<< Назад", "Далее >>" and
// "Отмена". It also holds the actions Start, Stop and Wizard that the tool
// bar and the menu show.
#include <QDialog>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

class TFrmRunWizard : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmRunWizard(QWidget* owner);

  // Shows `file` on the right (proportional, centred); an empty or
  // unreadable file leaves the page without a picture. False when a named
  // file could not be read.
  bool SetPicture(const QString& file);

  QLabel* LabelCaption = nullptr;
  QLabel* HeadingPicture = nullptr;
  QLabel* LabelText = nullptr;
  QWidget* PanelDock = nullptr;
  QWidget* PanelPicture = nullptr;
  QLabel* Picture = nullptr;
  QWidget* PanelProgress = nullptr;
  QLabel* LabelProgress = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QPushButton* ButtonBack = nullptr;
  QPushButton* ButtonForward = nullptr;
  QPushButton* ButtonCancel = nullptr;
  QAction* ActionBack = nullptr;
  QAction* ActionNext = nullptr;
  QAction* ActionCancel = nullptr;
  QAction* ActionStart = nullptr;
  QAction* ActionStop = nullptr;
  QAction* ActionWizard = nullptr;
};
