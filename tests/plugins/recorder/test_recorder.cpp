// The recorder: sweeps from parts on several inputs, files that are never
// half-written (even when the disk stops taking them, the process may write
// no more or the process is killed), rotation, the stall watchdog, and the
// plug-in as a scheme feeds it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "PacketTypes.h"
#include "PluginFeed.h"
#include "Recorder.h"
#include "TestHome.h"
#include "record/RecordCheck.h"
#include "record/RecordFile.h"
#include "record/SweepAssembler.h"

namespace fs = std::filesystem;
using recorder::CRecordFile;
using recorder::CSweepAssembler;

namespace {

std::vector<std::string> Lines(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<fs::path> Files(const fs::path& folder) {
  std::vector<fs::path> files;
  if (fs::exists(folder))
    for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

CDoubleVectorPart* Part(unsigned fullSize, unsigned offset, std::initializer_list<double> values) {
  auto* p = new CDoubleVectorPart(static_cast<unsigned>(values.size()), fullSize, offset);
  unsigned i = 0;
  for (double v : values) (*p)[i++] = v;
  return p;
}

}  // namespace

// Complete only when every input has had every point since its first part;
// a tail without its head, a part outside its array and a sweep of another
// length mid-way do not make a sweep.
TEST(SweepAssembler, CompletesSweepsFromParts) {
  CSweepAssembler a(2);
  const double f[] = {1, 2, 3}, g[] = {4, 5};
  EXPECT_FALSE(a.Take(0, g, 2, 5, 3));  // a tail: no first part yet
  EXPECT_TRUE(a.Take(0, f, 3, 5, 0));
  EXPECT_TRUE(a.Take(0, g, 2, 5, 3));
  EXPECT_FALSE(a.Complete());           // the second input has nothing
  EXPECT_TRUE(a.Take(1, f, 3, 3, 0));   // a whole vector
  ASSERT_TRUE(a.Complete());
  EXPECT_EQ(a.Values(0), (std::vector<double>{1, 2, 3, 4, 5}));
  a.Consume();
  EXPECT_FALSE(a.Complete());
  EXPECT_FALSE(a.Take(1, f, 3, 4, 2));   // past its array
  EXPECT_TRUE(a.Take(0, f, 3, 5, 0));
  EXPECT_FALSE(a.Take(0, g, 2, 6, 3));   // another length mid-way
  EXPECT_FALSE(a.Take(0, g, 2, 5, 3));   // ... and that sweep is over
  EXPECT_FALSE(a.Take(0, f, 3, CSweepAssembler::kMaxPoints + 1, 0));
  // A part that went missing: the last part does not complete a sweep
  // with a hole in it.
  const double one[] = {7};
  EXPECT_TRUE(a.Take(0, f, 3, 6, 0));
  EXPECT_FALSE(a.Take(0, one, 1, 6, 5));  // [3, 5) never came
  EXPECT_FALSE(a.Complete());
}

// Files rotate by size and age, each with its header; a sweep the disk
// takes only in part is cut back out, the failure said, and the file holds
// whole lines only; the next sweep goes in once there is room again.
TEST(RecordFile, RotatesAndNeverLeavesHalfLines) {
  const fs::path folder = fs::path(TestHome()) / "rotate";
  recorder::TRecordSettings s;
  s.folder = folder.string();
  s.maxBytes = 40;
  s.maxSeconds = 60;
  {
    CRecordFile file(s, "h\r\n");
    EXPECT_EQ(file.Append("1,aaaaaaaaaaaa\r\n", 0), "");
    EXPECT_EQ(file.Append("2,aaaaaaaaaaaa\r\n", 1), "");
    EXPECT_EQ(file.Append("3,aaaaaaaaaaaa\r\n", 2), "");  // over 40 bytes: a new file
    EXPECT_EQ(file.Append("4,a\r\n", 70), "");            // over a minute old: another
    EXPECT_EQ(file.FilesOpened(), 3);
  }
  const auto files = Files(folder);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(Lines(files[0].string()).size(), 3u);
  EXPECT_EQ(Lines(files[1].string()).front(), "h\r");
  EXPECT_EQ(files[0].extension(), ".csv");

  // The disk (here: the largest file the process may write) stops taking
  // the sweep in the middle.
  const fs::path full = fs::path(TestHome()) / "full";
  s.folder = full.string();
  s.maxBytes = 0;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  {
    CRecordFile file(s, "h\r\n");
    ASSERT_EQ(file.Append("1,x\r\n", 0), "");
    rlimit small = old;
    small.rlim_cur = 20;
    setrlimit(RLIMIT_FSIZE, &small);
    // A sweep that fits a file of its own goes on in a new one, said once.
    EXPECT_EQ(file.Append("2,zzzzzzzzz\r\n", 1), "");
    EXPECT_NE(file.TakeNotice().find("запись продолжается в"), std::string::npos);
    EXPECT_EQ(file.TakeNotice(), "");
    // One no file may hold is taken back and said.
    const std::string error = file.Append("3,yyyyyyyyyyyyyyyyyyyy\r\n", 2);
    EXPECT_NE(error.find("Не удалось"), std::string::npos) << error;
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(file.Append("4,z\r\n", 3), "");
  }
  std::signal(SIGXFSZ, oldHandler);
  const auto written = Files(full);
  // The full file, then the one that took the sweep (the sweep too large
  // for any file went; the next file opened for it holds what came after).
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(Lines(written[0].string()), (std::vector<std::string>{"h\r", "1,x\r"}));
  EXPECT_EQ(Lines(written[1].string()).at(1), "2,zzzzzzzzz\r");
  std::vector<std::string> all;
  for (const auto& f : written)
    for (const std::string& line : Lines(f.string())) all.push_back(line);
  EXPECT_EQ(std::count(all.begin(), all.end(), "4,z\r"), 1);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& l) { return l.rfind("3,", 0) == 0; }), 0);

  // A folder that cannot be made.
  s.folder = "/proc/no/such/folder";
  CRecordFile nowhere(s, "h\r\n");
  EXPECT_NE(nowhere.Append("1\r\n", 0).find("Не удалось создать файл записи"), std::string::npos);
}

