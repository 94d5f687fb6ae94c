// Documents the system writes must open again, whatever their size and
// whatever numbers they hold; documents from elsewhere must not be able to
// make the parser expand entities; and replacing a file keeps links,
// permissions, and the old contents when the new ones cannot be written.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <utility>
#include <limits>
#include <random>

#include "CoreTestSupport.h"
#include "VKXml.h"
#include "platform/FileUtil.h"
#include "platform/Report.h"

namespace {

using namespace VKCore;

class Documents : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    vktest::WriteFile(path, bytes);
    return path;
  }
  vktest::ScratchDir dir;
  vkplatform::ReportCapture cap;
};

// A profile or matrix column of millions of values is far beyond libxml2's
// default limit for one attribute.
TEST_F(Documents, AHugeVectorRoundTrips) {
  constexpr unsigned kValues = 5000000;
  CDoubleVector vector(kValues);
  // Six significant digits are written: the values fit in them.
  for (unsigned i = 0; i < kValues; ++i) vector[i] = (i % 4000) * 0.25 - 3;
  const std::string f = dir / "huge.vpr";
  {
    CXMLDocument doc;
    ASSERT_EQ(doc.New("profile"), 0);
    vector.SerializeData(AddElement(doc.Root(), "parameters"));
    ASSERT_EQ(doc.SaveAs(f.c_str()), 0);
  }
  CXMLDocument doc;
  ASSERT_EQ(doc.Open(f.c_str()), 0);
  CDoubleVector back;
  back.DeserializeData(GetElement(doc.Root(), "parameters"));
  ASSERT_EQ(back.Size(), kValues);
  for (unsigned i : {0u, 1u, 12345u, kValues - 1}) EXPECT_EQ(back[i], vector[i]) << i;
  EXPECT_EQ(cap.Count(), 0u);
}

