#include "LinkDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>

#include <chrono>

#include "DevCommand.h"
#include "Diagnostics.h"
#include "FormConnect.h"
#include "GuiPlugin.h"
#include "PluginClass.h"
#include "VKXml.h"
#include "platform/ThreadAnnotations.h"

namespace {

// Takes the dialog's own events to the plug-in (the dialog's window
// procedure, in the GUI thread).
class TConnectEvents : public QObject {
 public:
  TConnectEvents(QObject* dialog, TLinkDialog* plugin) : QObject(dialog), plugin_(plugin) {}
  bool eventFilter(QObject*, QEvent* event) override {
    VK_HANDOFF_ACQUIRE(event);
    const int type = event->type();
    if (type < TLinkDialog::WM_CONNECTSHOW || type > TLinkDialog::WM_CONNECTDONE) return false;
    return plugin_->WindowProc(type);
  }

 private:
  TLinkDialog* plugin_;
};

double SteadyMilliseconds() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

#define LINK_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, Name().c_str(), text))

TLinkDialog::~TLinkDialog() { Finalize(); }

int TLinkDialog::Register() {
  RegisterOutLinkPoint("address", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("message", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  return 0;
}

int TLinkDialog::Initialize(QWidget* parent, xmlNode* node) {
  showAtStart_ = true;
  answered_ = false;
  announced_ = false;
  {
    std::lock_guard<std::mutex> lock(addressMutex_);
    addressPending_ = false;
  }
  if (!clock_) clock_ = SteadyMilliseconds;
  CInLinkPoint* message = GetInLinkPoint(AnsiString("message"));
  LINK_ASSERT(message != nullptr, "lp!=NULL");
  if (message) {
    message->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { OnMessage(s, p, h); };
    message->NotifyWindow = parent;
  }
  cmd_i = GetInLinkPoint(AnsiString("command"));
  LINK_ASSERT(cmd_i != nullptr, "cmd_i!=NULL");
  if (node) {
    deviceType_ = VKCore::GetNodeStringValue(node, "@devicetype", "q5l");
    deviceName_ = VKCore::GetNodeStringValue(node, "@name", "К5Л");
  }

  form_ = new linkdialog::TFormConnect(parent, deviceType_, QString::fromStdString(deviceName_));
  form_->setProperty("helpContext", 1102);
  form_->OnConnect = [this](const std::string& address) { Connect(address); };
  postTarget_ = form_;
  events_ = new TConnectEvents(form_, this);
  form_->installEventFilter(events_);

  form_->ActionConnect->setText(QString::fromUtf8("Подключение к ") + QString::fromStdString(deviceName_));
  form_->ActionConnect->setEnabled(true);
  menuItem_ = CreateMenuItem(parent, "Управление", "Подключение к прибору");
  if (menuItem_) {
    menuItem_->setIcon(form_->ActionConnect->icon());
    QObject::connect(menuItem_, &QAction::triggered, form_, [this] { Post(WM_CONNECTSHOW); });
  }

  if (form_->Address->CheckBoxAutoConnect->isChecked() && !form_->Address->LastAddress().isEmpty())
    form_->StartConnecting(form_->Address->LastAddress(), false);
  return 0;
}

int TLinkDialog::Finalize() {
  postTarget_ = nullptr;
  if (menuItem_) DestroyMenuItem(menuItem_);
  if (form_) {
    form_->removeEventFilter(events_);
    // The dialog may be showing (modal): it goes once it has closed.
    form_->hide();
    form_->deleteLater();
    form_ = nullptr;
  }
  if (CInLinkPoint* message = GetInLinkPoint(AnsiString("message"))) {
    message->OnPacket = TPacketEvent();
    message->NotifyWindow = nullptr;
  }
  return 0;
}

linkdialog::TFormConnect* TLinkDialog::Form() const { return form_; }

void TLinkDialog::Post(int message) {
  if (!postTarget_) return;
  auto* event = new QEvent(static_cast<QEvent::Type>(message));
  VK_HANDOFF_RELEASE(event);
  QCoreApplication::postEvent(postTarget_, event);
}

void TLinkDialog::Process() {
  if (showAtStart_) {
    showAtStart_ = false;
    Post(WM_CONNECTSHOW);
  }
  if (failed_.exchange(false)) announced_ = true;
  // Any packet on "command" says the instrument answers; the connection
  // counts as made at the first moment, more than 500 ms after the first,
  // at which none is waiting.
  if (CBasePacket* packet = cmd_i ? cmd_i->GetPacketCopyAndRelease() : nullptr) {
    delete packet;
    if (!answered_) {
      Post(WM_CONNECTINIT);
      answered_ = true;
      firstAnswer_ = clock_();
    }
  } else if (answered_ && !announced_ && clock_() - firstAnswer_ > 500) {
    Post(WM_CONNECTDONE);
    announced_ = true;
  }
  std::string address;
  {
    std::lock_guard<std::mutex> lock(addressMutex_);
    if (!addressPending_) return;
    address = address_;
  }
  COutLinkPoint* out = GetOutLinkPoint(AnsiString("address"));
  LINK_ASSERT(out != nullptr, "outLP != NULL");
  bool keep = false;
  if (out && out->Dispatcher()) {
    auto* packet = new CStringPacket(address.c_str());
    const int rc = out->AddPacket(packet);
    if (rc != VKT_OK) {
      delete packet;
      keep = rc == VKT_QUEUE_FULL;  // tried again in the next cycle
    }
  }
  if (!keep) {
    // The link connects afresh: its answers count for the new connection.
    answered_ = false;
    announced_ = false;
  }
  std::lock_guard<std::mutex> lock(addressMutex_);
  // A newer address chosen meanwhile stays pending.
  if (!keep && address_ == address) addressPending_ = false;
}

void TLinkDialog::Connect(const std::string& address) {
  std::lock_guard<std::mutex> lock(addressMutex_);
  address_ = address;
  addressPending_ = true;
}

namespace {
// What the instrument link says on "message" when its connection is up
// again (or up at last, after failed first attempts).
constexpr const char* kRestored = "связь восстановлена";
constexpr const char* kEstablished = "связь установлена";
}  // namespace

void TLinkDialog::OnMessage(CSubscriber* subscriber, CBasePacket* packet, bool&) {
  LINK_ASSERT(packet != nullptr, "Packet != NULL");
  LINK_ASSERT(subscriber != nullptr, "Subscriber != NULL");
  auto* text = dynamic_cast<CStringPacket*>(packet);
  LINK_ASSERT(text != nullptr, "pkt != NULL");
  if (!text || !form_) return;
  // The link also says when a lost connection is back: no error then. A
  // dialog that came up with the loss goes, as after a connection made.
  const std::string said = text->GetString();
  if (said == kRestored || said == kEstablished) {
    failed_ = false;
    if (form_->isVisible() && form_->CurrentFrame() == form_->Error) form_->ConnectionDone();
    return;
  }
  failed_ = true;
  form_->ShowConnectionError(QString::fromUtf8(said.c_str()));
  // A connection lost while the dialog is closed is said all the same: the
  // dialog comes up with the error, and from it the operator connects again.
  if (!form_->isVisible()) WindowProc(WM_CONNECTSHOW);
}

bool TLinkDialog::WindowProc(int message) {
  if (!form_) return false;
  switch (message) {
    case WM_CONNECTSHOW:
      // Modal, without a nested event loop: the scheme goes on meanwhile.
      form_->setWindowModality(Qt::ApplicationModal);
      if (QWidget* owner = form_->parentWidget())
        form_->move(owner->geometry().center() - form_->rect().center());
      form_->show();
      form_->raise();
      form_->activateWindow();
      return true;
    case WM_CONNECTINIT:
      form_->DeviceAnswers();
      return true;
    case WM_CONNECTDONE:
      // An error that came after the answers (the connection lost at once)
      // stays on the screen.
      if (form_->CurrentFrame() != form_->Error) form_->ConnectionDone();
      return true;
    default:
      return false;
  }
}

VK_DECLARE_PLUGIN_PACKAGE(TLinkDialog)
