#include "InstrumentProtocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace vkinstrument {

void PutU32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutF64(unsigned char* p, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(u >> (8 * i));
}

double GetF64(const unsigned char* p) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(p[i]) << (8 * i);
  double v;
  std::memcpy(&v, &u, 8);
  return v;
}

std::unique_ptr<CDevCommand> MakeDataBlock(uint32_t sweep, uint32_t fullSize, uint32_t offset,
                                           const double* f, const double* a, const double* b,
                                           uint32_t count) {
  const unsigned body = kDataHeader + kDataChannels * 8 * count;
  auto block = std::make_unique<CDevCommand>(MI_RUN, static_cast<unsigned short>(body), 0, 0, sweep,
                                             kDataMarker);
  block->SetStatus(0);
  unsigned char* p = block->Body();
  PutU32(p, fullSize);
  PutU32(p + 4, offset);
  PutU32(p + 8, count);
  PutU32(p + 12, kDataChannels);
  unsigned char* v = p + kDataHeader;
  for (const double* channel : {f, a, b})
    for (uint32_t i = 0; i < count; ++i, v += 8) PutF64(v, channel[i]);
  return block;
}

bool IsDataBlock(const CDevCommand& block) {
  return block.Command() == MI_RUN && block.Dummy() == kDataMarker && block.BodyLen() >= kDataHeader;
}

bool ReadDataHeader(const CDevCommand& block, uint32_t& fullSize, uint32_t& offset, uint32_t& count) {
  if (!IsDataBlock(block) || block.CheckStructure() != 0) return false;
  const unsigned char* p = block.Body();
  fullSize = GetU32(p);
  offset = GetU32(p + 4);
  count = GetU32(p + 8);
  // Everything the block claims is checked against what it holds.
  if (GetU32(p + 12) != kDataChannels) return false;
  if (static_cast<uint64_t>(block.BodyLen()) != kDataHeader + uint64_t(kDataChannels) * 8 * count)
    return false;
  if (fullSize > kMaxSweepPoints) return false;
  return static_cast<uint64_t>(offset) + count <= fullSize;
}

void ReadDataChannel(const CDevCommand& block, unsigned channel, uint32_t count, double* out) {
  const unsigned char* v = block.Body() + kDataHeader + static_cast<size_t>(channel) * 8 * count;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(out, v, static_cast<size_t>(count) * 8);
#else
  for (uint32_t i = 0; i < count; ++i, v += 8) out[i] = GetF64(v);
#endif
}

bool ReadDataBlock(const CDevCommand& block, TSweepPart& part) {
  uint32_t fullSize, offset, count;
  if (!ReadDataHeader(block, fullSize, offset, count)) return false;
  part.sweep = block.Id();
  part.fullSize = fullSize;
  part.offset = offset;
  unsigned channel = 0;
  for (std::vector<double>* values : {&part.f, &part.a, &part.b}) {
    values->resize(count);
    ReadDataChannel(block, channel++, count, values->data());
  }
  return true;
}

std::unique_ptr<CDevCommand> MakeIndexBlock(double index) {
  auto block = std::make_unique<CDevCommand>(MI_TEST, 8);
  PutF64(block->Body(), index);
  return block;
}

bool IsIndexBlock(const CDevCommand& block) {
  return block.Command() == MI_TEST && block.BodyLen() == 8 && block.CheckStructure() == 0;
}

double ReadIndexBlock(const CDevCommand& block) { return GetF64(block.Body()); }

TDecodedBlock DecodeBlock(std::unique_ptr<CDevCommand> block) {
  TDecodedBlock out;
  if (IsDataBlock(*block)) {
    uint32_t fullSize, offset, count;
    if (!ReadDataHeader(*block, fullSize, offset, count)) {
      out.kind = TDecodedBlock::Kind::BadData;  // a data block that contradicts itself
      return out;
    }
    out.kind = TDecodedBlock::Kind::Data;
    for (unsigned c = 0; c < kDataChannels; ++c) {
      out.channels[c] = std::make_unique<CDoubleVectorPart>(count, fullSize, offset);
      ReadDataChannel(*block, c, count, out.channels[c]->Data());
    }
    return out;
  }
  if (IsIndexBlock(*block)) {
    out.kind = TDecodedBlock::Kind::Index;
    out.index = ReadIndexBlock(*block);
    return out;
  }
  out.kind = TDecodedBlock::Kind::Command;
  out.command = std::move(block);
  return out;
}

