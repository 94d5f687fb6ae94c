// The remote interface drives a whole bench as a script would: open the
// scheme, set the sweep, run, wait with *OPC?, read a trace, a marker and a
// link marker, export reports; errors go to SYST:ERR?, another client is
// served meanwhile, and bad input (a wrong token, an endless line) ends
// that connection and nothing else.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCommandLineParser>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Installation.h"
#include "MainForm.h"
#include "PluginFeed.h"
#include "VKPaths.h"
#include "remote/RemoteControl.h"
#include "SchemeManager.h"

#include <QAction>
#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <QToolBar>

#include "platform/LongOperation.h"

namespace fs = std::filesystem;

namespace {

constexpr char kToken[] = "секретный-ключ-стенда";

// A client with a blocking socket, used from a thread of its own while the
// launcher's thread serves.
class TClient {
 public:
  explicit TClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval t{90, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~TClient() { ::close(fd_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& line) { SendRaw(line + "\n"); }
  void SendRaw(const std::string& text) { (void)!::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  // One answer line ("" when the connection ended or nothing came).
  std::string Line() {
    for (;;) {
      const size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      if (!Fill()) return std::string();
    }
  }
  // A definite-length block: "#<n><length><data>".
  std::string Block() {
    while (buffer_.size() < 2 && Fill()) {
    }
    if (buffer_.size() < 2 || buffer_[0] != '#') return "?";
    const size_t digits = static_cast<size_t>(buffer_[1] - '0');
    while (buffer_.size() < 2 + digits && Fill()) {
    }
    const size_t length = std::stoul(buffer_.substr(2, digits));
    while (buffer_.size() < 2 + digits + length + 1 && Fill()) {
    }
    std::string data = buffer_.substr(2 + digits, length);
    buffer_.erase(0, std::min(buffer_.size(), 2 + digits + length + 1));
    return data;
  }
  std::string Ask(const std::string& line) {
    Send(line);
    return Line();
  }
  // The server ended the connection (closed, or reset with input unread).
  void StopSending() { ::shutdown(fd_, SHUT_WR); }
  bool Closed() {
    char c;
    return ::recv(fd_, &c, 1, 0) <= 0;
  }

 private:
  bool Fill() {
    char buf[65536];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
    return true;
  }
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

// Starts `remote` on a free loopback port; the port, or -1 (said).
int Serve(vkremote::CRemoteControl& remote, const std::string& token = "") {
  std::string error;
  const int port = remote.Start({0, "127.0.0.1", token}, error);
  EXPECT_GT(port, 0) << error;
  return port;
}

// Runs `script` in a thread while the launcher's thread serves events.
void Drive(const std::function<void()>& script, int seconds = 120) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    script();
    done = true;
  });
  EXPECT_TRUE(RunEventsUntil([&] { return done.load(); }, seconds * 1000)) << "the script did not finish";
  // Its sockets give up after 90 s: served until then, it always ends.
  RunEventsUntil([&] { return done.load(); }, 100000);
  t.join();
}

std::unique_ptr<TMainForm> EmptyLauncher() {
  Installation();
  fs::remove_all(GetVKDir(dirDefProfiles));
  TLauncherOptions o;
  o.pluginsDir = QString::fromStdString(Installation());
  o.helpFile = QString(VK_BIN_DIR) + "/help/vektra.qch";
  o.configDefault = QString(VK_BIN_DIR) + "/data/config.xml";
  auto form = std::make_unique<TMainForm>(o);
  form->TimerOpenFile.stop();  // no scheme dialog: the script opens one
  form->resize(1280, 900);
  form->show();
  return form;
}

}  // namespace

TEST(Remote, ScriptDrivesTheBench) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl remote(form.get());
  const int port = Serve(remote);
  ASSERT_GT(port, 0);
  const fs::path out = fs::path(TestHome()) / "remote";
  fs::create_directories(out);
  const std::string bench = std::string(VK_BIN_DIR) + "/schemes/bench.vms";

