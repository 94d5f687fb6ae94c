// Reports of violated conditions and the progress log.
#include <sys/wait.h>

#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "CoreTestSupport.h"
#include "Diagnostics.h"
#include "platform/Report.h"

namespace {

const char kTail[] =
    "\r\nТекст ошибки можно скопировать в буфер обмена с помощью клавиш Ctrl-C"
    "\r\n\r\nПрервать выполнение программы?";

TEST(AssertTexts, DetailsAndMessages) {
  const std::string details = "Файл PacketTypes.cpp (Mar  1 2024) , строка 36\r\npkt\r\n";
  EXPECT_EQ(vkcore::AssertDetails("/src/core/PacketTypes.cpp", "Mar  1 2024", 36, "pkt"), details);
  EXPECT_EQ(vkcore::AssertDetails("C:\\src\\core\\PacketTypes.cpp", "Mar  1 2024", 36, "pkt"),
            details);
  EXPECT_EQ(vkcore::AssertMessage("core/PacketTypes.cpp", "Mar  1 2024", 36, "pkt"),
            "Во время выполнения программы возникла неизвестная ошибка.\r\n\r\n"
            "Информация об ошибке:\r\n" + details);
  EXPECT_EQ(vkcore::PAssertMessage("PacketTypes.cpp", "Mar  1 2024", 36, "Генератор 1", "pkt"),
            "При обработке команды \"Генератор 1\" возникла неизвестная ошибка.\r\n\r\n"
            "Информация об ошибке:\r\n" + details);
  // Conversion characters in the texts are copied, never interpreted.
  EXPECT_EQ(vkcore::AssertDetails("a%s.cpp", "%d", 1, "x % 2 == 0 && \"%s%n\""),
            "Файл a%s.cpp (%d) , строка 1\r\nx % 2 == 0 && \"%s%n\"\r\n");
  EXPECT_NE(vkcore::PAssertMessage("u.cpp", "d", 1, "100%s", "e").find("\"100%s\""),
            std::string::npos);
}

TEST(AssertReports, CapturedReportOffersToEndTheProgram) {
  vkplatform::ReportCapture cap;
  AssertFunction("/x/y/Unit.cpp", "Jan  2 2025", 36, "pkt");
  PAssertFunction("Unit.cpp", "Jan  2 2025", 7, "Plug 7", "x > 0");
  VK_ASSERT(1 + 1 == 3);
  VK_ASSERT(1 + 1 == 2);
  ASSERT_EQ(cap.Count(), 3u);
  const std::vector<vkplatform::Report> r = cap.Reports();

  EXPECT_EQ(r[0].text, vkcore::AssertMessage("/x/y/Unit.cpp", "Jan  2 2025", 36, "pkt") + kTail);
  EXPECT_EQ(r[0].caption, "Ошибка");
  EXPECT_EQ(r[0].icon, vkplatform::MsgIcon::Error);
  EXPECT_EQ(r[0].buttons, vkplatform::MsgButtons::YesNo);
  EXPECT_EQ(r[0].defaultAnswer, vkplatform::MsgAnswer::No);
  EXPECT_TRUE(r[0].assertion);
  EXPECT_EQ(r[0].line, 36);
  EXPECT_EQ(r[0].expression, "pkt");

  EXPECT_EQ(r[1].text,
            vkcore::PAssertMessage("Unit.cpp", "Jan  2 2025", 7, "Plug 7", "x > 0") + kTail);
  EXPECT_EQ(r[1].plugin, "Plug 7");
  EXPECT_EQ(r[1].buttons, vkplatform::MsgButtons::YesNo);

  EXPECT_EQ(r[2].expression, "1 + 1 == 3");
  EXPECT_NE(r[2].text.find("Файл test_diagnostics.cpp ("), std::string::npos) << r[2].text;
}

TEST(AssertReports, AnswerYesEndsTheProcessAbnormally) {
  EXPECT_EXIT(
      {
        vkplatform::SetReportHook([](const vkplatform::Report&) {
          return vkplatform::MsgAnswer::Yes;
        });
        AssertFunction("u.cpp", "d", 1, "fatal");
        std::exit(0);
      },
      [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
}

TEST(AssertReports, WithoutAHookTheTextGoesToStandardErrorAndTheProgramGoesOn) {
  testing::internal::CaptureStderr();
  AssertFunction("dir/Unit.cpp", "d", 5, "on stderr");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Ошибка"), std::string::npos) << err;
  EXPECT_NE(err.find("Файл Unit.cpp (d) , строка 5\non stderr\n"), std::string::npos) << err;
}

TEST(AssertReports, ReportsFromManyThreadsAreAllCaptured) {
  vkplatform::ReportCapture cap;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      const std::string expr = "thread " + std::to_string(t);
      for (int i = 0; i < 50; ++i) AssertFunction("u.cpp", "d", i, expr.c_str());
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(cap.Count(), 400u);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(cap.CountExpression("thread " + std::to_string(t)), 50u);
}

TEST(LogMessages, GoToTheInstalledHookOnly) {
  std::vector<std::pair<std::string, bool>> got;
  LogHook previous = SetLogHook([&got](const AnsiString& m, bool f) { got.emplace_back(m, f); });
  LogMessage("step 1", true);
  LogMessage("step 2");
  {
    vkplatform::ReportCapture cap;
    AssertFunction("u.cpp", "d", 1, "e");
  }
  EXPECT_TRUE(static_cast<bool>(SetLogHook(std::move(previous))));
  LogMessage("after");
  const std::vector<std::pair<std::string, bool>> expected = {
      {"step 1", true}, {"step 2", false}, {vkcore::AssertMessage("u.cpp", "d", 1, "e"), false}};
  EXPECT_EQ(got, expected);

  if (std::getenv("VEKTRA_LOG")) GTEST_SKIP() << "VEKTRA_LOG sends the log to standard error";
  testing::internal::CaptureStderr();
  LogMessage("quiet");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
