#pragma once
// A scheme of the probe and the instrument link, run headless, with helpers
// that send through the probe's outputs and collect from its inputs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevCommand.h"
#include "SchemeRunner.h"
#include "TestApp.h"
#include "TestHome.h"

namespace insttest {

// vk-instrument-sim in a process of its own, with `options`; its port read
// from its output. Started with fork and exec, which the thread checker
// follows (a spawn that shares the parent's memory until exec confuses its
// view of this process's threads, and it then refuses every new thread).
class TSimProcess {
 public:
  explicit TSimProcess(const std::vector<std::string>& options) {
    int out[2];
    if (::pipe(out) != 0) return;
    const std::string program = std::string(VK_BIN_DIR) + "/vk-instrument-sim";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& o : options) argv.push_back(const_cast<char*>(o.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    pollfd ready{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&ready, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1)
      line += c;
    ::close(out[0]);  // the simulator says nothing more that matters
    const auto match = QRegularExpression("127\\.0\\.0\\.1:(\\d+)").match(QString::fromLatin1(line.c_str()));
    if (match.hasMatch()) {
      port = match.captured(1).toInt();
      address = "127.0.0.1:" + std::to_string(port);
    }
  }
  ~TSimProcess() { Kill(); }
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int port = 0;
  std::string address;  // "127.0.0.1:<port>", or "" when it did not start

 private:
  pid_t pid_ = -1;
};

inline std::string PluginsDir() {
  namespace fs = std::filesystem;
  static const std::string dir = [] {
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::create_directories(d);
    fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / "TestProbe.so", d / "TestProbe.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VK_PLUGINS_DIR) / "InstrumentLink.so", d / "InstrumentLink.so",
                  fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

// The link's parameters go into its node.
inline std::string WriteScheme(const std::string& linkParameters) {
  std::string text = "<scheme name=\"link\">\n<node name=\"probe\" class=\"TTestProbe\"><output name=\"address\">"
                     "<link node=\"link\" linkpoint=\"address\" queue=\"4\"/></output>"
                     "<output name=\"command\"><link node=\"link\" linkpoint=\"command\" queue=\"64\"/></output>"
                     "<output name=\"index\"><link node=\"link\" linkpoint=\"index\" queue=\"64\"/></output></node>\n"
                     "<node name=\"link\" class=\"TInstrumentLink\"><parameters " +
                     linkParameters + "/>";
  for (const char* out : {"message", "command", "index", "F", "A", "B"})
    text += std::string("<output name=\"") + out + "\"><link node=\"probe\" linkpoint=\"" + out +
            "\" queue=\"256\"/></output>";
  text += "</node>\n</scheme>\n";
  const std::string file = TestHome() + "/link.vms";
  std::ofstream(file) << text;
  return file;
}

// The application exists before the runner builds its host window.
struct TAppFirst {
  TAppFirst() { TestApp(); }
};

class TLinkScheme : TAppFirst {
 public:
  explicit TLinkScheme(const std::string& linkParameters = "simrate=\"200\" simpart=\"256\"")
      : runner(PluginsDir()) {
    ok = runner.Open(WriteScheme(linkParameters)) == 0;
    std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
    if (ok) ok = runner.Start() == 0;
  }
  ~TLinkScheme() { runner.Close(); }

  int Send(const char* output, CBasePacket* packet) {
    COutLinkPoint* out = nullptr;
    runner.Scheme().GetOutput(out, "probe", output);
    const int rc = out->AddPacket(packet);
    if (rc != 0) delete packet;
    return rc;
  }
  int SendAddress(const std::string& address) { return Send("address", new CStringPacket(address.c_str())); }
  CInLinkPoint* Input(const char* name) {
    CInLinkPoint* in = nullptr;
    runner.Scheme().GetInput(in, "probe", name);
    return in;
  }
  // The next packet at `input` within `timeoutMs`, or null.
  template <class T>
  std::unique_ptr<T> Next(const char* input, int timeoutMs = 5000) {
    CInLinkPoint* in = Input(input);
    std::unique_ptr<CBasePacket> p;
    runner.RunUntil([&] {
      p.reset(in->GetPacketCopyAndRelease());
      return p != nullptr;
    }, timeoutMs);
    return std::unique_ptr<T>(dynamic_cast<T*>(p.release()));
  }
  // The next message text, or "" when none came.
  std::string NextMessage(int timeoutMs = 5000) {
    auto m = Next<CStringPacket>("message", timeoutMs);
    return m ? m->GetString() : "";
  }

  CSchemeRunner runner;
  bool ok = false;
};

}  // namespace insttest