  std::string idn, noError, unknown, state, sweepState, opc1, opc2, csv, marker, link, resetError, finalError, other;
  std::string limitState, limitPass, limitFail, limitData, limitError;
  Drive([&] {
    TClient c(port);
    ASSERT_TRUE(c.Connected());
    idn = c.Ask("*IDN?");
    noError = c.Ask("SYST:ERR?");
    c.Send("BOGUS:COMMAND 1");
    unknown = c.Ask("SYSTem:ERRor?");
    c.Send("SCHeme:OPEN \"" + bench + "\"");
    state = c.Ask("SCH:STAT?");
    // The sweep as the panel serializes it: 801 points from 200 to 1000 MHz.
    c.Send("MOD:STAT \"sweep\",'<parameters><element id=\"1\" value=\"200\"/><element id=\"2\" value=\"1000\"/>"
           "<element id=\"3\" value=\"801\"/></parameters>'");
    opc1 = c.Ask("*OPC?");
    sweepState = c.Ask("MOD:STAT? \"sweep\"");
    c.Send("RUN:STOP");
    c.Send("RUN:STAR");
    {
      // Another client is answered while the first waits for its sweep.
      TClient d(port);
      c.Send("*OPC?");
      other = d.Ask("*IDN?");
      opc2 = c.Line();
    }
    c.Send("TRACe:DATA? \"chart\"");
    csv = c.Block();
    marker = c.Ask("MARK:VAL? \"chart\",0");
    link = c.Ask("LINK:VAL? \"chart\",0");
    // Limit lines on the diagram's first trace: wide enough to pass, then
    // one the transmission breaks.
    c.Send("CALCulate:LIMit:DATA \"diagram\",0,'верхняя,100,1100,10,10|нижняя,100,1100,-200,-200'");
    c.Send("CALC:LIM:STAT \"diagram\",0,ON");
    c.Send("*OPC?");
    c.Line();
    limitState = c.Ask("CALC:LIM:STAT? \"diagram\",0");
    limitPass = c.Ask("CALC:LIM:VERD? \"diagram\",0");
    c.Send("CALC:LIM:DATA \"diagram\",0,'нижняя,100,1100,-1,-1'");
    limitFail = c.Ask("CALC:LIM:FAIL? \"diagram\"");
    c.Send("CALC:LIM:DATA? \"diagram\",0");
    limitData = c.Block();
    c.Send("CALC:LIM:STAT \"diagram\",7,ON");
    limitError = c.Ask("SYST:ERR?");
    c.Send("MARKer:STATistics:RESet \"chart\"");
    resetError = c.Ask("SYST:ERR?");
    c.Send("REP:HTML \"chart\",\"" + (out / "chart.html").string() + "\"");
    c.Send("REPort:PDF \"diagram\",\"" + (out / "diagram.pdf").string() + "\"");
    finalError = c.Ask("SYST:ERR?");
  });
  EXPECT_EQ(idn.rfind("Korvan,Vektra Launcher,0,", 0), 0u) << idn;
  EXPECT_EQ(noError, "0,\"Нет ошибок\"");
  EXPECT_EQ(unknown.rfind("-113,\"Неизвестная команда", 0), 0u) << unknown;
  EXPECT_EQ(state, "RUNNING");
  EXPECT_EQ(opc1, "1");
  EXPECT_NE(sweepState.find("value=\"801\""), std::string::npos) << sweepState;
  EXPECT_EQ(opc2, "1");
  EXPECT_EQ(other.rfind("Korvan", 0), 0u);
  // The header and 801 rows from 200 to 1000 MHz.
  ASSERT_GT(csv.size(), 100u);
  EXPECT_EQ(csv.substr(0, csv.find('\r')), "\"Частота, МГц\",\"Передача, дБ\",\"Отражение, дБ\"");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 802);
  EXPECT_NE(csv.find("\n200,"), std::string::npos);
  EXPECT_NE(csv.find("\n1000,"), std::string::npos);
  // The pass band's maximum is near the middle, near 0 dB.
  const double arg = std::stod(marker.substr(0, marker.find(',')));
  EXPECT_GT(arg, 400);
  EXPECT_LT(arg, 800);
  EXPECT_FALSE(link.empty() || link == "\"\"") << link;
  EXPECT_EQ(resetError, "0,\"Нет ошибок\"");
  EXPECT_EQ(limitState, "1");
  EXPECT_EQ(limitPass.rfind("PASS,", 0), 0u) << limitPass;
  EXPECT_EQ(limitFail, "1");  // the stop band lies far below -1 dB
  EXPECT_EQ(limitData.find("нижняя,100,1100,-1,-1"), limitData.find('\n') + 1) << limitData;
  EXPECT_NE(limitError.find("номер трассы"), std::string::npos) << limitError;
  EXPECT_TRUE(fs::exists(out / "chart.html"));
  EXPECT_TRUE(fs::exists(out / "chart.jpeg"));
  std::ifstream pdf(out / "diagram.pdf", std::ios::binary);
  std::string head(5, '\0');
  pdf.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");
  EXPECT_EQ(finalError, "0,\"Нет ошибок\"");
  form.reset();
}

