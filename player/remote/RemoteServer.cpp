#include "remote/RemoteServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vkremote {

namespace {

constexpr size_t kMaxOut = 64u << 20;  // a client that reads nothing is dropped past this

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

}  // namespace

CRemoteServer::CRemoteServer(TCommandRunner runner, QObject* parent) : QObject(parent), runner_(std::move(runner)) {
  auto* timer = new QTimer(this);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, this, [this] { Poll(); });
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
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // No descriptor to take it with: look again in a second instead of
        // spinning on a listener that stays readable.
        acceptor_->setEnabled(false);
        QTimer::singleShot(1000, this, [this] {
          if (acceptor_) acceptor_->setEnabled(true);
        });
      }
      return;
    }
    if (static_cast<int>(clients_.size()) >= kMaxClients) {
      static const char busy[] = "-310,\"Слишком много подключений\"\n";
      (void)!::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
      ::close(fd);
      continue;
    }
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    const int id = nextId_++;
    auto c = std::make_unique<TClient>();
    c->fd = fd;
    c->authorized = token_.empty();
    c->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    c->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    c->writable->setEnabled(false);
    QObject::connect(c->readable.get(), &QSocketNotifier::activated, this, [this, id] { Read(id); });
    QObject::connect(c->writable.get(), &QSocketNotifier::activated, this, [this, id] { Write(id); });
    clients_[id] = std::move(c);
    if (!token_.empty())
      QTimer::singleShot(10000, this, [this, id] {
        auto it = clients_.find(id);
        if (it != clients_.end() && !it->second->authorized) {
          Break(*it->second);  // no token in time
          Pump();
        }
      });
  }
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
    // before still runs and is answered.
    c.eof = true;
    c.readable->setEnabled(false);
    break;
  }
  Parse(c);
  Pump();
}

void CRemoteServer::Parse(TClient& c) {
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
    if (!c.authorized) {
      if (line != token_) {
        Send(c, "-311,\"Доступ запрещён: неверный ключ\"\n");
        c.closing = true;
        break;
      }
      c.authorized = true;
      continue;
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
  // events (opening a scheme does) must not start another inside itself.
  // Lines that came meanwhile are run here once it is over.
  if (inCommand_) return;
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
  if (inCommand_) return;
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