namespace {
double g_now = 0;
double FakeClock() { return g_now; }
}  // namespace

// The plug-in: the wired inputs are the columns; sweeps that come in parts
// are written with continuous numbers; a stall is said once on "message".
TEST(Recorder, WritesSweepsAndWatchesForStalls) {
  const fs::path folder = fs::path(TestHome()) / "records";
  g_now = 100;
  TRecorder rec;
  rec.SetName("rec");
  rec.SetClock(FakeClock);
  rec.Register();
  std::array<CPacketQueue, 2> queues;
  CPacketQueue messages(8);
  CInLinkPoint said("said", {MetaClassOf<CStringPacket>()}, lptDefault);
  said.AddSubscription(&messages);
  for (unsigned i = 0; i < 2; ++i) {
    queues[i].SetQueueSize(64);
    rec.GetInLinkPoint(i)->AddSubscription(&queues[i]);
  }
  rec.GetOutLinkPoint(AnsiString("message"))->SetDispatcher(&messages);
  VKCore::CXMLDocument doc;
  doc.OpenFromText("<parameters folder=\"" + folder.string() + "\" prefix=\"bench\" stall=\"5\"/>");
  ASSERT_EQ(rec.DoInitialize(nullptr, doc.Root()), 0);
  for (int sweep = 0; sweep < 3; ++sweep)
    for (unsigned offset : {0u, 2u}) {
      queues[0].AddPacket(Part(4, offset, {1.0 + offset, 2.0 + offset}));
      queues[1].AddPacket(Part(4, offset, {-1.5 * sweep, 0.25}));
      rec.Process();
    }
  EXPECT_EQ(rec.SweepsWritten(), 3u);
  const auto lines = Lines(rec.FileName());
  ASSERT_EQ(lines.size(), 1u + 3 * 4);
  EXPECT_EQ(lines[0], "sweep,time,index,F,A\r");
  EXPECT_EQ(lines[1].substr(0, 2), "1,");
  EXPECT_NE(lines[12].find(",3,4,0.25"), std::string::npos) << lines[12];
  EXPECT_EQ(lines[9].substr(0, 2), "3,");
  EXPECT_NE(fs::path(rec.FileName()).filename().string().find("bench_"), std::string::npos);

  g_now = 106;
  rec.Process();
  rec.Process();
  std::unique_ptr<CBasePacket> stall(said.GetPacketCopyAndRelease());
  auto* text = dynamic_cast<CStringPacket*>(stall.get());
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text->GetString(), "Регистратор \"rec\": нет развёрток дольше 5 с");
  EXPECT_EQ(said.GetPacketCopyAndRelease(), nullptr);  // said once
  rec.DoFinalize();
  // A fresh file at the next start.
  ASSERT_EQ(rec.DoInitialize(nullptr, doc.Root()), 0);
  queues[0].AddPacket(Part(2, 0, {1, 2}));
  queues[1].AddPacket(Part(2, 0, {3, 4}));
  rec.Process();
  EXPECT_EQ(Files(folder).size(), 2u);
  rec.DoFinalize();
  for (auto& q : queues) q.Reset();
  messages.Reset();
}

