#include "MatrixVault.h"

#include <QAction>
#include <QDialog>

#include <cstdio>

#include "Diagnostics.h"
#include "FormEditMatrix.h"
#include "GuiPlugin.h"
#include "PluginClass.h"
#include "VKPaths.h"
#include "VKXml.h"
#include "platform/Report.h"

using matrixvault::TFormEditMatrix;

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }
constexpr int kHelpContext = 1104;
}  // namespace

#define VAULT_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, Name().c_str(), text))

TMatrixVault::~TMatrixVault() {
  if (menuItem_) DestroyMenuItem(menuItem_);
}

int TMatrixVault::Register() {
  RegisterInLinkPoint("edit",
                      {MetaClassOf<CStringPacket>(), MetaClassOf<CDoublePacket>(), MetaClassOf<CDoubleMatrix>(),
                       MetaClassOf<CDoubleVector>()},
                      lptDefault);
  RegisterInLinkPoint("loadfile", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("savefile", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("matrix", {MetaClassOf<CDoubleMatrix>()}, lptDefault);
  RegisterOutLinkPoint("matrix", {MetaClassOf<CDoubleMatrix>()}, lptDefault);
  return 0;
}

int TMatrixVault::Initialize(QWidget* parent, xmlNode* node) {
  fileName_.clear();
  output_ = GetOutLinkPoint(AnsiString("matrix"));
  matrix_ = std::make_unique<CDoubleMatrix>();
  editorBounds_ = QRect();
  parent_ = parent;
  titles_.clear();
  caption_ = Qs(VKCore::GetNodeStringValue(node, "@caption", ""));
  defaultExt_ = Qs(VKCore::GetNodeStringValue(node, "@defaultext", ""));
  initialDir_ = Qs(FormatPath(VKCore::GetNodeStringValue(node, "@initialdir", "")));
  filter_ = Qs(VKCore::GetNodeStringValue(node, "@filter", ""));
  std::vector<xmlNode*> columns;
  VKCore::SelectNodes(node, "column", columns);
  for (xmlNode* c : columns) titles_ << Qs(VKCore::GetNodeStringValue(c, "@title", ""));
  // An item of "Управление" that opens the editor, when the scheme names one.
  const std::string menu = VKCore::GetNodeStringValue(node, "@menu", "");
  if (!menu.empty() && parent) {
    menuItem_ = CreateMenuItem(parent, "Управление", menu);
    if (menuItem_) QObject::connect(menuItem_, &QAction::triggered, parent, [this] { Edit(); });
  }
  auto handler = [this](void (TMatrixVault::*method)(CSubscriber*, CBasePacket*, bool&)) {
    return [this, method](CSubscriber* s, CBasePacket* p, bool& h) { (this->*method)(s, p, h); };
  };
  const std::pair<const char*, void (TMatrixVault::*)(CSubscriber*, CBasePacket*, bool&)> inputs[] = {
      {"loadfile", &TMatrixVault::OpenEventA},
      {"savefile", &TMatrixVault::SaveEvent},
      {"edit", &TMatrixVault::EditEvent},
      {"matrix", &TMatrixVault::MatrixEvent}};
  for (const auto& [name, method] : inputs)
    if (CInLinkPoint* in = GetInLinkPoint(AnsiString(name))) {
      in->OnPacket = handler(method);
      in->NotifyWindow = parent;
    }
  return 0;
}

int TMatrixVault::Finalize() {
  VAULT_ASSERT(matrix_ != nullptr, "Matrix!=NULL");
  if (editor_) {
    editor_->reject();
    editor_->deleteLater();
  }
  if (menuItem_) DestroyMenuItem(menuItem_);
  for (const char* name : {"loadfile", "savefile", "edit", "matrix"})
    if (CInLinkPoint* in = GetInLinkPoint(AnsiString(name))) {
      in->OnPacket = TPacketEvent();
      in->NotifyWindow = nullptr;
    }
  titles_.clear();
  std::lock_guard<std::mutex> lock(pendingMutex_);
  pending_.reset();
  return 0;
}

// ---- sending --------------------------------------------------------------------

void TMatrixVault::Send(std::unique_ptr<CDoubleMatrix> packet) {
  if (!output_ || !output_->Dispatcher()) return;
  if (!packet) packet.reset(static_cast<CDoubleMatrix*>(matrix_->CopyPacket()));
  std::unique_ptr<CDoubleMatrix> superseded;
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    superseded = std::move(pending_);
    pending_ = std::move(packet);
  }
  if (superseded) {
    // The reader has not taken the matrix before: it gets the newer one.
    const AnsiString text = "Хранитель \"" + Name() +
                            "\": матрица не передана до следующего изменения (очередь выхода заполнена)";
    LogMessage(text, false);
    std::fprintf(stderr, "Vektra: %s\n", text.c_str());
  }
}

void TMatrixVault::Process() {
  std::lock_guard<std::mutex> lock(pendingMutex_);
  if (!pending_ || !output_) return;
  const int rc = output_->AddPacket(pending_.get());
  if (rc == VKT_OK) pending_.release();
  else if (rc != VKT_QUEUE_FULL) {
    VAULT_ASSERT(false, "result==0");
    pending_.reset();
  }
}

// ---- inputs ---------------------------------------------------------------------

std::string TMatrixVault::TextOf(CBasePacket* packet) const {
  auto* text = dynamic_cast<CStringPacket*>(packet);
  return text ? text->GetString() : std::string();
}

void TMatrixVault::MatrixEvent(CSubscriber* subscriber, CBasePacket*, bool& handled) {
  std::unique_ptr<CBasePacket> taken(subscriber ? subscriber->GetPacketCopyAndRelease() : nullptr);
  handled = true;  // taken: the queue must not release it again
  auto* incoming = dynamic_cast<CDoubleMatrix*>(taken.get());
  if (!incoming) return;
  auto* copy = dynamic_cast<CDoubleMatrix*>(incoming->CopyPacket());
  VAULT_ASSERT(copy != nullptr, "(Matrix = dynamic_cast<CDoubleMatrix*>(DM->CopyPacket()))!=NULL");
  if (!copy) return;
  matrix_.reset(copy);
  fileName_.clear();
  taken.release();
  Send(std::unique_ptr<CDoubleMatrix>(incoming));
}

void TMatrixVault::OpenEventA(CSubscriber*, CBasePacket* packet, bool&) {
  std::string name = TextOf(packet);
  if (name.empty())
    name = ChooseFileName(parent_, {QString::fromUtf8("Открыть данные из файла"), vkgui::QtFilter(filter_),
                                    defaultExt_, initialDir_, false})
               .toStdString();
  if (name.empty()) return;
  if (matrix_->LoadFromFile(name) != 0)
    vkplatform::MessageBox("Ошибка чтения данных из файла " + name, "Ошибка", vkplatform::MsgIcon::Error);
  else
    fileName_ = name;
  Send();
}

void TMatrixVault::SaveEvent(CSubscriber*, CBasePacket* packet, bool&) {
  std::string name = TextOf(packet);
  if (name.empty())
    name = ChooseFileName(parent_, {QString::fromUtf8("Сохранить данные в файл"), vkgui::QtFilter(filter_),
                                    defaultExt_, initialDir_, true})
               .toStdString();
  if (name.empty()) return;
  // The file is replaced whole or not at all; a failure is said, and the
  // table keeps the file it had (the profile would name one never written).
  if (matrix_->SaveToFile(name) != 0) {
    vkplatform::MessageBox("Ошибка при создании файла " + name, "Ошибка", vkplatform::MsgIcon::Error);
    return;
  }
  fileName_ = name;
}

void TMatrixVault::EditEvent(CSubscriber*, CBasePacket*, bool&) { Edit(); }

void TMatrixVault::Edit() {
  if (editor_) {
    editor_->raise();  // one editor at a time
    return;
  }
  auto* editor = new TFormEditMatrix(parent_, {caption_, initialDir_, filter_, defaultExt_, titles_});
  editor_ = editor;
  editor->setProperty("helpContext", kHelpContext);
  if (editorBounds_.isValid()) editor->setGeometry(editorBounds_);
  else if (parent_) editor->move(parent_->geometry().center() - editor->rect().center());
  editor->Fill(*matrix_);
  editor->SetFileName(Qs(fileName_));
  // Modal, without a nested event loop: the answer comes with finished().
  editor->setWindowModality(Qt::ApplicationModal);
  QObject::connect(editor, &QDialog::finished, editor, [this, editor](int result) {
    if (result == QDialog::Accepted) {
      editor->Take(*matrix_);
      fileName_ = editor->FileName().toStdString();
      Send();
    }
    editorBounds_ = editor->geometry();
    editor->deleteLater();
  });
  editor->show();
}

// ---- saved state ----------------------------------------------------------------

int TMatrixVault::Serialize(xmlNode* element, const char* section) {
  if (section && std::string(section) != "params") return 0;
  if (!fileName_.empty()) {
    VKCore::AddAttribute(element, "filename", UnformatPath(fileName_));
  } else if (matrix_->Columns() > 0 && matrix_->Rows() > 0) {
    matrix_->SerializeData(element);
  }
  return 0;
}

int TMatrixVault::Deserialize(xmlNode* element, const char* section) {
  if (section && std::string(section) != "params") return 0;
  const std::string name = VKCore::GetNodeStringValue(element, "@filename", "");
  if (!name.empty()) {
    const std::string file = FormatPath(name);
    if (matrix_->LoadFromFile(file) == 0) {
      Send();
      fileName_ = file;
      return 0;
    }
    vkplatform::MessageBox("Ошибка при открытии файла \"" + file + "\"", "Ошибка", vkplatform::MsgIcon::Error);
  }
  // No file, or one that is gone: the matrix kept in the state. In a
  // scheme's parameters the same "column" children also carry the column
  // titles: only those with values are the matrix's.
  std::vector<xmlNode*> columns;
  VKCore::SelectNodes(element, "column[@vector]", columns);
  if (!columns.empty()) {
    VKCore::CXMLDocument values(false);
    values.New("matrix");
    for (xmlNode* c : columns) xmlAddChild(values.Root(), xmlDocCopyNode(c, values.Doc(), 1));
    matrix_->DeserializeData(values.Root());
    Send();
  }
  fileName_.clear();
  return 0;
}

VK_DECLARE_PLUGIN_PACKAGE(TMatrixVault)
