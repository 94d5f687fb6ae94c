#include "remote/RemoteServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include "platform/LongOperation.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace vkremote {

namespace {

constexpr size_t kMaxOut = 64u << 20;  // a client that reads nothing is dropped past this

constexpr double kTokenSeconds = 10;    // a token must come within this
constexpr double kIdleGivesPlace = 60;  // a spoken client idle this long gives its place to a newcomer

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// The pause before the next token from an address is checked: a quarter of
// a second, doubling with every failure, 8 s at most.
double TokenSpacing(int failures) { return 0.25 * (1 << std::min(failures, 5)); }

bool IsLoopback(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET)
    return (ntohl(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr) >> 24) == 127;
  if (a.ss_family != AF_INET6) return false;
  const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(a).sin6_addr;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

std::string AddressText(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (a.ss_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
  else if (a.ss_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
  return text;
}

// The user who owns the other end of a loopback connection: the kernel's
// socket diagnostics look up the peer's socket (its source is the peer's
// address, its destination ours). False when it cannot be told.
bool PeerOwner(int fd, uid_t& uid) {
  sockaddr_storage local{}, peer{};
  socklen_t localLength = sizeof local, peerLength = sizeof peer;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 || local.ss_family != peer.ss_family)
    return false;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } query{};
  query.header.nlmsg_len = sizeof query;
  query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  query.header.nlmsg_flags = NLM_F_REQUEST;
  query.request.sdiag_family = static_cast<__u8>(peer.ss_family);
  query.request.sdiag_protocol = IPPROTO_TCP;
  query.request.idiag_states = ~0u;
  inet_diag_sockid& id = query.request.id;
  if (peer.ss_family == AF_INET) {
    const auto& p = reinterpret_cast<const sockaddr_in&>(peer);
    const auto& l = reinterpret_cast<const sockaddr_in&>(local);
    id.idiag_sport = p.sin_port;
    id.idiag_dport = l.sin_port;
    std::memcpy(id.idiag_src, &p.sin_addr, sizeof p.sin_addr);
    std::memcpy(id.idiag_dst, &l.sin_addr, sizeof l.sin_addr);
  } else {
    const auto& p = reinterpret_cast<const sockaddr_in6&>(peer);
    const auto& l = reinterpret_cast<const sockaddr_in6&>(local);
    id.idiag_sport = p.sin6_port;
    id.idiag_dport = l.sin6_port;
    std::memcpy(id.idiag_src, &p.sin6_addr, sizeof p.sin6_addr);
    std::memcpy(id.idiag_dst, &l.sin6_addr, sizeof l.sin6_addr);
  }
  id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  const int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag < 0) return false;
  timeval wait{1, 0};
  ::setsockopt(diag, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  bool found = false;
  if (::sendto(diag, &query, sizeof query, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
      static_cast<ssize_t>(sizeof query)) {
    alignas(nlmsghdr) char answer[8192];
    const ssize_t n = ::recv(diag, answer, sizeof answer, 0);
    auto* h = reinterpret_cast<nlmsghdr*>(answer);
    if (n > 0 && NLMSG_OK(h, static_cast<unsigned>(n)) && h->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
        h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      uid = static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->idiag_uid;
      found = true;
    }
  }
  ::close(diag);
  return found;
}

}  // namespace

CRemoteServer::CRemoteServer(TCommandRunner runner, QObject* parent) : QObject(parent), runner_(std::move(runner)) {
  auto* timer = new QTimer(this);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, this, [this] { Poll(); });
  vkplatform::OnLongOperationsOver(this, [this] { Poll(); });
  poll_ = timer;
}

CRemoteServer::~CRemoteServer() {
  std::vector<int> ids;
  for (const auto& [id, c] : clients_) ids.push_back(id);
  for (int id : ids) Drop(id);
  acceptor_.reset();
  if (listenFd_ >= 0) ::close(listenFd_);
}

