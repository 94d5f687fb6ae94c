#include "RunGuide.h"

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QToolBar>

#include <chrono>
#include <cstdio>

#include "DevCommand.h"
#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PluginClass.h"
#include "RunWizardForm.h"
#include "VKPaths.h"
#include "VKXml.h"

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

double SteadyMilliseconds() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "\r" and "\n" written as two characters in a step's text.
std::string Unescape(std::string text) {
  ReplaceString(text, "\\r", "\r");
  ReplaceString(text, "\\n", "\n");
  return text;
}

constexpr int kHelpContext = 1103;

}  // namespace

#define GUIDE_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, Name().c_str(), text))

TRunGuide::~TRunGuide() { Finalize(); }

int TRunGuide::Register() {
  RegisterInLinkPoint("vector", {MetaClassOf<CDoubleVector>(), MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  RegisterInLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  RegisterOutLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  RegisterInLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterOutLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
  return 0;
}

int TRunGuide::Initialize(QWidget* parent, xmlNode* node) {
  if (!clock_) clock_ = SteadyMilliseconds;
  mainWindow_ = parent;
  running_ = false;
  indexConfirmed_ = false;
  deviceSeen_ = false;
  runLost_ = false;
  awaited_.clear();
  curStep_ = -1;
  form_ = new TFrmRunWizard(parent);
  form_->setProperty("helpContext", kHelpContext);
  QObject::connect(form_->ActionWizard, &QAction::triggered, form_, [this] { OnStart(); });
  QObject::connect(form_->ActionStart, &QAction::triggered, form_, [this] { OnStart(); });
  QObject::connect(form_->ActionStop, &QAction::triggered, form_, [this] { OnStop(); });
  QObject::connect(form_->ActionNext, &QAction::triggered, form_, [this] { OnNext(); });
  QObject::connect(form_->ActionBack, &QAction::triggered, form_, [this] { OnBack(); });
  QObject::connect(form_->ActionCancel, &QAction::triggered, form_, [this] {
    OnCancel();
    form_->reject();
  });
  // Every way the wizard ends (the last page, Cancel, the window's close
  // button) ends the run.
  QObject::connect(form_, &QDialog::finished, form_, [this](int result) {
    if (result != QDialog::Accepted) CancelRun();
  });
  toolBar_ = new QToolBar(parent);
  toolBar_->setObjectName(Qs(Name()));
  toolBar_->setProperty("helpContext", kHelpContext);

  std::string dock = "DockTop";
  std::string caption;
  if (node) {
    dock = VKCore::GetNodeStringValue(node, "@dock", dock);
    caption = VKCore::GetNodeStringValue(node, "@caption", "");
    const int height = VKCore::GetNodeIntValue(node, "@height", form_->height());
    const int width = VKCore::GetNodeIntValue(node, "@width", form_->width());
    form_->resize(std::clamp(width, 200, 4000), std::clamp(height, 120, 4000));
    const QString start = Qs(VKCore::GetNodeStringValue(node, "@startCaption", "Старт"));
    form_->ActionStart->setText(start);
    form_->ActionWizard->setText(start);
    form_->ActionStop->setText(Qs(VKCore::GetNodeStringValue(node, "@stopCaption", "Стоп")));
    curIndex_ = VKCore::GetNodeIntValue(node, "@index", -1);
    autostart_ = VKCore::GetNodeBoolValue(node, "@autostart", false);
    GUIDE_ASSERT(steps_.empty(), "Steps.size()==0");
    steps_.clear();
    std::vector<xmlNode*> stepNodes;
    VKCore::SelectNodes(node, "steps/step", stepNodes);
    for (xmlNode* s : stepNodes) {
      WizardStep step;
      step.Picture = FormatPath(VKCore::GetNodeStringValue(s, "@picture", ""));
      step.Text = Unescape(VKCore::GetNodeStringValue(s, "@text", ""));
      step.Caption = VKCore::GetNodeStringValue(s, "@caption", "");
      step.Index = VKCore::GetNodeIntValue(s, "@index", -1);
      const std::string name = VKCore::GetNodeStringValue(s, "@name", "");
      if (!name.empty() && parent) {
        // A page's dock: plug-ins whose tool windows name it place them here.
        auto* pageDock = new QWidget(parent);
        pageDock->setObjectName(Qs(name));
        pageDock->hide();
        step.Dock = pageDock;
      }
      steps_.push_back(step);
    }
  }
  form_->setWindowTitle(Qs(caption));
  toolBar_->setWindowTitle(Qs(caption));
  if (parent && !FindWinControl(parent, dock)) GUIDE_ASSERT(false, "Dock != NULL");
  PlaceToolWindow(toolBar_, parent, dock);
  RegisterToolWindow(toolBar_);

  auto menu = [&](QAction* action) {
    QAction* item = CreateMenuItem(parent, "Управление", action->text().toStdString());
    if (!item) return;
    item->setIcon(action->icon());
    item->setShortcut(action->shortcut());
    item->setEnabled(action->isEnabled());
    QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, item, [item, action] { item->setEnabled(action->isEnabled()); });
    menuItems_.push_back(item);
  };
  if (!steps_.empty()) {
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar_->addAction(form_->ActionWizard);
    menu(form_->ActionWizard);
  } else {
    toolBar_->addAction(form_->ActionStart);
    toolBar_->addAction(form_->ActionStop);
    menu(form_->ActionStart);
    menu(form_->ActionStop);
  }
  // The menu items carry the short cuts; the actions in the tool bar the
  // same ones would be ambiguous.
  for (QAction* a : {form_->ActionStart, form_->ActionStop, form_->ActionWizard}) a->setShortcut(QKeySequence());

  const char* inputs[] = {"vector", "command", "index"};
  for (const char* name : inputs) {
    CInLinkPoint* in = GetInLinkPoint(AnsiString(name));
    GUIDE_ASSERT(in != nullptr, (std::string("(lp = GetInLinkPoint(\"") + name + "\"))!=NULL").c_str());
    if (!in) continue;
    in->NotifyWindow = form_;
  }
  if (CInLinkPoint* in = GetInLinkPoint(AnsiString("vector")))
    in->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { OnVector(s, p, h); };
  if (CInLinkPoint* in = GetInLinkPoint(AnsiString("command")))
    in->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { OnCommand(s, p, h); };
  if (CInLinkPoint* in = GetInLinkPoint(AnsiString("index")))
    in->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { OnIndex(s, p, h); };
  return 0;
}

int TRunGuide::Finalize() {
  for (const char* name : {"vector", "command", "index"})
    if (CInLinkPoint* in = GetInLinkPoint(AnsiString(name))) {
      in->OnPacket = TPacketEvent();
      in->NotifyWindow = nullptr;
    }
  for (auto& item : menuItems_)
    if (item) DestroyMenuItem(item);
  menuItems_.clear();
  for (WizardStep& step : steps_)
    if (step.Dock) step.Dock->deleteLater();
  steps_.clear();
  if (toolBar_) {
    UnregisterToolWindow(toolBar_);
    toolBar_->deleteLater();
  }
  if (form_) {
    // The form may be showing: it goes once the event loop has it.
    form_->hide();
    form_->deleteLater();
    form_ = nullptr;
  }
  return 0;
}

TFrmRunWizard* TRunGuide::Form() const { return form_; }
QToolBar* TRunGuide::ToolBar() const { return toolBar_; }

// ---- packets --------------------------------------------------------------------

COutLinkPoint* TRunGuide::CommandOutput() {
  COutLinkPoint* out = GetOutLinkPoint(AnsiString("command"));
  GUIDE_ASSERT(out != nullptr, "outLP");
  if (!out) return nullptr;
  if (!out->Dispatcher()) {
    GUIDE_ASSERT(false, "outLP->dispatcher\r\n(Не подключен обязательный выход \"command\")");
    return nullptr;
  }
  return out;
}

void TRunGuide::SendCommand(COutLinkPoint* output, CDevCommand* command) {
  const short what = command->Command();
  if (output->AddPacket(command) != VKT_OK) {
    delete command;  // refused: the wizard does not retry, and no answer comes
    return;
  }
  // A lost connection leaves answers that never come: the list stays short.
  constexpr size_t kMostAwaited = 16;
  if (awaited_.size() >= kMostAwaited) awaited_.pop_front();
  awaited_.push_back(what);
}

void TRunGuide::Run(bool confirmed) {
  COutLinkPoint* out = CommandOutput();
  if (!out) return;
  SendCommand(out, new CDevCommand(MI_RUN, 0, 2, 128, confirmed ? 1 : 0, 0));
  runStart_ = clock_();
  awaitingFirstPart_ = true;
  runSent_ = true;
}

void TRunGuide::CancelRun() {
  COutLinkPoint* out = CommandOutput();
  running_ = false;
  if (!out) return;
  SendCommand(out, new CDevCommand(MI_RESET, 0, 0, 0, 0, 0));
}

void TRunGuide::SendIndex(int index) {
  COutLinkPoint* out = GetOutLinkPoint(AnsiString("index"));
  GUIDE_ASSERT(out != nullptr, "outLP");
  if (!out) return;
  if (!out->Dispatcher()) {
    // Nobody to set the device up and echo: the run starts at once.
    Run(!steps_.empty());
    return;
  }
  auto* packet = new CDoublePacket(index);
  if (out->AddPacket(packet) != VKT_OK) {
    GUIDE_ASSERT(false, "1==0");
    delete packet;
  }
}

void TRunGuide::OnCommand(CSubscriber*, CBasePacket* packet, bool&) {
  auto* command = dynamic_cast<CDevCommand*>(packet);
  if (!command || !form_) return;
  const bool reset = command->Command() == MI_RESET;
  const bool runOrReset = reset || command->Command() == MI_RUN;
  // The answer to the guide's own stop or start, however late it comes:
  // the actions already say what was asked for.
  const bool own = runOrReset && !awaited_.empty() && awaited_.front() == command->Command();
  if (own) awaited_.pop_front();
  else if (reset) awaited_.clear();  // a reset from elsewhere: what was sent before it is not answered
  if (reset && !deviceSeen_) {
    deviceSeen_ = true;
    form_->ActionStart->setEnabled(true);
    form_->ActionWizard->setEnabled(true);
    // A bench that measures as soon as the instrument is there: started
    // once, after this handler, as if Start had been pressed.
    if (autostart_ && steps_.empty())
      QMetaObject::invokeMethod(form_, [this] {
        if (form_ && form_->ActionStart->isEnabled()) form_->ActionStart->trigger();
      }, Qt::QueuedConnection);
  }
  if (own) return;
  if (reset && steps_.empty() && form_->ActionStop->isEnabled()) {
    // A reset the guide did not ask for (Stop is disabled before it asks):
    // the device lost the operator's run, for instance when it greets a new
    // connection. The run is over and can be started again, unless it
    // comes back by itself (below).
    running_ = false;
    form_->ActionStop->setEnabled(false);
    runLost_ = true;
  }
  if (running_) return;
  if (runLost_ && command->Command() == MI_RUN && steps_.empty()) {
    // The run the reset took is under way again (the instrument link sends
    // it again when it reconnects): it is the operator's run, Stop ends it.
    runLost_ = false;
    running_ = true;
    form_->ActionStart->setEnabled(false);
    form_->ActionWizard->setEnabled(false);
    form_->ActionStop->setEnabled(true);
    return;
  }
  // Somebody else started (or ended) a measurement.
  if (reset || command->Command() == MI_RUN) {
    form_->ActionStart->setEnabled(reset);
    form_->ActionWizard->setEnabled(reset);
  }
}

void TRunGuide::OnIndex(CSubscriber* subscriber, CBasePacket* packet, bool&) {
  if (!running_) return;
  GUIDE_ASSERT(packet != nullptr, "Packet");
  GUIDE_ASSERT(subscriber != nullptr, "Subscriber");
  auto* echo = dynamic_cast<CDoublePacket*>(packet);
  GUIDE_ASSERT(echo != nullptr, "(pkt = dynamic_cast<CDoublePacket*>(Packet))!=NULL");
  if (!echo) return;
  if (!steps_.empty()) {
    if (indexConfirmed_) return;  // a second echo of the same step
    if (curStep_ >= 0 && curStep_ < static_cast<int>(steps_.size()))
      GUIDE_ASSERT(steps_[static_cast<size_t>(curStep_)].Index == echo->GetValue(),
                   "Steps[CurStep].Index==pkt->GetValue()");
    indexConfirmed_ = true;
    Run(true);
  } else {
    GUIDE_ASSERT(curIndex_ == echo->GetValue(), "CurIndex==pkt->GetValue()");
    Run(false);
  }
}

void TRunGuide::OnVector(CSubscriber* subscriber, CBasePacket* packet, bool&) {
  if (!running_ || !form_) return;
  GUIDE_ASSERT(packet != nullptr, "Packet");
  GUIDE_ASSERT(subscriber != nullptr, "Subscriber");
  auto* part = dynamic_cast<CDoubleVectorPart*>(packet);
  GUIDE_ASSERT(part != nullptr, "(pkt = dynamic_cast<CDoubleVectorPart*>(Packet))!=NULL");
  if (!part || part->FullSize() == 0) return;
  // In the wizard only the run of a measuring page counts: the instrument
  // may go on sweeping while an informational page is read, and those
  // sweeps must not turn its page.
  if (!steps_.empty()) {
    const bool measuring = curStep_ >= 0 && curStep_ < static_cast<int>(steps_.size()) &&
                           steps_[static_cast<size_t>(curStep_)].Index >= 0;
    if (!measuring || !runSent_) return;
  }
  if (awaitingFirstPart_) {
    // The tail of a sweep that began before the run command is not this
    // run's: it would show progress (or even end the page) for old data.
    if (part->Offset() != 0) return;
    awaitingFirstPart_ = false;
  }
  const double end = static_cast<double>(part->Offset()) + part->Size();
  const double fraction = end / part->FullSize();
  form_->ProgressBar->setValue(static_cast<int>(fraction * 100));
  const double elapsed = clock_() - runStart_;
  if (elapsed > 5000 && fraction > 0) {
    const int remaining = static_cast<int>(elapsed * (1 / fraction - 1) * 0.001);
    const int m = remaining / 60, s = remaining % 60;
    // Under a minute the seconds are shown (not "0 мин.").
    form_->LabelProgress->setText(m > 0 ? QString::fromUtf8("До завершения осталось %1 мин. %2 сек.").arg(m).arg(s)
                                        : QString::fromUtf8("До завершения осталось %1 сек.").arg(s));
  }
  if (end >= part->FullSize()) {
    SetStep(curStep_ + 1);
    indexConfirmed_ = false;
  }
}

// ---- pages and actions -----------------------------------------------------------

void TRunGuide::SetStep(int step) {
  if (!form_) return;
  if (curStep_ >= 0 && curStep_ < static_cast<int>(steps_.size())) {
    WizardStep& current = steps_[static_cast<size_t>(curStep_)];
    if (current.Dock) {
      form_->LabelText->show();
      current.Dock->hide();
      current.Dock->setParent(mainWindow_);
      current.Dock->hide();
    }
  }
  if (step >= static_cast<int>(steps_.size()) && form_->isVisible()) form_->done(QDialog::Rejected);
  if (step < 0 || step >= static_cast<int>(steps_.size())) {
    running_ = false;
    return;
  }
  running_ = true;
  const WizardStep& s = steps_[static_cast<size_t>(step)];
  const bool measuring = s.Index >= 0;
  const bool last = step + 1 == static_cast<int>(steps_.size());
  form_->ActionBack->setEnabled(step > 0 && !measuring);
  form_->ActionNext->setEnabled(!measuring);
  form_->ActionNext->setText(QString::fromUtf8(last ? "Готово" : "Далее >>"));
  form_->ActionCancel->setEnabled(!last);
  form_->LabelText->setText(Qs(s.Text));
  form_->LabelCaption->setText(Qs(s.Caption));
  form_->PanelProgress->setVisible(measuring);
  if (s.Dock) {
    s.Dock->setParent(form_->PanelDock);
    form_->PanelDock->layout()->addWidget(s.Dock);
    s.Dock->show();
    // The tool windows placed in it become part of the page.
    for (QDockWidget* tool : s.Dock->findChildren<QDockWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!tool->titleBarWidget()) tool->setTitleBarWidget(new QWidget(tool));
      tool->setFeatures(QDockWidget::NoDockWidgetFeatures);
      tool->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
  }
  curStep_ = step;
  runSent_ = false;
  form_->ProgressBar->setValue(0);
  form_->LabelProgress->clear();
  if (!form_->SetPicture(Qs(s.Picture))) {
    // Decided: the page goes on without its picture; the file is logged.
    const AnsiString text = "Мастер \"" + Name() + "\": рисунок \"" + s.Picture + "\" не прочитан";
    LogMessage(text, false);
    std::fprintf(stderr, "Vektra: %s\n", text.c_str());
  }
  if (measuring) SendIndex(s.Index);
}

void TRunGuide::OnStart() {
  if (!form_) return;
  if (!steps_.empty()) {
    indexConfirmed_ = false;
    SetStep(0);
    form_->ActionBack->setEnabled(false);
    // Modal, without a nested event loop; how it ends is taken by finished().
    form_->setWindowModality(Qt::ApplicationModal);
    if (mainWindow_) form_->move(mainWindow_->geometry().center() - form_->rect().center());
    form_->show();
    form_->raise();
    return;
  }
  form_->ActionStart->setEnabled(false);
  form_->ActionWizard->setEnabled(false);
  form_->ActionStop->setEnabled(true);
  running_ = true;
  runLost_ = false;
  if (curIndex_ < 0) Run(false);
  else SendIndex(curIndex_);
}

void TRunGuide::OnStop() {
  if (!form_) return;
  form_->ActionStart->setEnabled(true);
  form_->ActionWizard->setEnabled(true);
  form_->ActionStop->setEnabled(false);
  CancelRun();
  running_ = false;
  runLost_ = false;
}

void TRunGuide::OnNext() { SetStep(curStep_ + 1); }

void TRunGuide::OnBack() {
  for (int i = curStep_ - 1; i >= 0; --i)
    if (steps_[static_cast<size_t>(i)].Index < 0) {
      SetStep(i);
      return;
    }
}

void TRunGuide::OnCancel() { running_ = false; }

VK_DECLARE_PLUGIN_PACKAGE(TRunGuide)