// What is wrong is said and ends no more than it must: a module that does
// not exist, arguments that do not parse; a wrong token, an endless line
// end only that client's connection; a flood of commands is read as they
// run (none lost), and what a client sent before it stopped sending is
// answered.
TEST(Remote, BadInputIsRefusedPlainly) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl guarded(form.get());
  std::string error;
  const int port = guarded.Start({0, "127.0.0.1", kToken}, error);
  ASSERT_GT(port, 0) << error;
  std::string noScheme, badQuote, wrongToken, longLine, afterAll, lastWords;
  int floodAnswers = 0;
  bool closedOnToken = false, closedOnLine = false;
  Drive([&] {
    {
      TClient c(port);
      c.Send(kToken);
      c.Send("MOD:STAT? \"sweep\"");
      c.Line();
      noScheme = c.Ask("SYST:ERR?");
      c.Send("MOD:STAT \"sweep\",'<unclosed");
      badQuote = c.Ask("SYST:ERR?");
    }
    {
      TClient c(port);
      wrongToken = c.Ask("*IDN?");
      closedOnToken = c.Closed();
    }
    {
      TClient c(port);
      c.Send(kToken);
      c.Send(std::string(70000, 'A'));
      longLine = c.Line();
      closedOnLine = c.Closed();
    }
    {
      TClient c(port);
      std::string flood = std::string(kToken) + "\n";
      for (int i = 0; i < 600; ++i) flood += "SYST:ERR?\n";
      c.Send(flood.substr(0, flood.size() - 1));
      for (int i = 0; i < 600; ++i)
        if (c.Line() == "0,\"Нет ошибок\"") ++floodAnswers;
    }
    {
      TClient c(port);
      c.Send(std::string(kToken) + "\n*IDN?");
      c.StopSending();
      lastWords = c.Line();
    }
    TClient c(port);
    c.Send(kToken);
    afterAll = c.Ask("*IDN?");
  });
  EXPECT_EQ(floodAnswers, 600);
  EXPECT_EQ(lastWords.rfind("Korvan", 0), 0u) << lastWords;
  EXPECT_EQ(noScheme.rfind("-221,", 0), 0u) << noScheme;
  EXPECT_EQ(badQuote.rfind("-102,", 0), 0u) << badQuote;
  EXPECT_EQ(wrongToken.rfind("-311,", 0), 0u) << wrongToken;
  EXPECT_TRUE(closedOnToken);
  EXPECT_EQ(longLine.rfind("-312,", 0), 0u) << longLine;
  EXPECT_TRUE(closedOnLine);
  EXPECT_EQ(afterAll.rfind("Korvan", 0), 0u);

  // A token must be long enough to be worth guessing.
  vkremote::CRemoteControl weak(form.get());
  EXPECT_EQ(weak.Start({0, "127.0.0.1", "короткий-ключ"}, error), -1);
  EXPECT_NE(error.find("короче 16 символов"), std::string::npos) << error;

  // Another address than the loopback's only with a token.
  QCommandLineParser parser;
  vkremote::TRemoteCommandLine line;
  line.AddTo(parser);
  ASSERT_TRUE(parser.parse({"Player", "--remote", "5025", "--remote-bind", "0.0.0.0"}));
  vkremote::TRemoteOptions options;
  ::unsetenv("VEKTRA_REMOTE_TOKEN");
  EXPECT_FALSE(line.Read(parser, options, error));
  EXPECT_NE(error.find("ключ"), std::string::npos);
  ASSERT_TRUE(parser.parse({"Player", "--remote", "many"}));
  EXPECT_FALSE(line.Read(parser, options, error));
}

