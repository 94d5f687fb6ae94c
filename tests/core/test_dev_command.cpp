// Command blocks of the instrument protocol: layout, fixed-point values,
// hostile answers, name tables and the XML form.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "CoreTestSupport.h"
#include "DevCommand.h"
#include "platform/Report.h"

namespace {

std::vector<unsigned> Bytes(const CDataBlock& b) {
  return std::vector<unsigned>(b.Block(), b.Block() + b.Size());
}

// A raw block as it might arrive from the network.
CDataBlock Raw(std::vector<unsigned char> bytes) {
  CDataBlock b(static_cast<unsigned>(bytes.size()));
  std::memcpy(b.Block(), bytes.data(), bytes.size());
  return b;
}

}  // namespace

TEST(DevCommand, HeadLayoutAndStructureCheck) {
  CDevCommand c(MI_GET, 5, 7, 0x42, 0x01020304, 9);
  ASSERT_EQ(c.Size(), 22u);  // the odd body length is rounded up
  const std::vector<unsigned> head(c.Block(), c.Block() + 16);
  EXPECT_EQ(head, (std::vector<unsigned>{0xAA, 0x55, 4, 0, 0x00, 0x80, 6, 0, 7, 0x42, 9, 0, 4, 3, 2, 1}));
  EXPECT_EQ(c.Command(), MI_GET);
  EXPECT_EQ(c.Status(), kDevStatusNew);
  EXPECT_EQ(c.Id(), 0x01020304u);
  EXPECT_EQ(c.CheckStructure(), 0);
  c.Block()[0] = 0x55;
  EXPECT_EQ(c.CheckStructure(), -1);

  CDataBlock shortBlock = Raw({0xAA, 0x55, 1, 0});
  CDevCommand truncated(&shortBlock);
  EXPECT_EQ(truncated.CheckStructure(), -1);
  EXPECT_EQ(truncated.Command(), 1);
  EXPECT_EQ(truncated.Status(), 0);  // fields beyond the block read as zeros

  CDevCommand copy(&c);
  std::unique_ptr<CBasePacket> dup(c.CopyPacket());
  EXPECT_EQ(Bytes(*static_cast<CDevCommand*>(dup.get())), Bytes(c));
}

TEST(DevParameter, ValuesAndKnownEncodings) {
  CDevParameter p(P_AVERAGING, 1, 4, 0, MI_SET);
  EXPECT_EQ(Bytes(p), (std::vector<unsigned>{0xAA, 0x55, 3, 0, 0, 0x80, 6, 0, 1, 0x40, 0, 0, 0, 0, 0, 0,
                                             4, 0, 0, 0, 0, 0}));
  p.SetValue(0, 16);
  EXPECT_EQ(std::vector<unsigned>(p.Body(), p.Body() + 6), (std::vector<unsigned>{4, 0, 0x10, 0, 0, 0}));
  EXPECT_EQ(p.Value(0), 16);
  EXPECT_EQ(p.CheckStructure(), 0);

  CDevParameter f(P_FREQUENCY, 3, 4, 2, MI_SET);  // odd value bytes: padded body
  f.SetValues(1.5, -2.25, 100);
  EXPECT_EQ(std::vector<unsigned>(f.Body() + 2, f.Body() + 6), (std::vector<unsigned>{0, 0x80, 1, 0}));
  EXPECT_EQ(f.Value(1), -2.25);
  EXPECT_EQ(f.Value(2), 100);

  const unsigned char half[] = {0x80, 0xFF};
  EXPECT_EQ(CDevCommand::ReadComplexValue(half, 0, 0, false, 2, 1), -0.5);
  const unsigned char ones[] = {0xFF, 0xFF};
  EXPECT_EQ(CDevCommand::ReadComplexValue(ones, 0, 0, false, 2, 0), 65535);
  EXPECT_EQ(CDevCommand::ReadComplexValue(ones, 0, 0, true, 2, 0), -1);

  vkplatform::ReportCapture cap;
  CDevParameter wrong(P_MODE, 1, 2, 0, MI_RUN);
  EXPECT_EQ(cap.CountExpression("nCommand == MI_SET || nCommand == MI_GET"), 1u);
}

