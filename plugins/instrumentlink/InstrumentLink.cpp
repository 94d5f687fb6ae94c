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

// The first pause before a connection is tried again; each failed attempt
// doubles it, up to the scheme's "reconnectmax".
constexpr double kFirstRetryPause = 0.5;
// A connection that lasted this long starts its outage with the first pause
// again; one that keeps dropping sooner keeps the pauses growing.
constexpr double kSteadyConnection = 10;

constexpr const char* kLost = "связь потеряна";
constexpr const char* kRestored = "связь восстановлена";
constexpr const char* kEstablished = "связь установлена";

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TInstrumentLink::~TInstrumentLink() {
  ThreadStop();
  for (TPending& p : pending_) delete p.packet;
  // The event goes before the inputs (the base class's): they point at it
  // no longer. (Nothing sends to a module that is being destroyed: the
  // scheme is stopped by then.)
  for (CInLinkPoint* in : {addressIn_, commandIn_, indexIn_})
    if (in) in->WakeEvent = nullptr;
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
  // The module's thread waits on its socket and on its inputs at once.
  for (CInLinkPoint* in : {addressIn_, commandIn_, indexIn_}) in->WakeEvent = &wake_;
  return 0;
}

int TInstrumentLink::Initialize(QWidget*, xmlNode* node) {
  startAddress_ = VKCore::GetNodeStringValue(node, "@address", "");
  simSettings_.sweepsPerSecond = VKCore::GetNodeDoubleValue(node, "@simrate", 25);
  simSettings_.partSize = static_cast<unsigned>(std::max(1, VKCore::GetNodeIntValue(node, "@simpart", 401)));
  timeoutMs_ = std::max(1, VKCore::GetNodeIntValue(node, "@timeout", 3000));
  reconnect_ = VKCore::GetNodeBoolValue(node, "@reconnect", true);
  const double maxPause = VKCore::GetNodeDoubleValue(node, "@reconnectmax", 30000) / 1000.0;
  reconnectMax_ = maxPause >= kFirstRetryPause ? std::min(maxPause, 86400.0) : kFirstRetryPause;
  target_.clear();
  retryWanted_ = greeted_ = wasUp_ = outageSaid_ = false;
  runCommand_.reset();
  state_ = ELinkState::None;
  ThreadStart();
  return 0;
}

int TInstrumentLink::Finalize() {
  ThreadStopAsync();
  wake_.Signal();  // ends a wait at once
  ThreadStop();
  return 0;
}

void TInstrumentLink::Message(unsigned short code) {
  const char* text = GetErrorString(code);
  Say(text ? text : "");
}

void TInstrumentLink::Say(const char* text) { Emit(message_, new CStringPacket(text)); }

int TInstrumentLink::Query(const AnsiString& request, AnsiString& answer) {
  if (request != "connection") return VKT_NOT_SUPPORTED;
  switch (state_.load()) {
    case ELinkState::Connected: answer = "connected"; break;
    case ELinkState::Lost: answer = "lost"; break;
    case ELinkState::Never: answer = "never"; break;
    default: answer = "none"; break;
  }
  return VKT_OK;
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
  // Another address is not a lost connection: nothing is said about the
  // old one, and the new one has its own history.
  target_ = address;
  wasUp_ = false;
  outageSaid_ = false;
  retryPause_ = kFirstRetryPause;
  state_ = ELinkState::Never;
  TryConnect();
}

void TInstrumentLink::TryConnect() {
  Disconnect();
  retryWanted_ = false;
  greeted_ = false;
  silenceReported_ = false;
  unanswered_ = 0;
  std::string host;
  unsigned short port = 0;
  if (target_ == "sim") {
    simulator_ = std::make_unique<CInstrumentSimulator>(simSettings_);
    const int simPort = simulator_->Start(0);
    if (simPort < 0) {
      Failed(SE_CANT_CONNECT);
      return;
    }
    host = "127.0.0.1";
    port = static_cast<unsigned short>(simPort);
  } else if (!ParseAddress(target_, host, port)) {
    Failed(SE_CANT_CONNECT, false);  // empty or malformed: no attempt would help
    return;
  }
  std::string error;
  if (!connection_.Connect(host, port, timeoutMs_, error)) {
    Failed(SE_CANT_CONNECT);
    return;
  }
  // A connected instrument greets at once; a peer that does not (another
  // service on that port, a hung device) is reported like an unanswered
  // command.
  unanswered_ = 1;
  silentSince_ = NowSeconds();
}

void TInstrumentLink::Failed(unsigned short code, bool mayRetry) {
  const bool wasAnswering = greeted_;
  Disconnect();
  greeted_ = false;
  // Attempts that fail while the instrument is away are not said again and
  // again: the outage is said once, and its end.
  if (!outageSaid_) Message(code);
  if (wasAnswering) Say(kLost);
  outageSaid_ = true;
  state_ = wasUp_ ? ELinkState::Lost : ELinkState::Never;
  if (wasAnswering && NowSeconds() - upSince_ >= kSteadyConnection) retryPause_ = kFirstRetryPause;
  if (!mayRetry || !reconnect_ || target_.empty()) return;
  retryWanted_ = true;
  retryAt_ = NowSeconds() + retryPause_;
  retryPause_ = std::min(retryPause_ * 2, reconnectMax_);
}

void TInstrumentLink::Greeted() {
  greeted_ = true;
  if (outageSaid_) Say(wasUp_ ? kRestored : kEstablished);
  outageSaid_ = false;
  wasUp_ = true;
  upSince_ = NowSeconds();
  state_ = ELinkState::Connected;
}