int CRemoteServer::Listen(const std::string& address, int port, const std::string& token, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (port < 0 || port > 65535 || getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    error = "неверный адрес \"" + address + "\" или порт " + service;
    return -1;
  }
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int yes = 1;
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
    error = "не удалось открыть порт " + service + " на " + address + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    freeaddrinfo(found);
    return -1;
  }
  freeaddrinfo(found);
  if (!token.empty() && QString::fromStdString(token).size() < static_cast<int>(kMinTokenLength)) {
    error = "ключ удалённого управления короче " + std::to_string(kMinTokenLength) + " символов";
    ::close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  listenFd_ = fd;
  token_ = token;
  acceptor_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(acceptor_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
  return port_;
}

void CRemoteServer::Accept() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // No descriptor to take it with: look again in a second instead of
        // spinning on a listener that stays readable.
        acceptor_->setEnabled(false);
        QTimer::singleShot(1000, this, [this] {
          if (acceptor_) acceptor_->setEnabled(true);
        });
      }
      Pump();  // connections that gave their places go
      return;
    }
    // Another user of this machine has none of the operator's rights: on
    // the loopback, without a token, such a connection is refused.
    uid_t owner = 0;
    const bool foreign = IsLoopback(peer) && PeerOwner(fd, owner) && owner != ::geteuid();
    if (foreign && token_.empty()) {
      static const char refused[] = "-311,\"Доступ запрещён: подключение другого пользователя\"\n";
      (void)!::send(fd, refused, sizeof refused - 1, MSG_NOSIGNAL);
      ::close(fd);
      continue;
    }
    EvictOldestSilent();
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    const int id = nextId_++;
    auto c = std::make_unique<TClient>();
    c->id = id;
    c->fd = fd;
    c->authorized = token_.empty();
    c->address = AddressText(peer);
    c->connectedAt = c->lastActive = Now();
    c->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    c->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    c->writable->setEnabled(false);
    QObject::connect(c->readable.get(), &QSocketNotifier::activated, this, [this, id] { Read(id); });
    QObject::connect(c->writable.get(), &QSocketNotifier::activated, this, [this, id] { Write(id); });
    clients_[id] = std::move(c);
    if (!token_.empty())
      QTimer::singleShot(static_cast<int>(kTokenSeconds * 1000), this, [this, id] {
        auto it = clients_.find(id);
        if (it != clients_.end() && !it->second->authorized && !it->second->checking) {
          Break(*it->second);  // no token in time
          Pump();
        }
      });
  }
}

void CRemoteServer::EvictOldestSilent() {
  TClient* oldest = nullptr;
  int silent = 0;
  for (auto& [id, c] : clients_) {
    if (c->spoke || c->broken) continue;
    ++silent;
    if (!oldest || c->connectedAt < oldest->connectedAt) oldest = c.get();
  }
  if (silent >= kMaxSilent && oldest) Break(*oldest);  // dropped by the next Pump
}

bool CRemoteServer::TakePlace(TClient& c) {
  int spoken = 0;
  TClient* idlest = nullptr;
  for (auto& [id, other] : clients_) {
    if (other.get() == &c || !other->spoke || other->broken || other->closing) continue;
    ++spoken;
    const bool idle = other->lines.empty() && !other->holding && other->out.empty();
    if (idle && (!idlest || other->lastActive < idlest->lastActive)) idlest = other.get();
  }
  if (spoken >= kMaxClients) {
    if (!idlest || Now() - idlest->lastActive < kIdleGivesPlace) {
      Send(c, "-310,\"Слишком много подключений\"\n");
      c.closing = true;
      return false;
    }
    Break(*idlest);
  }
  c.spoke = true;
  return true;
}

void CRemoteServer::CheckToken(int id, const std::string& line) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  TClient& c = *it->second;
  c.checking = false;
  if (c.broken) return;
  TTurns& turns = turns_[c.address];
  if (line == token_) {
    turns.failures = 0;
    c.authorized = true;
  } else {
    ++turns.failures;
    Send(c, "-311,\"Доступ запрещён: неверный ключ\"\n");
    c.closing = true;
    c.in.clear();
    c.readable->setEnabled(false);
  }
  Parse(c);
  Pump();
}

void CRemoteServer::Read(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  TClient& c = *it->second;
  char buf[16384];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      c.in.append(buf, static_cast<size_t>(n));
      if (c.in.size() > kMaxLine + sizeof buf) break;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    // The client sends no more (or the connection broke): what it sent
    // before still runs and is answered, a last line without its line end
    // too.
    c.eof = true;
    c.readable->setEnabled(false);
    if (!c.in.empty() && c.in.back() != '\n') c.in += '\n';
    break;
  }
  Parse(c);
  Pump();
}

void CRemoteServer::Parse(TClient& c) {
  if (c.checking) return;  // its token waits for its turn
  size_t start = 0;
  for (size_t nl; !c.closing && (nl = c.in.find('\n', start)) != std::string::npos; start = nl + 1) {
    if (c.lines.size() >= kMaxWaiting) break;  // the rest waits in `in`
    std::string line = c.in.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) {
      Send(c, "-312,\"Слишком длинная строка\"\n");
      c.closing = true;
      break;
    }
    c.lastActive = Now();
    if (!c.spoke && !TakePlace(c)) break;
    if (!c.authorized) {
      // Tokens from one address are checked in turns, the turns further
      // apart after every wrong one: guessing costs time, not a flood.
      TTurns& turns = turns_[c.address];
      const double now = Now(), due = std::max(now, turns.next);
      turns.next = due + TokenSpacing(turns.failures);
      if (due <= now) {
        if (line == token_) {
          turns.failures = 0;
          c.authorized = true;
          continue;
        }
        ++turns.failures;
        Send(c, "-311,\"Доступ запрещён: неверный ключ\"\n");
        c.closing = true;
        break;
      }
      c.in.erase(0, nl + 1);
      c.checking = true;
      c.readable->setEnabled(false);
      const int id = c.id;
      QTimer::singleShot(static_cast<int>((due - now) * 1000) + 1, this, [this, id, line] { CheckToken(id, line); });
      return;
    }
    if (!line.empty()) c.lines.push_back(std::move(line));
  }
  if (c.closing) {
    c.in.clear();
    c.lines.clear();
    c.readable->setEnabled(false);
    return;
  }
  c.in.erase(0, start);
  if (c.in.size() > kMaxLine && c.in.find('\n') == std::string::npos) {
    Send(c, "-312,\"Слишком длинная строка\"\n");
    c.closing = true;
    c.in.clear();
    c.lines.clear();
    c.readable->setEnabled(false);
    return;
  }
  // A client with a full queue of commands is not read from until they run:
  // it waits as for a full pipe, and nothing it sent is lost.
  if (!c.eof) c.readable->setEnabled(c.lines.size() < kMaxWaiting);
}

