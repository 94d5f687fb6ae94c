#include "InstrumentLink.h"

#include <chrono>
#include <thread>

#include "PluginClass.h"
#include "VKXml.h"

using namespace vkinstrument;

namespace {

// Outputs hold at most this many packets waiting for room; beyond it the
// oldest traffic is dropped rather than memory growing without end.
constexpr size_t kMaxPending = 4096;

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TInstrumentLink::~TInstrumentLink() {
  ThreadStop();
  for (TPending& p : pending_) delete p.packet;
}

int TInstrumentLink::Register() {
  RegisterInLinkPoint("address", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  RegisterInLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterOutLinkPoint("message", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterOutLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  RegisterOutLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterOutLinkPoint("F", {MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  RegisterOutLinkPoint("A", {MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  RegisterOutLinkPoint("B", {MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  addressIn_ = GetInLinkPoint(AnsiString("address"));
  commandIn_ = GetInLinkPoint(AnsiString("command"));
  indexIn_ = GetInLinkPoint(AnsiString("index"));
  message_ = GetOutLinkPoint(AnsiString("message"));
  commandOut_ = GetOutLinkPoint(AnsiString("command"));
  indexOut_ = GetOutLinkPoint(AnsiString("index"));
  f_ = GetOutLinkPoint(AnsiString("F"));
  a_ = GetOutLinkPoint(AnsiString("A"));
  b_ = GetOutLinkPoint(AnsiString("B"));
  return 0;
}

int TInstrumentLink::Initialize(QWidget*, xmlNode* node) {
  startAddress_ = VKCore::GetNodeStringValue(node, "@address", "");
  simSettings_.sweepsPerSecond = VKCore::GetNodeDoubleValue(node, "@simrate", 25);
  simSettings_.partSize = static_cast<unsigned>(std::max(1, VKCore::GetNodeIntValue(node, "@simpart", 401)));
  timeoutMs_ = std::max(1, VKCore::GetNodeIntValue(node, "@timeout", 3000));
  ThreadStart();
  return 0;
}

int TInstrumentLink::Finalize() {
  ThreadStop();
  return 0;
}

void TInstrumentLink::Message(unsigned short code) {
  const char* text = GetErrorString(code);
  Emit(message_, new CStringPacket(text ? text : ""));
}

void TInstrumentLink::Emit(COutLinkPoint* output, CBasePacket* packet) {
  pending_.push_back({output, packet});
  while (pending_.size() > kMaxPending) {
    delete pending_.front().packet;
    pending_.pop_front();
  }
}

bool TInstrumentLink::FlushPending() {
  // Packets go out in order; one waiting for room holds back those behind it.
  while (!pending_.empty()) {
    TPending& p = pending_.front();
    const int rc = p.output->AddPacket(p.packet);
    if (rc == VKT_QUEUE_FULL) return false;
    if (rc != VKT_OK) delete p.packet;  // nothing wired there
    pending_.pop_front();
  }
  return true;
}

void TInstrumentLink::Disconnect() {
  connection_.Close();
  if (simulator_) {
    simulator_->Stop();
    simulator_.reset();
  }
}

void TInstrumentLink::Connect(const std::string& address) {
  Disconnect();
  silenceReported_ = false;
  std::string host;
  unsigned short port = 0;
  if (address == "sim") {
    simulator_ = std::make_unique<CInstrumentSimulator>(simSettings_);
    const int simPort = simulator_->Start(0);
    if (simPort < 0) {
      simulator_.reset();
      Message(SE_CANT_CONNECT);
      return;
    }
    host = "127.0.0.1";
    port = static_cast<unsigned short>(simPort);
  } else if (!ParseAddress(address, host, port)) {
    Message(SE_CANT_CONNECT);  // empty or malformed address
    return;
  }
  std::string error;
  if (!connection_.Connect(host, port, timeoutMs_, error)) {
    Disconnect();
    Message(SE_CANT_CONNECT);
  }
}

void TInstrumentLink::Received(std::unique_ptr<CDevCommand> block) {
  if (IsDataBlock(*block)) {
    uint32_t fullSize, offset, count;
    if (!ReadDataHeader(*block, fullSize, offset, count)) {
      Message(SE_READ_ERROR);  // a data block that contradicts itself
      return;
    }
    COutLinkPoint* outputs[] = {f_, a_, b_};
    for (unsigned c = 0; c < 3; ++c) {
      auto* v = new CDoubleVectorPart(count, fullSize, offset);
      ReadDataChannel(*block, c, count, v->Data());
      Emit(outputs[c], v);
    }
    return;
  }
  if (IsIndexBlock(*block)) {
    Emit(indexOut_, new CDoublePacket(ReadIndexBlock(*block)));
    return;
  }
  Emit(commandOut_, block.release());
}

void TInstrumentLink::SendInputs() {
  auto send = [this](const CDataBlock& block) {
    if (!connection_.IsOpen()) {
      // Once per silence: the instrument is not there to take commands.
      if (!silenceReported_) Message(SE_DEVICE_DONT_ANSWER);
      silenceReported_ = true;
      return;
    }
    if (!connection_.Send(block, timeoutMs_)) {
      Message(SE_WRITE_ERROR);
      Disconnect();
    }
  };
  while (CBasePacket* p = commandIn_->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    if (auto* c = dynamic_cast<CDevCommand*>(p)) send(*c);
  }
  while (CBasePacket* p = indexIn_->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    if (auto* d = dynamic_cast<CDoublePacket*>(p)) send(*MakeIndexBlock(d->GetValue()));
  }
}

void TInstrumentLink::ThreadCycle() {
  // A stop request cuts short a connection attempt or a send in progress.
  connection_.SetCancel([this] { return ThreadShouldStop(); });
  if (!startAddress_.empty()) Connect(startAddress_);
  while (!ThreadShouldStop()) {
    // A new address: connect there (the last one of several wins).
    std::unique_ptr<CBasePacket> address;
    while (CBasePacket* p = addressIn_->GetPacketCopyAndRelease()) address.reset(p);
    if (auto* s = dynamic_cast<CStringPacket*>(address.get())) Connect(s->GetString());

    SendInputs();
    // While an output has no room, nothing more is read: the instrument
    // slows down to what the scheme takes.
    const bool room = FlushPending();
    if (!connection_.IsOpen() || !room) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    for (int i = 0; i < 64 && !ThreadShouldStop(); ++i) {
      std::unique_ptr<CDevCommand> block;
      const auto result = connection_.Read(i == 0 ? 1 : 0, block);
      if (result == CBlockConnection::ReadResult::Block) {
        partialSince_ = 0;
        Received(std::move(block));
        if (!FlushPending()) break;
        continue;
      }
      if (result == CBlockConnection::ReadResult::BadSignature) {
        Message(SE_INVALID_SIGNATURE);
        Disconnect();
      } else if (result == CBlockConnection::ReadResult::Closed ||
                 result == CBlockConnection::ReadResult::Error) {
        Message(SE_READ_ERROR);
        Disconnect();
      } else if (connection_.Partial()) {
        // Part of a block is here; the rest must follow in time.
        if (partialSince_ == 0) partialSince_ = NowSeconds();
        else if (NowSeconds() - partialSince_ > timeoutMs_ / 1000.0) {
          partialSince_ = 0;
          Message(SE_READ_BODY_TIMEOUT);
          Disconnect();
        }
      }
      break;
    }
  }
  Disconnect();
  FlushPending();
}

VK_DECLARE_PLUGIN_PACKAGE(TInstrumentLink)
