// The vector registers' upper halves where per-point arithmetic runs. A
// paint may leave them in use (Qt's AVX2 fill does), and then pow, exp and
// log run several times slower in that thread and in every thread it
// starts. Here they are put in use by hand, as such a paint leaves them,
// and each place where arithmetic follows must find them clear: a module's
// thread when it starts, a frame taken by a display, a unit conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "FramePlugin.h"
#include "ThreadObject.h"
#include "VectorState.h"
#include "filters/FilterQuantity.h"

namespace {

// Puts the upper half of ymm15 in use, as code that returns without
// vzeroupper does; false where the processor cannot say whether it is.
bool LeaveUpperHalvesInUse() {
  if (vkcore::VectorUpperStateInUse() < 0) return false;
  __asm__ volatile("vpcmpeqd %%ymm15, %%ymm15, %%ymm15" ::: "xmm15");
  return vkcore::VectorUpperStateInUse() == 1;
}

class TWorker : public CThreadObject {
 public:
  void ThreadCycle() override { seen = vkcore::VectorUpperStateInUse(); }
  std::atomic<int> seen{-2};
};

class TFrames : public TFramePlugin {
 public:
  TFrames() : TFramePlugin(QEvent::User + 901) {}
  int Register() override { return 0; }
  int Initialize(QWidget*, xmlNode*) override { return 0; }
  int Finalize() override { return 0; }
  bool FrameReady() const override { return left > 0; }
  bool TakeFrame() override {
    --left;
    seen = vkcore::VectorUpperStateInUse();
    return true;
  }
  void Draw() override {}
  void ParentResize() override {}
  int left = 1;
  int seen = -2;
};

TEST(VectorRegisters, ClearWhereArithmeticFollowsAPaint) {
  if (!LeaveUpperHalvesInUse()) GTEST_SKIP() << "this processor does not tell whether the upper halves are in use";

  // A thread started now gets the registers as they are.
  TWorker worker;
  ASSERT_EQ(worker.ThreadStart(), 0);
  for (int i = 0; i < 5000 && worker.seen == -2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  worker.ThreadStop();
  EXPECT_EQ(worker.seen, 0) << "a module's thread starts with the upper halves in use";

  // A display takes its frames straight after painting.
  ASSERT_TRUE(LeaveUpperHalvesInUse());
  TFrames frames;
  EXPECT_EQ(frames.DataReady(), 1);
  EXPECT_EQ(frames.seen, 0) << "a frame is taken with the upper halves in use";

  // A re-filter comes straight from a menu; the values stay those of pow.
  plotdesk::CFilterQuantity conversion(nullptr);
  conversion.SetConversion(1);
  std::vector<double> x{1, 2, 3, 4}, y{-20, -3.5, 0, 7.25};
  plotdesk::TTraceUpdate u{false, 4, 0, 4, x.data(), y.data()};
  ASSERT_TRUE(LeaveUpperHalvesInUse());
  conversion.Apply(u);
  EXPECT_EQ(vkcore::VectorUpperStateInUse(), 0) << "the conversion runs with the upper halves in use";
  for (size_t i = 0; i < y.size(); ++i) EXPECT_EQ(u.y[i], std::pow(10.0, 0.1 * y[i])) << i;
}

}  // namespace