// Places and rights: silent sockets never keep the operator out; wrong
// tokens from one address are checked ever further apart; a user of this
// machine other than the operator gets in only with the token; a last line
// without its line end is answered.
TEST(Remote, PlacesTokensAndOtherUsers) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl guarded(form.get());
  std::string error;
  const int port = guarded.Start({0, "127.0.0.1", kToken}, error);
  ASSERT_GT(port, 0) << error;
  vkremote::CRemoteControl open(form.get());
  const int openPort = open.Start({0, "127.0.0.1", ""}, error);
  ASSERT_GT(openPort, 0) << error;
  std::string operatorAnswer, lastLine, silentOpenAnswer;
  std::vector<std::string> wrong;
  double wrongSeconds = 0;
  Drive([&] {
    std::vector<std::unique_ptr<TClient>> silent;
    for (int i = 0; i < 16; ++i) silent.push_back(std::make_unique<TClient>(port));
    TClient operatorClient(port);
    operatorClient.Send(kToken);
    operatorAnswer = operatorClient.Ask("*IDN?");
    // Four wrong guesses in a row: a quarter, a half and a whole second
    // between the checks at the least.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
      TClient guess(port);
      wrong.push_back(guess.Ask("guess-" + std::to_string(i) + "-0123456789abcdef"));
    }
    wrongSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Without a token, silent loopback sockets do not hold every place
    // either; a last line without a line end is answered.
    for (int i = 0; i < 24; ++i) silent.push_back(std::make_unique<TClient>(openPort));
    TClient last(openPort);
    last.SendRaw("*IDN?");
    last.StopSending();
    lastLine = last.Line();
  });
  EXPECT_EQ(operatorAnswer.rfind("Korvan", 0), 0u) << operatorAnswer;
  ASSERT_EQ(wrong.size(), 4u);
  for (const std::string& w : wrong) EXPECT_EQ(w.rfind("-311,", 0), 0u) << w;
  EXPECT_GE(wrongSeconds, 0.25 + 0.5 + 1.0);
  EXPECT_EQ(lastLine.rfind("Korvan", 0), 0u) << lastLine;

  // A client run by another user of this machine: refused without a token
  // (the kernel names the owner of its socket), served with it.
  if (::geteuid() != 0) GTEST_SKIP() << "another user's client needs root to start";
  auto asNobody = [&](int p, const std::string& first) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      TClient c(p);
      std::string answer = first.empty() ? c.Ask("*IDN?") : (c.Send(first), c.Ask("*IDN?"));
      (void)!::write(fds[1], answer.data(), answer.size());
      ::_exit(0);
    }
    ::close(fds[1]);
    std::string answer;
    RunEventsUntil(
        [&] {
          pollfd pfd{fds[0], POLLIN, 0};
          return ::poll(&pfd, 1, 0) > 0;
        },
        30000);
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) answer.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return answer;
  };
  const std::string refused = asNobody(openPort, "");
  EXPECT_EQ(refused.rfind("-311,", 0), 0u) << refused;
  EXPECT_NE(refused.find("другого пользователя"), std::string::npos) << refused;
  const std::string served = asNobody(port, kToken);
  EXPECT_EQ(served.rfind("Korvan", 0), 0u) << served;
}

