// A bench left logging: the instrument (vk-instrument-sim in a process of
// its own) goes away in the middle of the run and comes back on the same
// port; the link connects again, the panel's setting reaches the new
// instrument, the run goes on and the recorder keeps numbering the same run.
// Attempts to reconnect back off; a peer that vanishes without a word is
// probed.
#include <QAction>
#include <QDialog>
#include <QMainWindow>
#include <QRegularExpression>

#include <netinet/in.h>
#include <poll.h>
#include <sys/wait.h>
#include <csignal>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "Diagnostics.h"
#include "InstrumentSim.h"
#include "InstrumentTestSupport.h"

namespace fs = std::filesystem;
using namespace insttest;

namespace {

// vk-instrument-sim on `port` (0: a free one).
std::vector<std::string> SimOn(int port) { return {"--port", std::to_string(port), "--rate", "50", "--part", "401"}; }

// The packages of the scheme, laid out as an installation (the panel finds
// its component library one folder up).
std::string BenchPlugins() {
  static const std::string dir = [] {
    const fs::path d = fs::path(TestHome()) / "bench" / "Plugins";
    fs::create_directories(d);
    const fs::path components = d.parent_path() / "libKorvanComponents.so";
    if (!fs::exists(components))
      fs::create_symlink(fs::path(VK_PLUGINS_DIR).parent_path() / "libKorvanComponents.so", components);
    for (const char* p : {"InstrumentLink.so", "RunGuide.so", "Recorder.so", "ConstPanel.so"})
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / p, d / p, fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / "TestProbe.so", d / "TestProbe.so",
                  fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

// The recorded sweeps of the folder's files: number -> points.
struct TRecorded {
  std::map<long, int> points;
};

TRecorded Recorded(const fs::path& folder) {
  TRecorded r;
  if (!fs::exists(folder)) return r;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path());
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line))
      if (!line.empty() && line.back() == '\r') ++r.points[std::stol(line)];  // whole lines only
  }
  return r;
}

}  // namespace

TEST(InstrumentReconnect, LostInstrumentIsTakenUpAgainAndTheLoggingRunGoesOn) {
  TAppFirst app;
  TSimProcess sim(SimOn(0));
  ASSERT_GT(sim.port, 0);
  const fs::path folder = fs::path(TestHome()) / "weekend";
  fs::remove_all(folder);
  const std::string file = TestHome() + "/weekend.vms";
  std::ofstream(file) << R"(<scheme name="weekend">
    <node name="link" class="TInstrumentLink"><parameters address="127.0.0.1:)" << sim.port << R"(" timeout="1000"/>
      <output name="message"><link node="recorder" linkpoint="message" queue="64"/>
        <link node="probe" linkpoint="message" queue="64"/></output>
      <output name="command"><link node="run" linkpoint="command" queue="16"/>
        <link node="points" linkpoint="command" queue="16"/></output>
      <output name="F"><link node="recorder" linkpoint="F" queue="64"/></output>
      <output name="A"><link node="recorder" linkpoint="A" queue="64"/>
        <link node="run" linkpoint="vector" queue="64"/></output>
      <output name="B"><link node="recorder" linkpoint="B" queue="64"/></output></node>
    <node name="run" class="TRunGuide"><parameters dock="DockTop" autostart="true"/>
      <output name="command"><link node="link" linkpoint="command" queue="16"/></output></node>
    <node name="points" class="TConstPanel">
      <parameters type="parameter" control="true" dock="DockRight" parameter="P_FREQUENCY" base="8" fract="2">
        <element value="100"/><element value="1100"/><element value="201"/></parameters>
      <output name="command"><link node="link" linkpoint="command" queue="16"/></output></node>
    <node name="recorder" class="TRecorder"><parameters folder=")" << folder.string() << R"(" maxsize="0" stall="0"/></node>
    <node name="probe" class="TTestProbe"/>
  </scheme>)";

  std::mutex logMutex;
  std::vector<std::string> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) {
    std::lock_guard<std::mutex> lock(logMutex);
    log.push_back(m);
  });
  CSchemeRunner runner(BenchPlugins());
  ASSERT_EQ(runner.Open(file), 0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  CInLinkPoint* messageIn = nullptr;
  runner.Scheme().GetInput(messageIn, "probe", "message");
  std::vector<std::string> messages;
  auto said = [&](const std::string& text) {
    while (CBasePacket* p = messageIn->GetPacketCopyAndRelease()) {
      std::unique_ptr<CBasePacket> owned(p);
      messages.push_back(static_cast<CStringPacket*>(p)->GetString());
    }
    return std::find(messages.begin(), messages.end(), text) != messages.end();
  };
  auto lastPoints = [&] {
    const TRecorded r = Recorded(folder);
    return r.points.empty() ? 0 : r.points.rbegin()->second;
  };

  // Logging on the panel's setting (201 points, the instrument's own is
  // 1601) for three seconds.
  QElapsedTimer logging;
  logging.start();
  ASSERT_TRUE(runner.RunUntil(
      [&] { return logging.elapsed() >= 3000 && Recorded(folder).points.size() >= 2 && lastPoints() == 201; }, 20000));
  sim.Kill();
  ASSERT_TRUE(runner.RunUntil([&] { return said("связь потеряна"); }, 10000));
  runner.RunFor(3000);  // the instrument stays away for a while
  EXPECT_FALSE(said("связь восстановлена"));
  const size_t before = Recorded(folder).points.size();

  TSimProcess back(SimOn(sim.port));
  ASSERT_EQ(back.port, sim.port);
  EXPECT_TRUE(runner.RunUntil(
      [&] { return said("связь восстановлена") && Recorded(folder).points.size() >= before + 3 && lastPoints() == 201; },
      40000))
      << Recorded(folder).points.size() << " sweeps, " << messages.size() << " messages";

  // The cause, the loss and the return, once each and in that order.
  const std::vector<std::string> expected = {"Не удалось прочитать из ethernet'a", "связь потеряна",
                                             "связь восстановлена"};
  EXPECT_EQ(messages, expected);
  // The same run: the sweep numbers go on from 1 without a second start.
  const TRecorded recorded = Recorded(folder);
  EXPECT_EQ(recorded.points.begin()->first, 1);
  EXPECT_EQ(recorded.points.rbegin()->first, static_cast<long>(recorded.points.size()));
  // Start/Stop shows the run as the operator left it: on.
  auto* form = runner.Host()->findChild<QDialog*>("FrmRunWizard");
  ASSERT_NE(form, nullptr);
  auto* stop = form->findChild<QAction*>("ActionStop");
  auto* start = form->findChild<QAction*>("ActionStart");
  ASSERT_TRUE(stop && start);
  EXPECT_TRUE(stop->isEnabled());
  EXPECT_FALSE(start->isEnabled());
  runner.Stop();
  runner.Close();
  SetLogHook(previous);
  // The recorder's log has the loss with its time.
  int logged = 0;
  for (const std::string& line : log)
    if (line.find("Регистратор \"recorder\": 20") == 0 && line.find("связь потеряна") != std::string::npos) ++logged;
  EXPECT_EQ(logged, 1);
}