// A thousand bytes of nested entities would take gigabytes once the size
// limits are lifted: any internal subset is refused before it is parsed.
TEST_F(Documents, DocumentsDeclaringEntitiesAreRefusedAtOnce) {
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE scheme [\n<!ENTITY l0 \"ha\">\n";
  for (int i = 1; i < 12; ++i)
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" +
              [&] {
                std::string s;
                for (int k = 0; k < 10; ++k) s += "&l" + std::to_string(i - 1) + ";";
                return s;
              }() +
              "\">\n";
  laughs += "]>\n<scheme name=\"&l11;\"><node name=\"&l11;\" class=\"x\">&l11;</node></scheme>\n";
  ASSERT_LT(laughs.size(), 2000u);
  const std::string plainSubset =
      "<!DOCTYPE scheme [<!ELEMENT scheme ANY>]><scheme name=\"s\"/>";
  const std::string externalEntity =
      "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r a=\"&x;\"/>";

  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<a>";
  for (int i = 0; i < 300; ++i) deep += "</a>";
  for (const std::string& text : {laughs, plainSubset, externalEntity, deep}) {
    const std::string f = Write("hostile.vms", text);
    CXMLDocument doc;
    EXPECT_EQ(doc.Open(f.c_str()), 1);
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_EQ(cap.Reports().back().text, "Невозможно открыть файл \"" + f + "\".");
    CXMLDocument fromText;
    EXPECT_EQ(fromText.OpenFromText(text), 1);
  }
  // A packed file is not unpacked (a few bytes could unpack to gigabytes).
  const std::string packed = dir / "packed.vms";
  ASSERT_EQ(std::system(("printf '<scheme name=\"s\"/>' | gzip > '" + packed + "'").c_str()), 0);
  CXMLDocument unpacked;
  EXPECT_EQ(unpacked.Open(packed.c_str()), 1);

  // A document type without a subset names nothing to expand; nothing is
  // fetched for it.
  const std::string f = Write("doctype.vms",
                              "<!DOCTYPE scheme SYSTEM \"http://127.0.0.1:9/x.dtd\"><scheme name=\"s\"/>");
  CXMLDocument doc;
  ASSERT_EQ(doc.Open(f.c_str()), 0);
  EXPECT_EQ(GetNodeStringValue(doc.Root(), "@name", ""), "s");
}

// Saving adds no indentation: what is read back has exactly the children
// that were built.
TEST_F(Documents, SavedDocumentsKeepTheirChildren) {
  const std::string f = dir / "plain.xml";
  CXMLDocument doc;
  ASSERT_EQ(doc.New("profile"), 0);
  AddAttribute(AddElement(AddElement(doc.Root(), "parameters"), "item"), "v", 1);
  AddElement(doc.Root(), "parameters");
  ASSERT_EQ(doc.SaveAs(f.c_str()), 0);
  CXMLDocument back;
  ASSERT_EQ(back.Open(f.c_str()), 0);
  int children = 0;
  for (xmlNode* c = back.Root()->children; c; c = c->next) {
    EXPECT_EQ(c->type, XML_ELEMENT_NODE);
    ++children;
  }
  EXPECT_EQ(children, 2);
  // Whitespace a document came with stays as it was.
  const std::string spaced = Write("spaced.xml", "<r>\n  <a/>\n</r>\n");
  CXMLDocument again;
  ASSERT_EQ(again.Open(spaced.c_str()), 0);
  ASSERT_EQ(again.Save(), 0);
  EXPECT_NE(vktest::ReadFile(spaced).find("<r>\n  <a/>\n</r>"), std::string::npos);
}

// −∞ dB is a real reading: every reader takes what every writer writes.
TEST_F(Documents, NonFiniteNumbersRoundTripEverywhere) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {inf, -inf, std::nan(""), -2.5};
  auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };

  vktest::XmlDoc xml;
  for (int i = 0; i < 4; ++i) AddAttribute(xml.root(), ("a" + std::to_string(i)).c_str(), values[i]);
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(same(GetNodeDoubleValue(xml.root(), ("@a" + std::to_string(i)).c_str(), 0), values[i]));
  const std::pair<const char*, double> texts[] = {
      {"inf", inf},    {"-inf", -inf}, {"nan", NAN},  {"-nan", NAN},     {"INF", inf},
      {"-INF", -inf},  {"NaN", NAN},   {"+inf", inf}, {"Infinity", inf}, {" -inf ", -inf}};
  for (const auto& [text, value] : texts) {
    AddAttribute(xml.root(), "t", text);
    EXPECT_TRUE(same(GetNodeDoubleValue(xml.root(), "@t", 0), value)) << text;
  }
  for (const char* garbage : {"infx", "na", "in f", "--inf", "+-5", "+-inf"}) {
    AddAttribute(xml.root(), "t", garbage);
    EXPECT_EQ(GetNodeDoubleValue(xml.root(), "@t", 7), 7) << garbage;
  }

  CDoubleVector vector(4);
  for (unsigned i = 0; i < 4; ++i) vector[i] = values[i];
  vector.SerializeData(xml.root());
  CDoubleVector vectorBack;
  vectorBack.DeserializeData(xml.root());
  ASSERT_EQ(vectorBack.Size(), 4u);
  for (unsigned i = 0; i < 4; ++i) EXPECT_TRUE(same(vectorBack[i], values[i])) << i;

  CDoublePacket scalar;
  AddAttribute(xml.root(), "value", -inf);
  scalar.DeserializeData(xml.root());
  EXPECT_EQ(scalar.GetValue(), -inf);

  CDoubleMatrix matrix;
  matrix.InsertColumn(static_cast<CDoubleVector*>(vector.CopyPacket()));
  matrix.InsertColumn(static_cast<CDoubleVector*>(vector.CopyPacket()));
  const std::string f = dir / "m.txt";
  ASSERT_EQ(matrix.SaveToFile(f), 0);
  CDoubleMatrix matrixBack;
  ASSERT_EQ(matrixBack.LoadFromFile(f), 0);
  ASSERT_EQ(matrixBack.Rows(), 4u);
  for (unsigned i = 0; i < 4; ++i) EXPECT_TRUE(same((*matrixBack.Column(1))[i], values[i])) << i;
}