// The conventions instrument clients expect: the common commands and their
// status registers, the standard error numbers, what a client sent said
// back printable, a zero byte refused, and a failed command said by its
// own message (never a failed internal check's text).
TEST(Remote, CommonCommandsAndStandardErrors) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl remote(form.get());
  const int port = Serve(remote);
  ASSERT_GT(port, 0);
  const std::string demo = std::string(VK_BIN_DIR) + "/schemes/demo.vms";
  std::vector<std::string> answers;
  Drive([&] {
    TClient c(port);
    for (const char* q : {"*ESE 60", "*SRE 32", "*ESE?", "*SRE?", "*TST?", "SYST:VERS?", "*ESR?"}) {
      if (std::string(q).back() == '?') answers.push_back(c.Ask(q));
      else c.Send(q);
    }
    c.SendRaw(std::string("F\x01\xFF:BAR 1\n"));
    answers.push_back(c.Ask("*STB?"));  // an error waits, an enabled event, the summary
    answers.push_back(c.Ask("SYST:ERR?"));
    answers.push_back(c.Ask("*ESR?"));  // a command error, then cleared
    answers.push_back(c.Ask("*ESR?"));
    c.Send("*ESE 1,2");
    c.Send("*ESE");
    c.Send("*SRE 300");
    answers.push_back(c.Ask("MARK:VAL? \"chart\",12"));  // a query answers, if only with nothing
    c.SendRaw(std::string("SCH:OPEN \"a\0b.vms\"\n", 19));
    for (int i = 0; i < 5; ++i) answers.push_back(c.Ask("SYST:ERR?"));
    c.Send("SCH:OPEN \"" + demo + "\"");
    c.Send("PROF:OPEN \"/nowhere/missing.vpr\"");
    answers.push_back(c.Ask("SYST:ERR?"));
    answers.push_back(c.Ask("SYST:ERR?"));
    c.Send("*CLS");
    c.Send("*RST");
    c.Send("*WAI");
    c.Send("*OPC");
    answers.push_back(c.Ask("*ESR?"));
  });
  const std::vector<std::string> expected = {
      "60", "32", "0", "1999.0", "0", "100",
      "-113,\"Неизвестная команда: F\\x01\\xFF:BAR\"", "32", "0", "",
      "-108,\"Лишний параметр: ожидается параметров: 1\"", "-109,\"Не хватает параметра: ожидается параметров: 1\"",
      "-222,\"Значение вне допустимых пределов: 300 (0…255)\"",
      "-222,\"Значение вне допустимых пределов: номер 12 (0…9)\"",
      "-224,\"Неверный параметр: нулевой байт в параметре \"\"a\\x00b.vms\"\"\"",
      "-1,\"Ошибка: Невозможно открыть файл \"\"/nowhere/missing.vpr\"\".\"", "0,\"Нет ошибок\"", "1"};
  ASSERT_EQ(answers.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(answers[i], expected[i]) << i;
}

