#!/usr/bin/env bash
# Sets everything up and runs all tests: the sanitizer builds first (ASan with
# UBSan for every test, TSan for the concurrency tests), then the normal build.
# Usage: scripts/test.sh [--quick]   (--quick: the normal build only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/install-deps.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
# Qt is not instrumented: what its own code allocates and frees is not
# tracked; hand-offs through its event queues are annotated in our code.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1}

if [ $quick -eq 0 ]; then
  echo "== ASan/UBSan build =="
  scripts/build.sh "$root/build-asan" -DVK_SANITIZE=address -DVK_BUILD_BENCH=OFF
  (cd build-asan && ctest --output-on-failure -j2)
  echo "== TSan build (concurrency tests) =="
  cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVK_SANITIZE=thread -DVK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$root/build-tsan" -j"${VK_JOBS:-2}" --target vk_concurrency_tests
  (cd build-tsan && ctest --output-on-failure -j2 -L concurrency)
fi

echo "== Normal build =="
scripts/build.sh "$root/build"
(cd build && ctest --output-on-failure -j2)