void TInstrumentLink::CheckSilence() {
  if (!connection_.IsOpen() || unanswered_ == 0 || silenceReported_) return;
  if (NowSeconds() - silentSince_ <= timeoutMs_ / 1000.0) return;
  Message(SE_DEVICE_DONT_ANSWER);
  silenceReported_ = true;
}

void TInstrumentLink::Send(const CDataBlock& block) {
  if (!connection_.IsOpen()) {
    // Once per silence: the instrument is not there to take commands.
    if (!silenceReported_) Message(SE_DEVICE_DONT_ANSWER);
    silenceReported_ = true;
    return;
  }
  // A block whose head contradicts it would throw the stream out of step:
  // it is refused, and the connection goes on.
  const std::string fault = OutgoingBlockFault(block);
  if (!fault.empty()) {
    Emit(message_, new CStringPacket(("Команда не отправлена: " + fault).c_str()));
    return;
  }
  if (!connection_.Send(block, timeoutMs_)) {
    Failed(SE_WRITE_ERROR);
    return;
  }
  if (unanswered_++ == 0) silentSince_ = NowSeconds();
}

void TInstrumentLink::Received(std::unique_ptr<CDevCommand> block) {
  // Anything from the instrument ends a silence; an answer (any block but
  // sweep data) answers the oldest command still waiting.
  silenceReported_ = false;
  silentSince_ = NowSeconds();
  // The instrument greets every new connection; a connection made anew
  // while a run was in force gets the run again, after the greeting has
  // gone to the scheme (whose panels send their values again on it).
  const bool first = !greeted_;
  if (first) Greeted();
  const bool resume = first && reconnect_ && runCommand_ != nullptr;
  TDecodedBlock decoded = DecodeBlock(std::move(block));
  switch (decoded.kind) {
    case TDecodedBlock::Kind::BadData:
      Message(SE_READ_ERROR);  // a data block that contradicts itself
      return;
    case TDecodedBlock::Kind::Data: {
      COutLinkPoint* outputs[] = {f_, a_, b_};
      for (unsigned c = 0; c < kDataChannels; ++c) Emit(outputs[c], decoded.channels[c].release());
      return;
    }
    case TDecodedBlock::Kind::Index:
      if (unanswered_ > 0) --unanswered_;
      Emit(indexOut_, new CDoublePacket(decoded.index));
      return;
    case TDecodedBlock::Kind::Command:
      if (unanswered_ > 0) --unanswered_;
      Emit(commandOut_, decoded.command.release());
      if (resume) Send(*runCommand_);
      return;
  }
}

void TInstrumentLink::SendInputs() {
  while (CBasePacket* p = commandIn_->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    auto* c = dynamic_cast<CDevCommand*>(p);
    if (!c) continue;
    Send(*c);
    // The run in force is the scheme's wish, sent or not (a Stop while the
    // instrument is away still ends it).
    if (c->Command() == MI_RESET) {
      runCommand_.reset();
    } else if (c->Command() == MI_RUN) {
      owned.release();
      runCommand_.reset(c);
    }
  }
  while (CBasePacket* p = indexIn_->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    if (auto* d = dynamic_cast<CDoublePacket*>(p)) Send(*MakeIndexBlock(d->GetValue()));
  }
}

void TInstrumentLink::ThreadCycle() {
  // A stop request cuts short a connection attempt or a send in progress.
  connection_.SetCancel([this] { return ThreadShouldStop(); });
  if (!startAddress_.empty()) Connect(startAddress_);
  while (!ThreadShouldStop()) {
    // Whatever arrives at an input from now on ends the wait below at once.
    wake_.Clear();
    // A new address: connect there (the last one of several wins).
    std::unique_ptr<CBasePacket> address;
    while (CBasePacket* p = addressIn_->GetPacketCopyAndRelease()) address.reset(p);
    if (auto* s = dynamic_cast<CStringPacket*>(address.get())) Connect(s->GetString());

    SendInputs();
    if (!connection_.IsOpen() && retryWanted_ && NowSeconds() >= retryAt_) TryConnect();
    CheckSilence();
    // While an output has no room, nothing more is read: the instrument
    // slows down to what the scheme takes.
    const bool room = FlushPending();
    if (!connection_.IsOpen() || !room) {
      // Room on an output is not announced: it is looked for every 1 ms.
      // Without a connection only the inputs matter, and they wake us.
      wake_.Wait(room ? 20 : 1);
      continue;
    }
    for (int i = 0; i < 64 && !ThreadShouldStop(); ++i) {
      std::unique_ptr<CDevCommand> block;
      // The first read waits for the instrument or an input, long enough to
      // cost nothing while idle and short enough for the time-outs.
      const auto result = connection_.Read(i == 0 ? 10 : 0, block, &wake_);
      if (result == CBlockConnection::ReadResult::Block) {
        Received(std::move(block));
        if (!FlushPending() || !connection_.IsOpen()) break;
        continue;
      }
      if (result == CBlockConnection::ReadResult::BadSignature) {
        Failed(SE_INVALID_SIGNATURE);
      } else if (result == CBlockConnection::ReadResult::Closed ||
                 result == CBlockConnection::ReadResult::Error) {
        Failed(SE_READ_ERROR);
      } else if (connection_.PartialSeconds() > timeoutMs_ / 1000.0) {
        // Part of a block came; the rest did not follow in time.
        Failed(SE_READ_BODY_TIMEOUT);
      }
      break;
    }
  }
  Disconnect();
  FlushPending();
}

VK_DECLARE_PLUGIN_PACKAGE(TInstrumentLink)