namespace {

// A recorder named "rec" on inputs F and A that the test feeds, its
// "message" output read.
struct TRecRig {
  TRecorder rec;
  std::array<CPacketQueue, 2> queues;
  CPacketQueue messages{64};
  CInLinkPoint said{"said", {MetaClassOf<CStringPacket>()}, lptDefault};
  VKCore::CXMLDocument doc;

  explicit TRecRig(const std::string& parameters) {
    rec.SetName("rec");
    rec.Register();
    said.AddSubscription(&messages);
    for (unsigned i = 0; i < 2; ++i) {
      queues[i].SetQueueSize(64);
      rec.GetInLinkPoint(i)->AddSubscription(&queues[i]);
    }
    rec.GetOutLinkPoint(AnsiString("message"))->SetDispatcher(&messages);
    doc.OpenFromText("<parameters stall=\"0\" " + parameters + "/>");
  }
  ~TRecRig() {
    rec.DoFinalize();
    for (auto& q : queues) q.Reset();
    messages.Reset();
  }
  int Start() { return rec.DoInitialize(nullptr, doc.Root()); }
  // A sweep of `points` points in two parts: F the index, A `value`.
  void Sweep(unsigned points, double value) {
    for (unsigned offset : {0u, points / 2}) {
      const unsigned n = offset ? points - offset : points / 2;
      auto* f = new CDoubleVectorPart(n, points, offset);
      auto* a = new CDoubleVectorPart(n, points, offset);
      for (unsigned i = 0; i < n; ++i) {
        (*f)[i] = offset + i;
        (*a)[i] = value;
      }
      queues[0].AddPacket(f);
      queues[1].AddPacket(a);
      rec.Process();
    }
  }
  std::vector<std::string> Said() {
    std::vector<std::string> texts;
    while (std::unique_ptr<CBasePacket> p{said.GetPacketCopyAndRelease()})
      texts.push_back(dynamic_cast<CStringPacket&>(*p).GetString());
    return texts;
  }
};

// The files of a recording with two inputs, in the order they were made:
// each holds its header and then whole sweeps of `points` rows (indices in
// order, no piece of a row), and the sweep numbers run 1, 2, 3, ... over
// all of them. "" and the number of sweeps, or what is wrong.
std::string CheckSeries(const fs::path& folder, unsigned points, unsigned long long& sweeps) {
  sweeps = 0;
  unsigned rows = points;
  for (const fs::path& file : Files(folder)) {
    const auto lines = Lines(file.string());
    if (lines.empty() || lines[0] != "sweep,time,index,F,A\r") return file.string() + ": no header";
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      const std::string at = file.filename().string() + " line " + std::to_string(i + 1) + ": ";
      if (l.empty() || l.back() != '\r' || std::count(l.begin(), l.end(), ',') != 4 || l.find('\0') != l.npos)
        return at + "a torn row";
      const unsigned long long id = std::stoull(l);
      const unsigned index = std::stoul(l.substr(l.find(',', l.find(',') + 1) + 1));
      if (rows == points && id == sweeps + 1 && index == 0) {
        ++sweeps;
        rows = 1;
      } else if (id == sweeps && index == rows && rows < points) {
        ++rows;
      } else {
        return at + "sweep " + std::to_string(id) + " point " + std::to_string(index) + " after sweep " +
               std::to_string(sweeps) + " point " + std::to_string(rows - 1);
      }
    }
    if (rows != points) return file.string() + ": ends in a torn sweep";
  }
  return "";
}

}  // namespace

