#include "RunWizardForm.h"

#include <QAction>
#include <QHBoxLayout>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "GuiPlugin.h"

namespace {

QIcon Icon(const char* name) { return vkgui::SvgIcon(QStringLiteral(":/runguide/%1.svg").arg(QLatin1String(name))); }

// A button that shows an action and follows it (text, state).
QPushButton* ButtonFor(QAction* action, const char* name, QWidget* parent) {
  auto* b = new QPushButton(action->text(), parent);
  b->setObjectName(name);
  QObject::connect(b, &QPushButton::clicked, action, &QAction::trigger);
  QObject::connect(action, &QAction::changed, b, [b, action] {
    b->setText(action->text());
    b->setEnabled(action->isEnabled());
  });
  return b;
}

}  // namespace

TFrmRunWizard::TFrmRunWizard(QWidget* owner) : QDialog(owner) {
  setObjectName("FrmRunWizard");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(404, 204);

  auto make = [this](const char* name, const char* caption, const char* icon) {
    auto* a = new QAction(QString::fromUtf8(caption), this);
    a->setObjectName(name);
    if (icon) a->setIcon(Icon(icon));
    return a;
  };
  ActionBack = make("ActionBack", "<< Назад", nullptr);
  ActionNext = make("ActionNext", "Далее >>", nullptr);
  ActionCancel = make("ActionCancel", "Отмена", nullptr);
  ActionStart = make("ActionStart", "Старт", "start");
  ActionStart->setShortcut(QKeySequence(Qt::Key_F5));
  ActionStop = make("ActionStop", "Стоп", "stop");
  ActionStop->setShortcut(QKeySequence(Qt::Key_F6));
  ActionWizard = make("ActionWizard", "Мастер", "wizard");
  ActionWizard->setShortcut(QKeySequence(Qt::Key_F7));
  for (QAction* a : {ActionStart, ActionStop, ActionWizard}) a->setEnabled(false);

  // The heading.
  auto* heading = new QWidget(this);
  heading->setObjectName("PanelHeading");
  heading->setAutoFillBackground(true);
  QPalette navy = heading->palette();
  navy.setColor(QPalette::Window, QColor(0, 0, 128));
  navy.setColor(QPalette::WindowText, Qt::white);
  heading->setPalette(navy);
  LabelCaption = new QLabel(heading);
  LabelCaption->setObjectName("LabelCaption");
  QFont bold = LabelCaption->font();
  bold.setBold(true);
  bold.setPixelSize(14);
  LabelCaption->setFont(bold);
  HeadingPicture = new QLabel(heading);
  HeadingPicture->setObjectName("HeadingPicture");
  HeadingPicture->setPixmap(Icon("wizard").pixmap(32, 32));
  auto* headingRow = new QHBoxLayout(heading);
  headingRow->setContentsMargins(10, 6, 10, 6);
  headingRow->addWidget(LabelCaption, 1);
  headingRow->addWidget(HeadingPicture);

  // The page.
  LabelText = new QLabel(this);
  LabelText->setObjectName("LabelText");
  LabelText->setWordWrap(true);
  LabelText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PanelDock = new QWidget(this);
  PanelDock->setObjectName("PanelDock");
  auto* dockLayout = new QVBoxLayout(PanelDock);
  dockLayout->setContentsMargins(0, 0, 0, 0);
  PanelPicture = new QWidget(this);
  PanelPicture->setObjectName("PanelPicture");
  Picture = new QLabel(PanelPicture);
  Picture->setObjectName("Picture");
  Picture->setAlignment(Qt::AlignCenter);
  auto* pictureLayout = new QVBoxLayout(PanelPicture);
  pictureLayout->setContentsMargins(0, 0, 0, 0);
  pictureLayout->addWidget(Picture);
  PanelProgress = new QWidget(this);
  PanelProgress->setObjectName("PanelProgress");
  LabelProgress = new QLabel(QString::fromUtf8("До завершения осталось 0 сек."), PanelProgress);
  LabelProgress->setObjectName("LabelProgress");
  ProgressBar = new QProgressBar(PanelProgress);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  auto* progressLayout = new QVBoxLayout(PanelProgress);
  progressLayout->setContentsMargins(0, 0, 0, 0);
  progressLayout->addWidget(LabelProgress);
  progressLayout->addWidget(ProgressBar);

  auto* textColumn = new QVBoxLayout;
  textColumn->addWidget(LabelText, 1);
  textColumn->addWidget(PanelDock);
  auto* page = new QHBoxLayout;
  page->addLayout(textColumn, 1);
  page->addWidget(PanelPicture);

  ButtonBack = ButtonFor(ActionBack, "ButtonBack", this);
  ButtonForward = ButtonFor(ActionNext, "ButtonForward", this);
  ButtonForward->setDefault(true);
  ButtonCancel = ButtonFor(ActionCancel, "ButtonCancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonBack);
  buttons->addWidget(ButtonForward);
  buttons->addSpacing(8);
  buttons->addWidget(ButtonCancel);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 8);
  column->addWidget(heading);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(10, 6, 10, 0);
  body->addLayout(page, 1);
  body->addWidget(PanelProgress);
  body->addLayout(buttons);
  column->addLayout(body, 1);
}

bool TFrmRunWizard::SetPicture(const QString& file) {
  Picture->clear();
  if (file.isEmpty()) {
    PanelPicture->setFixedWidth(0);
    return true;
  }
  QImageReader reader(file);
  const QImage image = reader.read();
  if (image.isNull()) {
    PanelPicture->setFixedWidth(0);
    return false;
  }
  // At most 160 pixels wide, the proportions kept; the panel takes its width.
  const QPixmap pixmap = QPixmap::fromImage(image.width() > 160 ? image.scaledToWidth(160, Qt::SmoothTransformation) : image);
  Picture->setPixmap(pixmap);
  PanelPicture->setFixedWidth(pixmap.width());
  return true;
}
