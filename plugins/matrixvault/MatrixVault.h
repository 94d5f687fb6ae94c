#pragma once
// The matrix keeper: keeps one matrix for a scheme. It takes it from
// "matrix", from a file ("loadfile", or the saved state) or from its editor
// ("edit" opens it), saves it on "savefile", and sends it on "matrix"
// whenever it changes. Its saved state names the file, or holds the matrix
// itself when there is no file.
//
// Threads: the handlers run in the GUI thread; the matrix to send waits in a
// slot that Process (worker) empties, so the window never waits for room on
// the output.
#include <QPointer>
#include <QRect>
#include <QStringList>

#include <memory>
#include <mutex>
#include <string>

#include "PacketTypes.h"
#include "Plugin.h"

class QAction;
namespace matrixvault {
class TFormEditMatrix;
}

class TMatrixVault : public CBasePlugin {
 public:
  TMatrixVault() = default;
  ~TMatrixVault() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  void Process() override;
  int Serialize(xmlNode* element, const char* section) override;
  int Deserialize(xmlNode* element, const char* section) override;

  void MatrixEvent(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void OpenEventA(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void SaveEvent(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void EditEvent(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  // Opens the editor (what a packet on "edit" or the menu item does).
  void Edit();

  const CDoubleMatrix& Matrix() const { return *matrix_; }
  std::string FileName() const { return fileName_; }
  // The editor while it is open (tests drive it), or null.
  matrixvault::TFormEditMatrix* Editor() const { return editor_; }

 private:
  // Leaves a copy of the kept matrix (or `packet`) for the worker to send.
  void Send(std::unique_ptr<CDoubleMatrix> packet = nullptr);
  std::string TextOf(CBasePacket* packet) const;

  std::unique_ptr<CDoubleMatrix> matrix_ = std::make_unique<CDoubleMatrix>();
  std::string fileName_;
  COutLinkPoint* output_ = nullptr;
  QPointer<QWidget> parent_;
  QString caption_, initialDir_, filter_, defaultExt_;
  QStringList titles_;
  QRect editorBounds_;
  QPointer<matrixvault::TFormEditMatrix> editor_;
  QPointer<QAction> menuItem_;
  std::mutex pendingMutex_;
  std::unique_ptr<CDoubleMatrix> pending_;
};
