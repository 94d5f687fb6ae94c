#pragma once
// The upper halves of the vector registers. Code that uses the 256-bit
// registers and returns without clearing their upper halves (Qt 6.4's AVX2
// fill, which every raster paint runs, is such code) leaves them "dirty";
// until something clears them, each ordinary SSE instruction of the thread
// merges with them, and libm's pow, exp and log run several times slower
// (on the development machine a pow took 280 ns instead of 13). A new
// thread inherits the state of the thread that made it.
//
// ClearVectorUpperState() is one instruction (vzeroupper) on a processor
// with AVX and nothing elsewhere; it changes no value a program holds
// (compiled code keeps no 256-bit values across calls). Call it where
// per-point arithmetic follows drawing: when a frame is taken, when a
// filter converts, when a thread starts.
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VK_VECTOR_STATE_X86 1
#endif

namespace vkcore {

#ifdef VK_VECTOR_STATE_X86
namespace detail {
inline bool CpuHasAvx() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  // AVX, and the operating system saves the 256-bit registers (OSXSAVE and
  // XCR0 bits 1 and 2).
  if (!(c & bit_AVX) || !(c & bit_OSXSAVE)) return false;
  unsigned lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (lo & 6) == 6;
}
inline bool CpuHasXinuse() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!CpuHasAvx() || __get_cpuid_max(0, nullptr) < 0xd) return false;
  __cpuid_count(0xd, 1, a, b, c, d);
  return (a & 4) != 0;  // XGETBV with ECX = 1
}
}  // namespace detail

inline void ClearVectorUpperState() {
#ifdef __AVX__
  _mm256_zeroupper();  // the compiler knows what it clears
#else
  static const bool avx = detail::CpuHasAvx();
  if (avx) __asm__ volatile("vzeroupper");  // SSE code keeps nothing above 128 bits
#endif
}

// Whether the upper halves are in use now: 1 yes, 0 no, -1 the processor
// cannot say (tests and benchmarks).
inline int VectorUpperStateInUse() {
  static const bool known = detail::CpuHasXinuse();
  if (!known) return -1;
  unsigned lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  return (lo & 4) ? 1 : 0;
}
#else
inline void ClearVectorUpperState() {}
inline int VectorUpperStateInUse() { return -1; }
#endif

}  // namespace vkcore