std::string OutgoingBlockFault(const CDataBlock& block) {
  if (block.Size() < kDevHeadSize)
    return "блок короче заголовка (" + std::to_string(block.Size()) + " байт)";
  // Read from the head's bytes: the block is not copied for the check.
  const unsigned char* head = block.Block();
  const unsigned signatureValue = head[0] | (head[1] << 8);
  const unsigned bodyLen = head[6] | (head[7] << 8);
  if (signatureValue != kDevSignature) {
    char signature[16];
    std::snprintf(signature, sizeof signature, "0x%04X", signatureValue);
    return std::string("сигнатура ") + signature + " вместо 0x55AA";
  }
  if (block.Size() != kDevHeadSize + bodyLen)
    return "длина тела " + std::to_string(bodyLen) + " не совпадает с размером блока " +
           std::to_string(block.Size());
  if (auto* parameter = dynamic_cast<const CDevParameter*>(&block);
      parameter && parameter->CheckStructure() != 0)
    return "блок параметра " + std::to_string(static_cast<unsigned short>(parameter->ParameterID())) +
           " не согласован с числом и размером значений";
  return std::string();
}

// ---- CBlockReader ---------------------------------------------------------------

void CBlockReader::Feed(const unsigned char* data, size_t size) {
  // What has been handed out goes before more is appended, so the buffer
  // holds at most one incomplete block and what has just arrived.
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

CBlockReader::Result CBlockReader::Next(std::unique_ptr<CDevCommand>& block) {
  const size_t available = buffer_.size() - start_;
  const unsigned char* p = buffer_.data() + start_;
  if (available < 2) return Result::Nothing;
  if ((p[0] | (p[1] << 8)) != kDevSignature) return Result::BadSignature;
  if (available < kDevHeadSize) return Result::Nothing;
  const unsigned bodyLen = p[6] | (p[7] << 8);
  const size_t total = kDevHeadSize + bodyLen;
  if (available < total) return Result::Nothing;
  CDataBlock raw(static_cast<unsigned>(total));
  std::memcpy(raw.Block(), p, total);
  start_ += total;
  if (start_ == buffer_.size()) Clear();
  block = std::make_unique<CDevCommand>(&raw);
  return Result::Block;
}

void CBlockReader::Clear() {
  buffer_.clear();
  start_ = 0;
}

bool ParseAddress(const std::string& address, std::string& host, unsigned short& port) {
  const std::string::size_type colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size()) return false;
  host = address.substr(0, colon);
  // "[::1]:5025": the brackets only set the address apart from the port.
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // "fe80::1:5025" could end anywhere: an IPv6 address goes in brackets
  }
  if (host.empty() || host.find_first_of("[]") != std::string::npos) return false;
  unsigned long p = 0;
  for (size_t i = colon + 1; i < address.size(); ++i) {
    if (address[i] < '0' || address[i] > '9') return false;
    p = p * 10 + static_cast<unsigned long>(address[i] - '0');
    if (p > 65535) return false;
  }
  if (p == 0) return false;
  port = static_cast<unsigned short>(p);
  return true;
}

// ---- CBlockConnection ----------------------------------------------------------

CBlockConnection::~CBlockConnection() { Close(); }

bool CBlockConnection::WaitFor(short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (cancel_ && cancel_()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    pollfd pfd{fd_, events, 0};
    const int rc = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left + 1, 20)));
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return false;
  }
}

void CBlockConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  reader_.Clear();
  partialTimed_ = false;
}

double CBlockConnection::PartialSeconds() const {
  if (!partialTimed_) return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - partialSince_).count();
}