// Every format of B = 1..8 value bytes and F = 0..3 fractional bytes: the
// stored bytes are the two's complement of value * 256^F, and reading gives
// the value back (unsigned for whole numbers, signed with fractions).
TEST(DevParameter, EveryFormatRoundTrips) {
  std::mt19937_64 rng(7);
  for (unsigned B = 1; B <= 8; ++B) {
    for (unsigned F = 0; F <= 3; ++F) {
      for (int trial = 0; trial < 20; ++trial) {
        // A whole number k that fits in B signed bytes (and in a double's
        // mantissa), and the value k / 256^F.
        const int64_t limit = B >= 7 ? (int64_t(1) << 52) : (int64_t(1) << (8 * B - 1));
        const int64_t k = static_cast<int64_t>(rng() % (2 * static_cast<uint64_t>(limit))) - limit;
        double value = static_cast<double>(k);
        for (unsigned i = 0; i < F; ++i) value /= 256.0;
        CDevParameter p(P_FREQUENCY, 2, static_cast<unsigned char>(B), static_cast<unsigned char>(F), MI_SET);
        p.SetValue(1, value);
        uint64_t twos = static_cast<uint64_t>(k);
        for (unsigned i = 0; i < B; ++i) {
          ASSERT_EQ(p.Body()[2 + B + i], (twos >> (8 * i)) & 0xFF) << "B=" << B << " F=" << F;
        }
        double expected = value;
        if (F == 0 && k < 0 && B < 8) expected = static_cast<double>(k + (int64_t(1) << (8 * B)));
        if (F == 0 && k < 0 && B == 8) expected = static_cast<double>(static_cast<uint64_t>(k));
        ASSERT_EQ(p.Value(1), expected) << "B=" << B << " F=" << F << " k=" << k;
        ASSERT_EQ(p.Value(0), 0);
      }
    }
  }
}

// Answers from the instrument are untrusted: nothing reads or writes
// outside the block, and every violation is reported.
TEST(DevParameter, HostileBlocksAreNeverReadOrWrittenOutside) {
  vkplatform::ReportCapture cap;
  CDevParameter p(P_MODE, 2, 2, 0, MI_SET);
  p.SetValues(5, 6);
  EXPECT_EQ(p.Value(2), 0);   // at flaga
  EXPECT_EQ(p.Value(-1), 0);
  const std::vector<unsigned> before = Bytes(p);
  p.SetValue(2, 7);
  p.SetValue(300, 7);
  EXPECT_EQ(Bytes(p), before);

  // Head claims 200 body bytes and 100 values in a 20-byte block.
  CDataBlock lying = Raw({0xAA, 0x55, 3, 0, 0, 0, 200, 0, 100, 0x20, 0, 0, 0, 0, 0, 0, 1, 0, 9, 9});
  CDevParameter liar(&lying);
  EXPECT_EQ(liar.Value(50), 0);
  EXPECT_EQ(liar.Value(0), 0);
  const std::vector<unsigned> liarBefore = Bytes(liar);
  liar.SetValue(50, 1);
  EXPECT_EQ(Bytes(liar), liarBefore);

  // Formats no instrument has: nine value bytes, four fractional bytes.
  CDataBlock nine = Raw({0xAA, 0x55, 3, 0, 0, 0, 4, 0, 1, 0x90, 0, 0, 0, 0, 0, 0, 1, 0, 7, 7});
  EXPECT_EQ(CDevParameter(&nine).Value(0), 0);
  CDataBlock frac4 = Raw({0xAA, 0x55, 3, 0, 0, 0, 4, 0, 1, 0x24, 0, 0, 0, 0, 0, 0, 1, 0, 7, 7});
  EXPECT_EQ(CDevParameter(&frac4).Value(0), 0);
  const unsigned char one[] = {1};
  EXPECT_EQ(CDevCommand::ReadComplexValue(one, 1, 0, 1, false, 1, 0), 0);  // past the data
  EXPECT_EQ(CDevCommand::ReadComplexValue(one, 1, 0, 0, false, 0, 0), 0);
  EXPECT_EQ(cap.CountExpression("Bytes\r\n(ReadComplexValue: Invalid bytes count (0))"), 1u);
  EXPECT_GE(cap.Count(), 9u);
}