// Stop and start of the run control in any order and timing (back to back,
// doubled, a start while the stop is still on its way): afterwards Start,
// Stop and the wizard say whether the instrument sweeps, and a marker read
// after *OPC? reads the sweep that *OPC? waited for.
TEST(Remote, StopAndStartLeaveTheRunControlUsable) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl remote(form.get());
  const int port = Serve(remote);
  ASSERT_GT(port, 0);
  const std::string bench = std::string(VK_BIN_DIR) + "/schemes/bench.vms";
  Drive([&] {
    TClient c(port);
    c.Send("SCH:OPEN \"" + bench + "\"");
    c.Ask("*OPC?");
  });
  auto action = [&](const char* bar, const char* name) -> QAction* {
    for (QToolBar* b : form->findChildren<QToolBar*>())
      if (b->objectName() == bar)
        for (QAction* a : b->actions())
          if (a->objectName() == name) return a;
    return nullptr;
  };
  QAction* start = action("run", "ActionStart");
  QAction* stop = action("run", "ActionStop");
  QAction* wizard = action("check", "ActionWizard");
  ASSERT_TRUE(start && stop && wizard);
  CBasePlugin* chart = nullptr;
  ASSERT_TRUE(form->Scheme() && form->Scheme()->GetPlugin(chart, "chart") == 0 && chart);
  auto sweeps = [&] {
    AnsiString answer;
    return chart->Query("sweeps", answer) == VKT_OK ? std::stoull(answer) : 0ull;
  };
  // The run is under way (the bench starts it): the instrument sweeps.
  ASSERT_TRUE(RunEventsUntil([&] { return sweeps() >= 2; }, 20000));

  const std::vector<std::vector<std::string>> orders = {
      {"RUN:STOP", "RUN:STAR"},
      {"RUN:STOP", "RUN:STAR"},
      {"RUN:STOP", "RUN:STOP", "RUN:STAR", "RUN:STAR"},
      {"RUN:STOP", "RUN:STAR", "RUN:STOP", "RUN:STAR"},
      {"RUN:STOP"},
      {"RUN:STAR", "RUN:STOP", "RUN:STAR"},
      {"RUN:STOP", "RUN:STAR", "RUN:STOP"},
      {"RUN:STAR", "RUN:STOP"},
      {"RUN:STAR"},
  };
  for (size_t i = 0; i < orders.size(); ++i) {
    SCOPED_TRACE(i);
    Drive([&] {
      TClient c(port);
      for (const std::string& command : orders[i]) c.Send(command);
      c.Ask("*OPC?");
    });
    const bool sweeping = orders[i].back() == "RUN:STAR";
    // Every answer of the instrument comes within a few sweeps; then the
    // actions agree with it, and go on agreeing.
    const auto before = sweeps();
    auto agree = [&] {
      return start->isEnabled() == !sweeping && stop->isEnabled() == sweeping && wizard->isEnabled() == !sweeping;
    };
    if (sweeping) {
      EXPECT_TRUE(RunEventsUntil([&] { return sweeps() >= before + 3 && agree(); }, 20000));
    } else {
      // Stopped: a start of the wizard's own would be possible again.
      EXPECT_TRUE(RunEventsUntil([&] { return agree(); }, 5000));
      RunEventsUntil([] { return false; }, 300);
    }
    EXPECT_TRUE(agree()) << start->isEnabled() << stop->isEnabled() << wizard->isEnabled();
  }

  // A new sweep range, then a run: after *OPC? the marker stands on the
  // sweep just taken (the pass band's maximum is within the new range).
  for (const auto& [from, to] : {std::pair{420, 520}, std::pair{700, 900}, std::pair{300, 450}}) {
    SCOPED_TRACE(from);
    std::string marker, peak;
    Drive([&, from = from, to = to] {
      TClient c(port);
      c.Send("MOD:STAT \"sweep\",'<parameters><element id=\"1\" value=\"" + std::to_string(from) +
             "\"/><element id=\"2\" value=\"" + std::to_string(to) + "\"/><element id=\"3\" value=\"201\"/></parameters>'");
      c.Ask("*OPC?");
      c.Send("RUN:STOP");
      c.Send("RUN:STAR");
      c.Ask("*OPC?");
      marker = c.Ask("MARK:VAL? \"chart\",0");
      peak = c.Ask("MARK:VAL? \"diagram\",0");
    });
    for (const std::string& reading : {marker, peak}) {
      ASSERT_FALSE(reading.empty() || reading[0] == ',') << reading;
      const double arg = std::stod(reading.substr(0, reading.find(',')));
      EXPECT_GE(arg, from) << reading;
      EXPECT_LE(arg, to) << reading;
    }
  }
}

