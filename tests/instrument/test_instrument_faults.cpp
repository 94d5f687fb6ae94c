// The link against vk-instrument-sim in another process that misbehaves on
// request: refused and dropped connections, garbage, missing bodies; and
// reconnecting to a new address.
#include <QRegularExpression>

#include "InstrumentTestSupport.h"

using namespace insttest;

namespace {

// vk-instrument-sim misbehaving as `options` ask.
std::vector<std::string> Sim(std::vector<std::string> options) {
  options.insert(options.begin(), {"--port", "0", "--rate", "100", "--part", "64"});
  return options;
}

// Connects, waits for the ready MI_RESET and starts a sweep.
void ConnectAndRun(TLinkScheme& s, const std::string& address) {
  s.SendAddress(address);
  auto ready = s.Next<CDevCommand>("command");
  ASSERT_TRUE(ready);
  ASSERT_EQ(ready->Command(), MI_RESET);
  s.Send("command", new CDevCommand(MI_RUN));
}

}  // namespace

TEST(InstrumentFaults, RefusedConnectionAndReconnect) {
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  TSimProcess refusing(Sim({"--refuse"}));
  ASSERT_FALSE(refusing.address.empty());
  s.SendAddress(refusing.address);
  EXPECT_EQ(s.NextMessage(), "Не удалось прочитать из ethernet'a");

  // A new address: the link connects there.
  TSimProcess good(Sim({}));
  s.SendAddress(good.address);
  auto ready = s.Next<CDevCommand>("command");
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->Command(), MI_RESET);
}

TEST(InstrumentFaults, DroppedConnectionMidSweep) {
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  TSimProcess dropping(Sim({"--drop-after", "3"}));
  ConnectAndRun(s, dropping.address);
  EXPECT_EQ(s.NextMessage(), "Не удалось прочитать из ethernet'a");
  int parts = 0;
  while (s.Next<CDoubleVectorPart>("F", 200)) ++parts;
  EXPECT_EQ(parts, 3);
}

TEST(InstrumentFaults, WrongSignature) {
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  TSimProcess garbling(Sim({"--bad-signature-after", "2"}));
  ConnectAndRun(s, garbling.address);
  EXPECT_EQ(s.NextMessage(), "Неверная сигнатура пакета принятого от прибора");
}

TEST(InstrumentFaults, BodyThatNeverComes) {
  TLinkScheme s("timeout=\"300\"");
  ASSERT_TRUE(s.ok);
  TSimProcess shortBody(Sim({"--short-body-after", "1"}));
  ConnectAndRun(s, shortBody.address);
  EXPECT_EQ(s.NextMessage(), "Таймаут чтения тела команды");
}
