#pragma once
// The remote interface's connections: a TCP listener (127.0.0.1 unless told
// otherwise) and its clients, served in the GUI thread through socket
// notifiers, so that every command runs where the windows live and no lock
// is needed. A client sends lines; each line is one command; answers go
// back in the order of the commands, one line each (or a definite-length
// block for data). A command may hold its answer (and those behind it)
// until a condition holds: "*OPC?" waits for the operations before it.
//
// Untrusted input: a line is at most 64 KiB (a longer one ends the
// connection); a client with 256 commands waiting is not read from until
// they run (it waits, as for a full pipe); a client that reads none of its
// answers is dropped at 64 MiB of them.
//
// Places: 16 clients that have spoken (sent a line, or the token), and
// beside them at most 8 connections that have not: when a ninth comes, the
// oldest of those goes, so silent sockets never keep the operator out.
// With a token (at least 16 characters) a client's first line must be it,
// within 10 s; wrong tokens from one address are checked no faster than
// every 0.25 s, doubling with each failure up to 8 s. On the loopback, a
// connection from a socket owned by another user of the machine (its owner
// asked of the kernel's socket diagnostics) gets in only with the token:
// without one it is refused.
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace vkremote {

// What a command gives: an answer now, or a condition to wait for and the
// answer to give when it holds (or when the time is up).
struct TReply {
  bool hasAnswer = false;
  std::string answer;  // without the line end
  std::function<bool()> ready;      // empty: answer at once
  std::function<std::string()> late;  // the answer once ready (or timed out)
  double timeoutSeconds = 0;
  std::function<std::string()> onTimeout;
  static TReply None() { return TReply(); }
  static TReply Text(std::string text) {
    TReply r;
    r.hasAnswer = true;
    r.answer = std::move(text);
    return r;
  }
};

// Runs one command line for client `client` and says what to answer.
using TCommandRunner = std::function<TReply(int client, const std::string& line)>;

class CRemoteServer : public QObject {
 public:
  static constexpr size_t kMaxLine = 65536;
  static constexpr size_t kMaxWaiting = 256;
  static constexpr int kMaxClients = 16;
  static constexpr int kMaxSilent = 8;
  static constexpr size_t kMinTokenLength = 16;

  explicit CRemoteServer(TCommandRunner runner, QObject* parent = nullptr);
  ~CRemoteServer() override;

  // Listens on `address` ("127.0.0.1", "::1", "0.0.0.0" ...) at `port` (0:
  // any free one). With a non-empty `token` a client's first line must be
  // it; a token shorter than 16 characters is refused. Returns the port, or
  // -1 with the reason in `error`.
  int Listen(const std::string& address, int port, const std::string& token, std::string& error);
  int Port() const { return port_; }
  int Clients() const { return static_cast<int>(clients_.size()); }
  // A client's connection ended (its errors queue may go).
  std::function<void(int client)> OnClientGone;

 private:
  struct TClient {
    int id = 0;
    int fd = -1;
    bool authorized = false;
    std::string in, out;
    std::deque<std::string> lines;  // commands not run yet
    TReply waiting;                 // the command whose answer is held
    bool holding = false;
    double heldSince = 0;
    std::unique_ptr<QSocketNotifier> readable, writable;
    bool eof = false;      // the client sends no more: dropped once its commands are answered
    bool closing = false;  // dropped once everything is written
    bool broken = false;   // dropped as soon as no command runs
    bool spoke = false;    // a whole line came (the token, or a command)
    bool checking = false; // its token waits for the address's next turn
    double connectedAt = 0, lastActive = 0;
    std::string address;   // the peer's address, for the token's turns
  };
  struct TTurns {
    int failures = 0;
    double next = 0;  // when the next token from this address is checked
  };
  void Parse(TClient& c);
  // Whether the client has a command that can run now.
  static bool Runnable(const TClient& c) { return !c.holding && !c.closing && !c.broken && !c.lines.empty(); }
  static bool Finished(const TClient& c) {
    return c.broken || (c.out.empty() && (c.closing || (c.eof && c.lines.empty() && !c.holding && !c.checking)));
  }
  void Accept();
  // Makes room for a new connection among those that have not spoken.
  void EvictOldestSilent();
  // A client's first whole line: it takes one of the places of those that
  // have spoken (the one idle longest gives its place after a minute).
  bool TakePlace(TClient& c);
  void CheckToken(int id, const std::string& line);
  void Read(int id);
  void Write(int id);
  void Write(TClient& c);
  void Run(int id);
  void Pump();
  void Send(TClient& c, const std::string& text);
  // Ends the connection now (nothing more is written).
  void Break(TClient& c);
  void Drop(int id);
  void Poll();

  TCommandRunner runner_;
  std::string token_;
  int listenFd_ = -1;
  int port_ = -1;
  int nextId_ = 1;
  bool inCommand_ = false;
  std::unique_ptr<QSocketNotifier> acceptor_;
  std::map<int, std::unique_ptr<TClient>> clients_;
  std::map<std::string, TTurns> turns_;
  QObject* poll_ = nullptr;  // the timer that looks at held answers
};

}  // namespace vkremote
