#include "InstrumentSim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace vkinstrument {
namespace {

struct TLimits {
  double lo, hi;
  // A value that may be negative is a two's-complement number even without
  // fractional bytes.
  bool Signed() const { return lo < 0; }
};

// What each known parameter holds and the range of each value.
const std::map<int, std::vector<TLimits>>& Limits() {
  static const std::map<int, std::vector<TLimits>> limits = {
      {P_FREQUENCY, {{1, 20000}, {1, 20000}, {2, 100001}}},  // start, stop (MHz), points
      {P_AVERAGING, {{1, 1000}}},
      {P_RF_OUT, {{-60, 10}}},  // power, dBm
      {P_MODE, {{0, 3}}}};
  return limits;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CInstrumentSimulator::CInstrumentSimulator(const TSimSettings& settings)
    : settings_(settings), rng_(settings.seed) {
  // A data block's body length is a 16-bit field: at most 2,700 points fit.
  settings_.partSize = std::min(std::max(settings_.partSize, 1u), 2700u);
  parameters_[P_FREQUENCY] = {100, 1100, 1601};
  parameters_[P_AVERAGING] = {1};
  parameters_[P_RF_OUT] = {0};
  parameters_[P_MODE] = {0};
}

CInstrumentSimulator::~CInstrumentSimulator() { Stop(); }

int CInstrumentSimulator::Start(unsigned short port, const std::string& host) {
  if (!listener_.Listen(port, host)) return -1;
  ThreadStart();
  return listener_.Port();
}

void CInstrumentSimulator::Stop() {
  ThreadStop();
  listener_.Close();
}

void CInstrumentSimulator::Response(double f, double start, double stop, double& a, double& b) {
  // A third-order band-pass around the middle of the sweep, a tenth of the
  // span wide, 1 dB insertion loss.
  const double centre = (start + stop) / 2;
  const double halfWidth = std::max((stop - start) / 20, 1e-6);
  const double x = (f - centre) / halfWidth;
  const double transmission = 1.0 / (1.0 + std::pow(x * x, 3));
  a = std::max(-80.0, 10 * std::log10(transmission) - 1.0);
  // What is not passed is reflected; a matched pass band reflects little.
  const double reflection = std::max(1e-4, 1.0 - 0.97 * transmission);
  b = 10 * std::log10(reflection);
}

void CInstrumentSimulator::ThreadCycle() {
  while (!ThreadShouldStop()) {
    const int fd = listener_.Accept(10);
    if (fd < 0) continue;
    ++connections_;
    CBlockConnection connection(fd);
    connection.SetCancel([this] { return ThreadShouldStop(); });
    if (settings_.faults.refuse) continue;  // closed as it goes
    Serve(connection);
  }
}

void CInstrumentSimulator::Serve(CBlockConnection& connection) {
  sweeping_ = false;
  partsSent_ = 0;
  if (settings_.faults.silent) {
    // A hung device: the connection stays, everything sent is swallowed.
    std::unique_ptr<CDevCommand> block;
    while (!ThreadShouldStop()) {
      const auto r = connection.Read(10, block);
      if (r != CBlockConnection::ReadResult::Block && r != CBlockConnection::ReadResult::Nothing)
        return;
    }
    return;
  }
  // A new client learns that the device is ready.
  CDevCommand ready(MI_RESET);
  ready.SetStatus(MI_NO_ERROR);
  if (!Reply(connection, ready)) return;
  double nextPartTime = Now();
  while (!ThreadShouldStop()) {
    int wait = 5;
    if (sweeping_) {
      const double delay = nextPartTime - Now();
      wait = delay <= 0 ? 0 : std::min(5, static_cast<int>(delay * 1000));
    }
    std::unique_ptr<CDevCommand> block;
    switch (connection.Read(wait, block)) {
      case CBlockConnection::ReadResult::Block:
        if (!Answer(connection, *block)) return;
        continue;  // read everything waiting before the next part
      case CBlockConnection::ReadResult::Nothing:
        break;
      default:
        return;  // the client went away or sent garbage
    }
    if (sweeping_ && Now() >= nextPartTime) {
      if (!SendPart(connection)) return;
      const auto& freq = parameters_[P_FREQUENCY];
      const double parts = std::ceil(freq[2] / settings_.partSize);
      if (settings_.sweepsPerSecond > 0)
        nextPartTime = std::max(nextPartTime + 1.0 / (settings_.sweepsPerSecond * parts), Now() - 0.1);
    }
  }
}

bool CInstrumentSimulator::Answer(CBlockConnection& connection, CDevCommand& block) {
  std::unique_ptr<CDevCommand> answer;
  switch (block.Command()) {
    case MI_SET:
    case MI_GET:
      answer = ParameterAnswer(block);
      break;
    case MI_RUN:
      sweeping_ = true;
      nextOffset_ = 0;
      answer = std::make_unique<CDevCommand>(MI_RUN);
      answer->SetStatus(MI_NO_ERROR);
      break;
    case MI_RESET:
      sweeping_ = false;
      answer = std::make_unique<CDevCommand>(MI_RESET);
      answer->SetStatus(MI_NO_ERROR);
      break;
    case MI_INIT:
    case MI_TEST:  // an index comes back as it went
      answer = std::make_unique<CDevCommand>(&block);
      answer->SetStatus(MI_NO_ERROR);
      break;
    default:
      answer = std::make_unique<CDevCommand>(&block);
      answer->SetStatus(static_cast<short>(MI_UNKNOWN_COMMAND));
      break;
  }
  return Reply(connection, *answer);
}

bool CInstrumentSimulator::Reply(CBlockConnection& connection, const CDevCommand& answer) {
  if (settings_.faults.slowMs > 0) {
    // Waits in slices, so that stopping the simulator is never held up.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.faults.slowMs);
    while (!ThreadShouldStop() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ThreadShouldStop()) return false;
  }
  return connection.Send(answer, 2000);
}

std::unique_ptr<CDevCommand> CInstrumentSimulator::ParameterAnswer(const CDevCommand& request) {
  auto answer = std::make_unique<CDevParameter>(&request);
  if (answer->CheckStructure() != 0 || answer->ValueBytes() == 0 || answer->ValueBytes() > 8 ||
      answer->FracBytes() > 3) {
    answer->SetStatus(static_cast<short>(MI_SIZE_ERROR));
    return answer;
  }
  const int id = static_cast<unsigned short>(answer->ParameterID());
  auto limits = Limits().find(id);
  if (limits == Limits().end()) {
    answer->SetStatus(static_cast<short>(MI_UNKNOWN_PARAMETER));
    return answer;
  }
  std::vector<double>& values = parameters_[id];
  const unsigned count = std::min<unsigned>(answer->FlagA(), static_cast<unsigned>(values.size()));
  short status = MI_NO_ERROR;
  if (request.Command() == MI_SET) {
    const std::vector<double> before = values;
    for (unsigned i = 0; i < count; ++i) {
      const TLimits& l = limits->second[i];
      const double wanted =
          answer->ReadComplexValue(2, i, l.Signed(), answer->ValueBytes(), answer->FracBytes());
      double taken = std::min(std::max(wanted, l.lo), l.hi);
      if (id == P_FREQUENCY && i == 2) taken = std::round(taken);
      if (taken != wanted) status = MI_PARAMETER_CORRECTED;
      values[i] = taken;
    }
    if (id == P_FREQUENCY && values[1] <= values[0]) {
      values[1] = std::min(values[0] + 1, 20000.0);
      status = MI_PARAMETER_CORRECTED;
    }
    // A sweep in progress is not continued on other settings (that would
    // mix two measurements under one sweep number): it starts again.
    if (sweeping_ && values != before) {
      ++sweep_;
      nextOffset_ = 0;
    }
  }
  for (unsigned i = 0; i < count; ++i) answer->SetValue(static_cast<int>(i), values[i]);
  // Values beyond those the parameter has were not taken: they come back
  // as zeros, and the status says so.
  if (answer->FlagA() > count) {
    for (unsigned i = count; i < answer->FlagA(); ++i) answer->SetValue(static_cast<int>(i), 0);
    status = MI_PARAMETER_IGNORED;
  }
  answer->SetStatus(status);
  return answer;
}

void CInstrumentSimulator::PrepareSweep() {
  const std::vector<double>& freq = parameters_[P_FREQUENCY];
  if (freq == preparedFor_) return;
  preparedFor_ = freq;
  const double start = freq[0], stop = freq[1];
  const uint32_t points = static_cast<uint32_t>(freq[2]);
  sweepF_.resize(points);
  sweepA_.resize(points);
  sweepB_.resize(points);
  for (uint32_t i = 0; i < points; ++i) {
    sweepF_[i] = start + (stop - start) * i / std::max<uint32_t>(1, points - 1);
    Response(sweepF_[i], start, stop, sweepA_[i], sweepB_[i]);
  }
  if (noise_.empty()) {
    std::normal_distribution<double> noise(0.0, 0.05);
    noise_.resize(65521);
    for (double& v : noise_) v = noise(rng_);
  }
}

bool CInstrumentSimulator::SendPart(CBlockConnection& connection) {
  const TSimFaults& faults = settings_.faults;
  if (faults.dropAfterParts >= 0 && partsSent_ >= faults.dropAfterParts &&
      (faults.dropConnections < 0 || connections_.load() <= faults.dropConnections))
    return false;
  if (faults.badSignatureAfterParts >= 0 && partsSent_ >= faults.badSignatureAfterParts) {
    CDevCommand bad(MI_RUN, 4);
    bad.SetSignature(0x1234);
    connection.Send(bad, 2000);
    return false;
  }
  if (faults.shortBodyAfterParts >= 0 && partsSent_ >= faults.shortBodyAfterParts) {
    // A head that promises a body which never comes; the connection stays open.
    CDevCommand head(MI_RUN, 0);
    head.SetBodyLen(400);
    connection.Send(head, 2000);
    sweeping_ = false;
    return true;
  }
  PrepareSweep();
  const uint32_t points = static_cast<uint32_t>(sweepF_.size());
  if (nextOffset_ >= points) nextOffset_ = 0;  // the sweep was made shorter meanwhile
  const uint32_t count = std::min(settings_.partSize, points - nextOffset_);
  a_.resize(count);
  b_.resize(count);
  // Noise shrinks with averaging, as it does on a real instrument.
  const double scale = 1.0 / std::sqrt(std::max(1.0, parameters_[P_AVERAGING][0]));
  size_t n = static_cast<size_t>(rng_() % noise_.size());
  for (uint32_t i = 0; i < count; ++i) {
    a_[i] = sweepA_[nextOffset_ + i] + noise_[n] * scale;
    n = (n + 1) % noise_.size();
    b_[i] = sweepB_[nextOffset_ + i] + noise_[n] * scale;
    n = (n + 7) % noise_.size();
  }
  auto block = MakeDataBlock(sweep_, points, nextOffset_, sweepF_.data() + nextOffset_, a_.data(),
                             b_.data(), count);
  if (!connection.Send(*block, 2000)) return false;
  ++partsSent_;
  nextOffset_ += count;
  if (nextOffset_ >= points) {
    nextOffset_ = 0;
    ++sweep_;
  }
  return true;
}

}  // namespace vkinstrument