// A process that may write no larger file (SIGXFSZ's default ends it) goes
// on: the sweep that did not fit is taken back from the full file and goes
// into a new one, which is said; no sweep is lost and every file is whole.
TEST(Recorder, FileSizeLimitIsAWriteError) {
  const fs::path folder = fs::path(TestHome()) / "limit";
  fs::remove_all(folder);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_DFL);
    int code = 0;
    {
      TRecRig rig("folder=\"" + folder.string() + "\"");
      if (rig.Start() != 0) ::_exit(10);
      rig.Sweep(100, 1);
      rig.Sweep(100, 2);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = fs::file_size(rig.rec.FileName()) + 1000;  // a third of a sweep
      setrlimit(RLIMIT_FSIZE, &limit);
      for (int i = 0; i < 3; ++i) rig.Sweep(100, 3 + i);
      const auto said = rig.Said();
      if (rig.rec.SweepsWritten() != 5 || rig.rec.SweepsLost() != 0) code = 11;
      if (said.empty() || said[0].find("наибольшего допустимого размера; запись продолжается в") == std::string::npos)
        code = 12;
    }
    ::_exit(code);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  unsigned long long sweeps = 0;
  EXPECT_EQ(CheckSeries(folder, 100, sweeps), "");
  EXPECT_EQ(sweeps, 5u);
}

// A recording killed 25 times at random moments, its newest file now and
// then hit as by a power cut (the end lost, or zeros where the disk had not
// caught up), and started again each time: every file holds whole sweeps,
// the numbers go on without a gap or a repeat, and the start that finds a
// torn end says so once.
TEST(Recorder, KillsAndPowerCutsLeaveWholeSweeps) {
  const fs::path folder = fs::path(TestHome()) / "killed";
  fs::remove_all(folder);
  const std::string parameters = "folder=\"" + folder.string() + "\" maxsize=\"0.2\"";
  constexpr unsigned kPoints = 1000;  // about 30 KB a sweep: the check reads more than its first window
  std::mt19937 random(20261208);
  // Where the first sweep of `file` ends (it is on the disk before the
  // file is named: what a power cut may lose comes after it).
  auto firstSweepEnd = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    for (unsigned i = 0; i <= kPoints && std::getline(in, line);) ++i;
    return static_cast<uintmax_t>(in.tellg());
  };
  for (int kill = 0; kill < 25; ++kill) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      TRecRig rig(parameters);
      if (rig.Start() != 0) ::_exit(10);
      for (int i = 0; i < 20000; ++i) rig.Sweep(kPoints, i);
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    // The first one is let write a file (a slow build may take long).
    for (int poll = 0; kill == 0 && poll < 10000 && Files(folder).empty(); ++poll)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<>(500, 30000)(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const auto files = Files(folder);
    if (kill % 2 == 0 || files.empty()) continue;
    const fs::path& newest = files.back();
    const uintmax_t size = fs::file_size(newest), first = firstSweepEnd(newest);
    if (size > first) fs::resize_file(newest, std::uniform_int_distribution<uintmax_t>(first, size)(random));
    if (kill % 4 == 1) fs::resize_file(newest, fs::file_size(newest) + 4096);
  }
  // One more torn end, then a start that looks at it.
  ASSERT_FALSE(Files(folder).empty());
  const fs::path newest = Files(folder).back();
  fs::resize_file(newest, fs::file_size(newest) + 100);
  TRecRig rig(parameters);
  ASSERT_EQ(rig.Start(), 0);
  const auto said = rig.Said();
  EXPECT_EQ(said.size(), 1u);
  if (!said.empty()) {
    EXPECT_NE(said[0].find("прервалась (сбой или отключение питания)"), std::string::npos) << said[0];
  }
  unsigned long long sweeps = 0;
  EXPECT_EQ(CheckSeries(folder, kPoints, sweeps), "");
  EXPECT_GT(sweeps, 0u);
  EXPECT_EQ(rig.rec.FirstSweep(), sweeps + 1);
  rig.Sweep(kPoints, -1);
  rig.rec.DoFinalize();
  unsigned long long after = 0;
  EXPECT_EQ(CheckSeries(folder, kPoints, after), "");
  EXPECT_EQ(after, sweeps + 1);
}

