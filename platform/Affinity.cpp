#include "Affinity.h"

#include <sched.h>

namespace vkplatform {

int BindToFirstProcessor() {
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) != 0) return -1;
  // The lowest processor of the mask: the mask AND 1 would be empty when
  // processor 0 is not allowed.
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &mask)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
  }
  return -1;
}

}  // namespace vkplatform