TEST(DevNames, CommandsParametersAndErrors) {
  EXPECT_EQ(GetCommandID("GET"), 4);
  EXPECT_EQ(GetCommandID("MI_GET"), 4);
  EXPECT_EQ(GetCommandID("GET_LIS"), -1);
  EXPECT_EQ(GetCommandID("get"), -1);
  EXPECT_STREQ(GetCommandName(5), "GET_LIST");
  EXPECT_EQ(GetCommandName(7), nullptr);
  EXPECT_EQ(GetParameterID("CLK"), 50);
  EXPECT_EQ(GetParameterID("P_MAX_NUMBER"), 70);
  EXPECT_EQ(GetParameterID("MODE"), 3);
  EXPECT_EQ(GetParameterID("frequency"), -1);
  EXPECT_STREQ(GetParameterName(4), "AVERAGING");
  int named = 0;
  for (int id = 0; id < 200; ++id)
    if (GetParameterName(id)) ++named;
  EXPECT_EQ(named, 60);
  EXPECT_EQ(GetParameterName(39), nullptr);
  EXPECT_STREQ(GetErrorString(0x8006), "Нет ответа от ПЛИС");
  EXPECT_STREQ(GetErrorString(static_cast<short>(0x8006)), "Нет ответа от ПЛИС");
  EXPECT_STREQ(GetErrorString(0x0004), "");
  EXPECT_EQ(GetErrorString(5), nullptr);
  EXPECT_STREQ(GetErrorString(SE_INVALID_SIGNATURE), "Неверная сигнатура пакета принятого от прибора");

  // Every code of the table has its name in the enumeration, and every
  // named code its entry in the table.
  const EDevError codes[] = {
      MI_NO_ERROR, MI_PARAMETER_CORRECTED, MI_PARAMETER_IGNORED, MI_TIMEOUT, MI_ETHERNET,
      SE_DEVICE_DONT_ANSWER, SE_WRITE_ERROR, SE_READ_ERROR, SE_CANT_CONNECT, SE_READ_HEAD_TIMEOUT,
      SE_READ_BODY_TIMEOUT, SE_READ_TIMEOUT, SE_WRITE_TIMEOUT, SE_READ_BODY_NOT_READY,
      SE_HAVE_READ_WRONG_SIZE, SE_HAVE_WRITE_WRONG_SIZE, SE_CANT_EXTRACT_MEMORY, SE_CANT_FREE_MEMORY,
      SE_CANT_OPEN_FILE, SE_TRY_TO_READ_WRONG_CALIB_DATA, SE_TRY_TO_READ_WRONG_S2P_DATA,
      SE_WRITE_FILE_ERROR, SE_READ_FILE_ERROR, SE_CANT_FIND_SUCH_PROFILE_NAME,
      SE_DETECTOR_CALIB_DATA_FILE_READ_ERROR, SE_DEVICE_WAIT_SYNCHRO_SIGNAL,
      SE_DATA_READ_FROM_FILE_CHECK_ERROR, SE_INVALID_SIGNATURE, SE_UNKNOWN_ERROR, SE_COMMAND_LINE_ERROR,
      MI_CRITICAL_ERROR, MI_UNKNOWN_COMMAND, MI_UNKNOWN_PARAMETER, MI_PARAMETER_INCORRECT,
      MI_NO_PARAMETERS, MI_SMALL_SIZE, MI_PLD_ERROR, MI_LO1_NO_PLL, MI_LO2_NO_PLL, MI_LO3_NO_PLL,
      MI_SYNC_TIMEOUT, MI_SYNTH_TIMEOUT, MI_ADC_ERROR, MI_SIZE_ERROR, MI_SIGNATURE_ERROR,
      MI_EPROM_ERROR, MI_EPROM_MISMATCH, MI_CALIBR_T2_ERROR, MI_CALIBR_T2_SIZE_ERROR,
      MI_LVDS_TIMEOUT, MI_LVDS_DEVICE_ERROR, MI_LVDS_REGISTER_ERROR, MI_ASYNC_TIMEOUT,
      MI_LOCAL_CONTROL};
  int inTable = 0;
  for (int code = 0; code <= 0xFFFF; ++code)
    if (GetErrorString(code)) ++inTable;
  EXPECT_EQ(std::size(codes), 54u);
  EXPECT_EQ(inTable, 54);
  for (EDevError code : codes) EXPECT_NE(GetErrorString(code), nullptr) << code;
  EXPECT_STREQ(GetErrorString(MI_LOCAL_CONTROL), "Ручное управление прибором");
}

TEST(DevCommand, ReadFromXml) {
  vktest::EnsurePacketTypes();
  vkplatform::ReportCapture cap;
  vktest::XmlDoc doc("<c class=\"CDevCommand\" command=\"MI_SET\" bodylen=\"6\" flaga=\"1\"/>");
  std::unique_ptr<CSerializableObject> obj(CClassFactory::Create(doc.root()));
  auto* c = dynamic_cast<CDevCommand*>(obj.get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Size(), 22u);
  EXPECT_EQ(c->Command(), MI_SET);
  EXPECT_EQ(c->Status(), kDevStatusNew);
  EXPECT_EQ(c->FlagA(), 1);
  EXPECT_EQ(c->Body()[5], 0);  // the body starts as zeros
  EXPECT_EQ(cap.Count(), 0u);

  vktest::XmlDoc bad("<c command=\"FLY\" bodylen=\"3\" signature=\"1\"/>");
  CDevCommand d;
  d.DeserializeData(bad.root());
  EXPECT_EQ(static_cast<unsigned short>(d.Command()), 0xFFFF);
  EXPECT_EQ(cap.CountExpression("head->Command!=-1\r\n(Неизвестная команда или команда не определена)"), 1u);
  EXPECT_EQ(cap.CountExpression("CheckStructure()==0"), 1u);
}

TEST(SafeSendParameter, HoldsOneCommand) {
  CSafeSendParameter s;
  s.Lock();
  s.Set(new CDevCommand(MI_RUN));
  s.Set(new CDevCommand(MI_RESET));  // the first is destroyed
  CDevCommand* taken = s.Get();
  s.Null();
  s.Unlock();
  EXPECT_EQ(taken->Command(), MI_RESET);
  EXPECT_EQ(s.Get(), nullptr);
  delete taken;
  s.Set(new CDevCommand(MI_RUN));  // destroyed with the holder
}