// An instrument that takes connections and drops them at once: attempts
// follow with growing pauses (0.5, 1, 2, 2 s with a 2 s ceiling: the fifth
// comes 5.5 s after the first, never sooner), the failure is said once for
// the whole outage, and the link counts the instrument as never reached.
TEST(InstrumentReconnect, AttemptsBackOffAndAreSaidOnce) {
  vkinstrument::TSimSettings settings;
  settings.faults.refuse = true;
  vkinstrument::CInstrumentSimulator refusing(settings);
  const int port = refusing.Start(0);
  ASSERT_GT(port, 0);
  TLinkScheme s("reconnectmax=\"2000\"");
  ASSERT_TRUE(s.ok);
  QElapsedTimer t;
  s.SendAddress("127.0.0.1:" + std::to_string(port));
  ASSERT_TRUE(s.runner.RunUntil([&] { return refusing.Connections() >= 1; }, 5000));
  t.start();
  ASSERT_TRUE(s.runner.RunUntil([&] { return refusing.Connections() >= 5; }, 30000));
  EXPECT_GE(t.elapsed(), 5000);
  EXPECT_EQ(s.NextMessage(100), "Не удалось прочитать из ethernet'a");
  EXPECT_EQ(s.NextMessage(100), "");
  CBasePlugin* link = nullptr;
  ASSERT_EQ(s.runner.Scheme().GetPlugin(link, "link"), 0);
  AnsiString state;
  EXPECT_EQ(link->Query("connection", state), 0);
  EXPECT_EQ(state, "never");
}

// An instrument that vanishes without closing its connection (a power cut)
// is noticed within a minute: the link's connection is probed while quiet
// and gives up on data left unacknowledged.
TEST(InstrumentReconnect, AConnectionToAVanishedPeerIsGivenUp) {
  vkinstrument::CListener listener;
  ASSERT_TRUE(listener.Listen(0));
  vkinstrument::CBlockConnection client;
  std::string error;
  ASSERT_TRUE(client.Connect("127.0.0.1", listener.Port(), 2000, error)) << error;
  auto option = [&](int level, int name) {
    int value = 0;
    socklen_t size = sizeof value;
    EXPECT_EQ(::getsockopt(client.Fd(), level, name, &value, &size), 0);
    return value;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_LE(option(IPPROTO_TCP, TCP_KEEPIDLE) + option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT), 60);
  const int userTimeout = option(IPPROTO_TCP, TCP_USER_TIMEOUT);
  EXPECT_GT(userTimeout, 0);
  EXPECT_LE(userTimeout, 60000);
  const int peer = listener.Accept(2000);
  if (peer >= 0) ::close(peer);
}