// The check's rules, file by file; a file another recorder holds is left
// alone; the disk is synced at the set interval; a sweep of another length
// starts a new file.
TEST(RecordCheck, CutsTornEndsOnly) {
  const std::string h = "sweep,time,index,F\r\n";
  auto row = [](int id, int index) { return std::to_string(id) + ",t," + std::to_string(index) + ",5\r\n"; };
  const std::string s1 = row(1, 0) + row(1, 1), s2 = row(2, 0) + row(2, 1);
  const struct {
    std::string content, kept;
    unsigned long long last;
  } cases[] = {
      {h + s1 + s2, h + s1 + s2, 2},
      {h + s1 + s2.substr(0, 13), h + s1, 1},                       // torn in a row
      {h + s1 + row(2, 0), h + s1, 1},                              // torn at a row's end
      {h + s1 + s2 + "3,t", h + s1 + s2, 2},                        // the next one had begun
      {h + s1 + s2 + std::string(50, '\0'), h + s1 + s2, 2},        // zeros
      {h + s1 + row(2, 1) + row(2, 0), h + s1, 1},                  // out of order
      {h + s1 + "1,t,", h, 0},                                      // a torn first sweep
      {"time,value\r\n1,2\r\n3", "time,value\r\n1,2\r\n3", 0},  // not a recording
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path folder = fs::path(TestHome()) / "check" / std::to_string(++n);
    fs::create_directories(folder);
    const fs::path file = folder / "rec_20260101-000000_001.csv";
    std::ofstream(file, std::ios::binary) << c.content;
    const recorder::TRecordCheck check = recorder::CheckRecords(folder.string(), "rec");
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.kept) << "case " << n;
    EXPECT_EQ(check.lastSweep, c.last) << "case " << n;
    EXPECT_EQ(check.cutBytes, c.content.size() - c.kept.size()) << "case " << n;
  }
  // An older file holds the numbering when the newest holds no sweep; a
  // locked file is not cut.
  const fs::path folder = fs::path(TestHome()) / "check" / "series";
  fs::create_directories(folder);
  std::ofstream(folder / "rec_1_001.csv", std::ios::binary) << h + s1 + s2;
  fs::last_write_time(folder / "rec_1_001.csv", fs::file_time_type::clock::now() - std::chrono::hours(1));
  std::ofstream(folder / "rec_2_001.csv", std::ios::binary) << h + "3,t";
  const int fd = ::open((folder / "rec_2_001.csv").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(recorder::CheckRecords(folder.string(), "rec").cutBytes, 0u);
  ::close(fd);
  const recorder::TRecordCheck check = recorder::CheckRecords(folder.string(), "rec");
  EXPECT_EQ(check.cutBytes, 3u);
  EXPECT_EQ(check.lastSweep, 2u);

  recorder::TRecordSettings s;
  s.folder = (fs::path(TestHome()) / "synced").string();
  CRecordFile file(s, h);
  ASSERT_EQ(file.Append(s1, 0, 2), "");
  EXPECT_EQ(file.Sync(4), "");
  EXPECT_EQ(file.Syncs(), 0);
  EXPECT_EQ(file.Sync(5), "");
  EXPECT_EQ(file.Sync(20), "");  // nothing new
  EXPECT_EQ(file.Syncs(), 1);
  ASSERT_EQ(file.Append(row(2, 0) + row(2, 1) + row(2, 2), 21, 3), "");
  EXPECT_EQ(file.FilesOpened(), 2);
}
