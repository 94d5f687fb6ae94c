// The recorder: sweeps from parts on several inputs, files that are never
// half-written (even when the disk stops taking them), rotation, the stall
// watchdog, and the plug-in as a scheme feeds it.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PacketTypes.h"
#include "PluginFeed.h"
#include "Recorder.h"
#include "TestHome.h"
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
    const std::string error = file.Append("2,yyyyyyyyyyyyyyyyyyyy\r\n", 1);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_NE(error.find("Не удалось записать в файл"), std::string::npos) << error;
    EXPECT_EQ(file.Append("3,z\r\n", 2), "");
  }
  std::signal(SIGXFSZ, oldHandler);
  const auto written = Files(full);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(Lines(written[0].string()), (std::vector<std::string>{"h\r", "1,x\r", "3,z\r"}));

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