// A device, a FIFO, a socket or a folder is no document: every reader
// refuses it at once with its usual message (a FIFO used to wait for ever
// for a writer, "/dev/zero" to fill the memory). A file over the limit of
// its kind is refused, said with the limit, without being read.
TEST_F(Documents, FilesThatAreNoFilesAndFilesTooLargeAreRefusedAtOnce) {
  const std::string fifo = dir / "fifo.vms";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string socketPath = dir / "socket.vms";
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const std::string& path : {fifo, socketPath, std::string("/dev/zero"), dir.path()}) {
    auto opened = std::async(std::launch::async, [&path] {
      CXMLDocument doc;
      CDoubleMatrix matrix;
      return std::make_pair(doc.Open(path.c_str()), matrix.LoadFromFile(path));
    });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // Let a reader stuck on the FIFO go before failing.
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << path << " was waited on";
      opened.wait();
      continue;
    }
    EXPECT_EQ(opened.get(), std::make_pair(1, -1)) << path;
    EXPECT_EQ(cap.CountText("Невозможно открыть файл \"" + path + "\"."), 1u) << path;
  }
  ::close(sock);

  // Sparse files just over the limits: nothing of them is read.
  const std::string huge = dir / "huge.vms";
  {
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSchemeFileLimit) + 1), 0);
    ::close(fd);
  }
  CXMLDocument quiet(false);
  EXPECT_EQ(quiet.Open(huge.c_str()), 1);
  EXPECT_EQ(cap.CountText("Файл \"" + huge + "\" не открыт: он больше 512 МБ."), 1u);
  CDoubleMatrix matrix;
  EXPECT_EQ(matrix.LoadFromFile(huge), -1);
  EXPECT_EQ(cap.CountText("Файл \"" + huge + "\" не открыт: он больше 512 МБ."), 2u);
  ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(kSettingsFileLimit) + 1), 0);
  EXPECT_EQ(quiet.Open(huge.c_str(), kSettingsFileLimit), 1);
  EXPECT_EQ(cap.CountText("Файл \"" + huge + "\" не открыт: он больше 64 МБ."), 1u);
}

// Every double written to a profile or a matrix file reads back bit for bit:
// random bit patterns (subnormals and extremes among them), readings with
// more than six digits, and the values at the edges.
TEST_F(Documents, EveryNumberWrittenReadsBackBitForBit) {
  constexpr unsigned kEach = 1000000;
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> hertz(1e5, 2e10), decibels(-140, 30);
  const double edges[] = {0.0, -0.0, std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                          std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          std::nan(""), 749999.75, 1083.125, 0.1};
  auto fill = [&](CDoubleVector& v) {
    for (unsigned i = 0; i < v.Size(); ++i) {
      switch (i % 3) {
        case 0: {
          double d;
          do {
            const uint64_t bits = random();
            std::memcpy(&d, &bits, sizeof d);
          } while (!std::isfinite(d));
          v[i] = d;
          break;
        }
        case 1: v[i] = hertz(random); break;
        default: v[i] = decibels(random); break;
      }
    }
    for (unsigned i = 0; i < std::size(edges); ++i) v[i * 7] = edges[i];
  };
  auto expectSame = [](const CDoubleVector& a, const CDoubleVector& b, const char* where) {
    ASSERT_EQ(a.Size(), b.Size()) << where;
    unsigned differ = 0;
    for (unsigned i = 0; i < a.Size(); ++i) {
      const bool same = std::isnan(a[i]) ? std::isnan(b[i]) : std::memcmp(&a[i], &b[i], sizeof(double)) == 0;
      if (!same && differ++ < 3) ADD_FAILURE() << where << ": " << a[i] << " came back as " << b[i];
    }
    EXPECT_EQ(differ, 0u) << where;
  };

  // A profile holding a vector.
  CDoubleVector vector(kEach);
  fill(vector);
  const std::string profile = dir / "numbers.vpr";
  {
    CXMLDocument doc;
    ASSERT_EQ(doc.New("profile"), 0);
    vector.SerializeData(AddElement(doc.Root(), "parameters"));
    ASSERT_EQ(doc.SaveAs(profile.c_str()), 0);
  }
  CXMLDocument doc;
  ASSERT_EQ(doc.Open(profile.c_str()), 0);
  CDoubleVector vectorBack;
  vectorBack.DeserializeData(GetElement(doc.Root(), "parameters"));
  expectSame(vector, vectorBack, "profile");

  // A matrix file of four columns; the last two columns hold what a trace
  // file holds (arguments and values).
  CDoubleMatrix matrix;
  for (int c = 0; c < 4; ++c) {
    auto* column = new CDoubleVector(kEach / 2);
    fill(*column);
    matrix.InsertColumn(column);
  }
  const std::string table = dir / "numbers.txt";
  ASSERT_EQ(matrix.SaveToFile(table), 0);
  CDoubleMatrix matrixBack;
  ASSERT_EQ(matrixBack.LoadFromFile(table), 0);
  ASSERT_EQ(matrixBack.Columns(), 4u);
  for (unsigned c = 0; c < 4; ++c) expectSame(*matrix.Column(c), *matrixBack.Column(c), "matrix file");
  EXPECT_EQ(cap.Count(), 0u);
}

