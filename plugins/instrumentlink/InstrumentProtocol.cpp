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

bool ParseAddress(const std::string& address, std::string& host, unsigned short& port) {
  const std::string::size_type colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size()) return false;
  host = address.substr(0, colon);
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
  buffer_.clear();
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

bool CBlockConnection::ExtractBlock(std::unique_ptr<CDevCommand>& block, ReadResult& result) {
  if (buffer_.size() < 2) return false;
  if ((buffer_[0] | (buffer_[1] << 8)) != kDevSignature) {
    result = ReadResult::BadSignature;
    return true;
  }
  if (buffer_.size() < kDevHeadSize) return false;
  const unsigned bodyLen = buffer_[6] | (buffer_[7] << 8);
  const size_t total = kDevHeadSize + bodyLen;
  if (buffer_.size() < total) return false;
  CDataBlock raw(static_cast<unsigned>(total));
  std::memcpy(raw.Block(), buffer_.data(), total);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
  block = std::make_unique<CDevCommand>(&raw);
  result = ReadResult::Block;
  return true;
}

CBlockConnection::ReadResult CBlockConnection::Read(int waitMs, std::unique_ptr<CDevCommand>& block) {
  ReadResult result = ReadResult::Nothing;
  if (ExtractBlock(block, result)) return result;
  if (fd_ < 0) return ReadResult::Closed;
  pollfd pfd{fd_, POLLIN, 0};
  int rc = ::poll(&pfd, 1, waitMs);
  if (rc < 0) return errno == EINTR ? ReadResult::Nothing : ReadResult::Error;
  if (rc == 0) return ReadResult::Nothing;
  unsigned char chunk[65536];
  ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n == 0) return ReadResult::Closed;
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReadResult::Nothing;
    return ReadResult::Error;
  }
  buffer_.insert(buffer_.end(), chunk, chunk + n);
  if (ExtractBlock(block, result)) return result;
  return ReadResult::Nothing;
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

bool CListener::Listen(unsigned short port) {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 4) != 0) {
    Close();
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
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
