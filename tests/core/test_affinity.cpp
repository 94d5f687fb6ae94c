// Binding the process to one processor: the lowest one it may use, also
// when processor 0 is not among them.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Affinity.h"

namespace {

// Runs `body` in a child process (the binding must not stay on the test
// process) and returns its exit status.
template <class F>
int InChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

int LowestAndOnly(int expected) {
  cpu_set_t now;
  CPU_ZERO(&now);
  if (sched_getaffinity(0, sizeof now, &now) != 0) return 10;
  if (CPU_COUNT(&now) != 1) return 11;
  return CPU_ISSET(expected, &now) ? 0 : 12;
}

}  // namespace

TEST(Affinity, BindsToTheLowestAllowedProcessor) {
  cpu_set_t mask;
  CPU_ZERO(&mask);
  ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
  int lowest = 0;
  while (!CPU_ISSET(lowest, &mask)) ++lowest;
  EXPECT_EQ(InChild([&] {
              const int cpu = vkplatform::BindToFirstProcessor();
              return cpu == lowest ? LowestAndOnly(lowest) : 20;
            }),
            0);

  // Without processor 0 in the mask the next one is taken.
  int second = lowest + 1;
  while (second < CPU_SETSIZE && !CPU_ISSET(second, &mask)) ++second;
  if (second >= CPU_SETSIZE) GTEST_SKIP() << "only one processor";
  EXPECT_EQ(InChild([&] {
              cpu_set_t without;
              CPU_ZERO(&without);
              CPU_SET(second, &without);
              if (sched_setaffinity(0, sizeof without, &without) != 0) return 30;
              return vkplatform::BindToFirstProcessor() == second ? LowestAndOnly(second) : 31;
            }),
            0);
}