// A 30 MB profile opened from the window's menu: the window goes on
// answering while the file is read (a progress window says so), and a
// remote command sent meanwhile is run only once the profile is applied.
TEST(Remote, CommandsWaitWhileALargeProfileOpens) {
  TAppFirst app;
  auto form = EmptyLauncher();
  ASSERT_EQ(form->OpenScheme(QString(VK_BIN_DIR) + "/schemes/matrix.vms"), 0);
  vkremote::CRemoteControl remote(form.get());
  const int port = Serve(remote);
  ASSERT_GT(port, 0);
  const std::string file = (fs::path(TestHome()) / "large.vpr").string();
  {
    std::string column;
    for (int i = 0; i < 2000000; ++i) column += std::to_string(100 + i * 0.000625).substr(0, 10) + " ";
    column.pop_back();
    std::ofstream(file) << "<profile scheme=\"matrix\"><parameters nodeName=\"corrections\"><column vector=\""
                        << column << "\"/><column vector=\"" << column << "\"/></parameters></profile>";
  }
  vkplatform::SetProgressDelay(0);
  std::atomic<bool> operationSeen{false}, sent{false}, sentDuring{false}, answered{false};
  std::atomic<bool> answeredDuring{false};
  QString progressText;
  int ticksDuring = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!vkplatform::LongOperationRunning()) return;
    ++ticksDuring;
    operationSeen = true;
    sentDuring = sentDuring || sent;
    answeredDuring = answeredDuring || answered;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) progressText = p->labelText();
  });
  probe.start(5);
  std::string idn;
  std::thread client([&] {
    TClient c(port);
    while (!operationSeen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    c.Send("*IDN?");
    sent = true;
    idn = c.Line();
    answered = true;
  });
  EXPECT_EQ(form->Scheme()->OpenProfile(file.c_str()), 0);
  const bool answeredBeforeTheEnd = answered;
  RunEventsUntil([&] { return answered.load(); }, 30000);
  client.join();
  vkplatform::SetProgressDelay(0.3);
  EXPECT_GT(ticksDuring, 1);
  EXPECT_EQ(progressText, QString::fromUtf8("Открытие профиля..."));
  EXPECT_TRUE(sentDuring);
  EXPECT_FALSE(answeredDuring || answeredBeforeTheEnd);
  EXPECT_EQ(idn.rfind("Korvan", 0), 0u) << idn;
  // The table arrived whole: the archive keeps it too.
  const std::string again = (fs::path(TestHome()) / "again.vpr").string();
  ASSERT_EQ(form->Scheme()->SaveProfile(again.c_str()), 0);
  EXPECT_GT(fs::file_size(again), fs::file_size(file));
  form.reset();
}

// The production station by script: a unit started, waited for and read
// back, the counts of the store; a serial with a space is refused.
TEST(Remote, ProductionStationByScript) {
  TAppFirst app;
  auto form = EmptyLauncher();
  vkremote::CRemoteControl remote(form.get());
  const int port = Serve(remote);
  ASSERT_GT(port, 0);
  const std::string database = TestHome() + "/remote-results.sqlite";
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(database + suffix);
  // The shipped scheme with a database of this test's own.
  std::ifstream in(std::string(VK_BIN_DIR) + "/schemes/production.vms");
  std::string scheme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string from = "<reading name=";
  ASSERT_NE(scheme.find(from), std::string::npos);
  scheme.insert(scheme.find(from), "<database file=\"" + database + "\"/>");
  const std::string file = TestHome() + "/production-remote-test.vms";
  std::ofstream(file) << scheme;
  std::string started, last, counts, refused, serial;
  Drive([&] {
    TClient c(port);
    c.Send("SCH:OPEN \"" + file + "\"");
    c.Ask("*OPC?");
    c.Send("RESult:STARt \"results\",\"ФП-77\",\"Орлова\"");
    started = c.Ask("SYST:ERR?");
    for (int i = 0; i < 300 && c.Ask("RES:RUNN? \"results\"") != "0"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    last = c.Ask("RES:LAST? \"results\"");
    c.Send("RES:STAR \"results\",\"ФП 78\"");
    refused = c.Ask("SYST:ERR?");
    serial = c.Ask("RES:SER? \"results\",\"ФП-77\"");
    counts = c.Ask("RES:COUN? \"results\"");
  });
  fs::remove(file);
  EXPECT_EQ(started, "0,\"Нет ошибок\"");
  EXPECT_EQ(last.rfind("ФП-77,PASS,", 0), 0u) << last;
  EXPECT_NE(refused.find("без пробелов"), std::string::npos) << refused;
  EXPECT_EQ(serial.substr(0, 11), last.substr(0, 11));
  EXPECT_EQ(counts, "1,1,0,100");
  form.reset();
}