void CRemoteServer::Pump() {
  // One command at a time in the whole server: a command that processes
  // events (opening a scheme does) must not start another inside itself,
  // and no command starts inside a long operation the operator began.
  // Lines that came meanwhile are run here once it is over.
  if (inCommand_ || vkplatform::LongOperationRunning()) return;
  for (bool progress = true; progress;) {
    progress = false;
    std::vector<int> ids;
    for (const auto& [id, c] : clients_)
      if (Runnable(*c)) ids.push_back(id);
    for (int id : ids) {
      Run(id);
      progress = true;
    }
  }
  std::vector<int> finished;
  for (const auto& [id, c] : clients_)
    if (Finished(*c)) finished.push_back(id);
  for (int id : finished) Drop(id);
}

void CRemoteServer::Run(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  TClient* c = it->second.get();
  while (Runnable(*c)) {
    const std::string line = c->lines.front();
    c->lines.pop_front();
    inCommand_ = true;
    TReply r = runner_(id, line);
    inCommand_ = false;
    it = clients_.find(id);
    if (it == clients_.end()) return;
    c = it->second.get();
    // Lines held back by a full queue come in now.
    if (!c->in.empty()) Parse(*c);
    if (c->broken) return;
    if (r.ready) {
      c->waiting = std::move(r);
      c->holding = true;
      c->heldSince = Now();
      static_cast<QTimer*>(poll_)->start();
      return;
    }
    if (r.hasAnswer) Send(*c, r.answer + "\n");
  }
}

void CRemoteServer::Poll() {
  if (inCommand_ || vkplatform::LongOperationRunning()) return;
  bool anyHolding = false;
  for (auto& [id, holder] : clients_) {
    TClient& c = *holder;
    if (!c.holding || c.broken) continue;
    const bool timedOut = c.waiting.timeoutSeconds > 0 && Now() - c.heldSince > c.waiting.timeoutSeconds;
    if (c.waiting.ready() || timedOut) {
      const std::string answer = timedOut && c.waiting.onTimeout ? c.waiting.onTimeout()
                                 : c.waiting.late              ? c.waiting.late()
                                                               : std::string();
      c.holding = false;
      c.waiting = TReply();
      if (!answer.empty()) Send(c, answer + "\n");
    }
    anyHolding = anyHolding || c.holding;
  }
  if (!anyHolding) static_cast<QTimer*>(poll_)->stop();
  Pump();
}

void CRemoteServer::Send(TClient& c, const std::string& text) {
  if (c.broken) return;
  if (c.out.size() + text.size() > kMaxOut) {
    Break(c);  // it reads nothing: no more is kept for it
    return;
  }
  c.out += text;
  Write(c);
}

void CRemoteServer::Write(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  Write(*it->second);
  if (Finished(*it->second)) Pump();
}

void CRemoteServer::Write(TClient& c) {
  while (!c.out.empty() && !c.broken) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      c.out.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    Break(c);  // the connection is gone
  }
  if (c.writable) c.writable->setEnabled(!c.broken && !c.out.empty());
}

void CRemoteServer::Break(TClient& c) {
  c.broken = true;
  c.out.clear();
  c.lines.clear();
  c.holding = false;
  c.waiting = TReply();
  ::shutdown(c.fd, SHUT_RDWR);
  if (c.readable) c.readable->setEnabled(false);
  if (c.writable) c.writable->setEnabled(false);
}

void CRemoteServer::Drop(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  if (inCommand_) {
    Break(*it->second);  // not while a command may be using it; Pump drops it after
    return;
  }
  std::unique_ptr<TClient> c = std::move(it->second);
  clients_.erase(it);
  c->readable.reset();
  c->writable.reset();
  ::close(c->fd);
  if (OnClientGone) OnClientGone(id);
}

}  // namespace vkremote