// ---- replacing files --------------------------------------------------------

TEST_F(Documents, ReplacingALinkedFileKeepsTheLinkAndThePermissions) {
  const std::string real = Write("real.xml", "old");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real.xml", (dir / "link.xml").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "link.xml").c_str(), (dir / "chain.xml").c_str()), 0);
  ASSERT_EQ(vkplatform::WriteFileAtomically(dir / "chain.xml", "new", 3), 0);
  struct stat st;
  ASSERT_EQ(::lstat((dir / "link.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat((dir / "chain.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(vktest::ReadFile(real), "new");
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // A dangling link gets its file.
  ASSERT_EQ(::symlink("later.xml", (dir / "dangling.xml").c_str()), 0);
  ASSERT_EQ(vkplatform::WriteFileAtomically(dir / "dangling.xml", "made", 4), 0);
  EXPECT_EQ(vktest::ReadFile(dir / "later.xml"), "made");
}

// Runs `body` as an ordinary user in a child process (root may write
// anywhere, so what a user meets cannot be seen as root); returns what it
// returned, or -1.
int AsUser(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A document in a folder the user may not write, such as a shared profile,
// can still be saved when the file itself is writable: it is rewritten in
// place. When that cannot be done whole (no room to grow it, or a write
// that fails half-way), the old contents stay.
TEST_F(Documents, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
  // The folder must be reachable by the user the child becomes.
  std::string tmpl = "/tmp/vk-readonly-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  const std::string folder = tmpl;
  const std::string file = folder + "/profile.vpr";
  vktest::WriteFile(file, std::string(100, 'o'));
  ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  }

  const std::string longer(5000, 'n');
  EXPECT_EQ(AsUser([&] {
              return vkplatform::WriteFileAtomically(file, longer.data(), longer.size()) == 0 ? 0 : 1;
            }),
            0);
  EXPECT_EQ(vktest::ReadFile(file), longer);

  // No room for the new contents (a file size limit stands for a full
  // disk): the file keeps what it had, and nothing is left beside it.
  const std::string huge(200000, 'h');
  EXPECT_EQ(AsUser([&] {
              std::signal(SIGXFSZ, SIG_IGN);
              rlimit limit{10000, 10000};
              ::setrlimit(RLIMIT_FSIZE, &limit);
              return vkplatform::WriteFileAtomically(file, huge.data(), huge.size()) == 0 ? 0 : 1;
            }),
            1);
  EXPECT_EQ(vktest::ReadFile(file), longer);
  // Shorter new contents need no more room; the write fails half-way
  // through (beyond the limit) and what it overwrote is written back.
  const std::string shorter(4000, 's');
  EXPECT_EQ(AsUser([&] {
              std::signal(SIGXFSZ, SIG_IGN);
              rlimit limit{3000, 3000};
              ::setrlimit(RLIMIT_FSIZE, &limit);
              return vkplatform::WriteFileAtomically(file, shorter.data(), shorter.size()) == 0 ? 0 : 1;
            }),
            1);
  EXPECT_EQ(vktest::ReadFile(file), longer);
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 1u);
  ::chmod(folder.c_str(), 0755);
  std::filesystem::remove_all(folder);
}

}  // namespace
