#include "AboutForm.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

#include "PluginManager.h"
#include "ProgramInfo.h"
#include "../platform/SysPaths.h"
#include "VKPaths.h"

namespace {

// The program's picture: a measuring trace over a grid.
class TLogo : public QWidget {
 public:
  explicit TLogo(QWidget* parent) : QWidget(parent) { setFixedSize(70, 70); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(29, 79, 145));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 10, 10);
    p.setPen(QPen(QColor(120, 160, 215), 1));
    for (int i = 1; i < 5; ++i) {
      p.drawLine(8, 8 + i * 11, 62, 8 + i * 11);
      p.drawLine(8 + i * 11, 8, 8 + i * 11, 62);
    }
    QPainterPath trace;
    trace.moveTo(8, 52);
    trace.cubicTo(25, 52, 28, 14, 35, 14);
    trace.cubicTo(42, 14, 45, 52, 62, 52);
    p.setPen(QPen(QColor(255, 214, 64), 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
  }
};

QString Qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TfrmAbout::TfrmAbout(CPluginsManager* plugins, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
  setObjectName("frmAbout");
  setProperty("helpContext", 1001);  // F1: the page about the program
  setFixedSize(404, 320);
  setWindowOpacity(240.0 / 255.0);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(206, 219, 255));
  setPalette(pal);

  CProgramInfo info;
  info.OpenInfo(vkplatform::ExecutablePath());

  auto* title = new QLabel("Vektra Launcher", this);
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPixelSize(32);
  title->setFont(titleFont);

  LabelVersion = new QLabel(QString::fromUtf8("Версия %1").arg(Qs(info.GetVersion())), this);
  LabelVersion->setObjectName("LabelVersion");
  LabelVersion->setAlignment(Qt::AlignRight);
  QFont bold = LabelVersion->font();
  bold.setBold(true);
  LabelVersion->setFont(bold);

  LabelInfo = new QLabel(QString::fromUtf8("Среда исполнения измерительных схем Vektra Launcher "
                                           "является частью пакета программ %1 версии %2")
                             .arg(Qs(info.GetProductName()), Qs(info.GetProductVersion())),
                         this);
  LabelInfo->setObjectName("LabelInfo");
  LabelInfo->setWordWrap(true);

  auto* heading = new QLabel(QString::fromUtf8("Версии модулей системы:"), this);
  Packages = new QTextEdit(this);
  Packages->setObjectName("Packages");
  Packages->setReadOnly(true);
  Packages->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QStringList lines;
  if (plugins)
    for (unsigned i = 0; i < plugins->GetPluginCount(); ++i) {
      CPluginManager* p = plugins->GetPlugin(i);
      lines << QString::fromUtf8("%1, вер. %2 (%3)")
                   .arg(Qs(ExExtractFullFileName(p->GetFileName().c_str())), Qs(p->GetVersion()),
                        Qs(p->GetDescription()));
    }
  Packages->setPlainText(lines.join('\n'));

  auto* legal = new QLabel(QString::fromUtf8("© Korvan. Все права защищены."), this);
  QFont small = legal->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  legal->setFont(small);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("ButtonOK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* head = new QHBoxLayout;
  head->addWidget(new TLogo(this));
  auto* headText = new QVBoxLayout;
  headText->addWidget(title);
  headText->addWidget(LabelVersion);
  head->addLayout(headText, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(legal, 1);
  bottom->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 10);
  layout->addLayout(head);
  layout->addWidget(LabelInfo);
  layout->addWidget(heading);
  layout->addWidget(Packages, 1);
  layout->addLayout(bottom);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TfrmAbout::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter p(this);
  p.setPen(QColor(120, 140, 190));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}