bool CBlockConnection::Connect(const std::string& host, unsigned short port, int timeoutMs,
                               std::string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = gai_strerror(rc);
    return false;
  }
  error = "no address";
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      fd_ = fd;  // for WaitFor
      const bool ready = WaitFor(POLLOUT, std::chrono::steady_clock::now() +
                                              std::chrono::milliseconds(timeoutMs));
      fd_ = -1;
      if (ready) {
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        rc = soError == 0 ? 0 : -1;
        errno = soError;
      } else {
        rc = -1;
        errno = ETIMEDOUT;
      }
    }
    if (rc == 0) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      // An instrument that goes without a word (a power cut, a pulled cable)
      // would leave the connection open for ever: the system probes a
      // connection that has been quiet for 10 s and gives it up after
      // three unanswered probes, and data unacknowledged for 30 s ends it
      // too. The read then fails and the link connects again.
      int idle = 10, interval = 5, probes = 3;
      unsigned userTimeoutMs = 30000;
      ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
      ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
      fd_ = fd;
      freeaddrinfo(found);
      return true;
    }
    error = std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(found);
  return false;
}

CBlockConnection::ReadResult CBlockConnection::Extract(std::unique_ptr<CDevCommand>& block) {
  const CBlockReader::Result r = reader_.Next(block);
  // The time-out of a partly arrived block runs from its first byte.
  if (r == CBlockReader::Result::Block) {
    partialTimed_ = reader_.Partial();
    if (partialTimed_) partialSince_ = std::chrono::steady_clock::now();
  } else if (r == CBlockReader::Result::Nothing && reader_.Partial() && !partialTimed_) {
    partialTimed_ = true;
    partialSince_ = std::chrono::steady_clock::now();
  }
  switch (r) {
    case CBlockReader::Result::Block: return ReadResult::Block;
    case CBlockReader::Result::BadSignature: return ReadResult::BadSignature;
    default: return ReadResult::Nothing;
  }
}

CBlockConnection::ReadResult CBlockConnection::Read(int waitMs, std::unique_ptr<CDevCommand>& block,
                                                    CWakeEvent* wake) {
  ReadResult result = Extract(block);
  if (result != ReadResult::Nothing) return result;
  if (fd_ < 0) return ReadResult::Closed;
  pollfd pfd[2] = {{fd_, POLLIN, 0}, {wake ? wake->Fd() : -1, POLLIN, 0}};
  // A signalled event ends the wait at once (its descriptor may already
  // have been drained).
  if (wake && wake->Signalled()) waitMs = 0;
  int rc = ::poll(pfd, wake && wake->Fd() >= 0 ? 2 : 1, waitMs);
  if (rc < 0) return errno == EINTR ? ReadResult::Nothing : ReadResult::Error;
  if (wake && (pfd[1].revents & POLLIN)) wake->DrainIfStale();
  if (rc == 0 || !(pfd[0].revents & (POLLIN | POLLHUP | POLLERR))) return ReadResult::Nothing;
  unsigned char chunk[65536];
  ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n == 0) return ReadResult::Closed;
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReadResult::Nothing;
    return ReadResult::Error;
  }
  reader_.Feed(chunk, static_cast<size_t>(n));
  return Extract(block);
}

bool CBlockConnection::Send(const CDataBlock& block, int timeoutMs) {
  if (fd_ < 0) return false;
  const unsigned char* p = block.Block();
  size_t left = block.Size();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (left > 0) {
    ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (!WaitFor(POLLOUT, deadline)) return false;
  }
  return true;
}

// ---- CListener ------------------------------------------------------------------

CListener::~CListener() { Close(); }

void CListener::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CListener::Listen(unsigned short port, const std::string& host) {
  Close();
  sockaddr_storage storage{};
  socklen_t size = 0;
  if (host == "::1") {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
    a6->sin6_port = htons(port);
    size = sizeof *a6;
  } else if (host == "127.0.0.1") {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(port);
    size = sizeof *a4;
  } else {
    return false;  // the simulated instrument serves the loopback only
  }
  fd_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  auto* addr = reinterpret_cast<sockaddr*>(&storage);
  if (::bind(fd_, addr, size) != 0 || ::listen(fd_, 4) != 0) {
    Close();
    return false;
  }
  ::getsockname(fd_, addr, &size);
  port_ = ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return true;
}

int CListener::Accept(int waitMs) {
  if (fd_ < 0) return -1;
  pollfd pfd{fd_, POLLIN, 0};
  if (::poll(&pfd, 1, waitMs) != 1) return -1;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

}  // namespace vkinstrument
