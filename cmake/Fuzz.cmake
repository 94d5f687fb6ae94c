# libFuzzer needs clang: VK_FUZZ_SUPPORTED says whether clang++ is here and
# links -fsanitize=fuzzer (a success is remembered by the build tree; a
# failure is probed again at the next configuration, so installing clang
# later is enough); VK_FUZZ_CXX and VK_FUZZ_CC name the compilers.
find_program(VK_FUZZ_CXX NAMES clang++ clang++-14)
find_program(VK_FUZZ_CC NAMES clang clang-14)
if(VK_FUZZ_CXX AND VK_FUZZ_CC AND NOT VK_FUZZ_SUPPORTED)
  set(probe ${CMAKE_BINARY_DIR}/fuzz_probe.cpp)
  file(WRITE ${probe}
    "#include <cstddef>\n#include <cstdint>\n"
    "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
  execute_process(COMMAND ${VK_FUZZ_CXX} -std=c++20 -fsanitize=fuzzer,address,undefined ${probe}
                          -o ${CMAKE_BINARY_DIR}/fuzz_probe
                  RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(VK_FUZZ_SUPPORTED ON CACHE INTERNAL "clang++ links libFuzzer targets")
  else()
    unset(VK_FUZZ_SUPPORTED CACHE)
  endif()
endif()

# vk_fuzz_build(): in the sanitizer build, a second build tree (fuzz-build/)
# of the libraries that read untrusted input, compiled by clang with the
# fuzz targets of tests/fuzz; every target gets a short run in the tests.
function(vk_fuzz_build)
  include(ExternalProject)
  set(tree ${CMAKE_BINARY_DIR}/fuzz-build)
  ExternalProject_Add(vk_fuzz_build
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${tree}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${VK_FUZZ_CXX} -DCMAKE_C_COMPILER=${VK_FUZZ_CC}
               -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_FUZZ_ONLY=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${tree} -j2
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(fuzz ${PROJECT_SOURCE_DIR}/tests/fuzz)
  # target | runs in the test suite | seed folders (read only) | extra options
  set(targets
    "fuzz_scheme_open|20000|${PROJECT_SOURCE_DIR}/tests/data/schemes,${PROJECT_SOURCE_DIR}/schemes|-dict=${fuzz}/scheme.dict"
    "fuzz_profile_apply|20000|${fuzz}/corpus/profile|-dict=${fuzz}/scheme.dict"
    "fuzz_matrix_load|30000|${fuzz}/corpus/matrix|"
    "fuzz_device_blocks|60000|${fuzz}/corpus/blocks|"
    "fuzz_remote_commands|3000|${fuzz}/corpus/remote|-dict=${fuzz}/remote.dict")
  foreach(entry ${targets})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 runs)
    list(GET fields 2 seeds)
    string(REPLACE "," ";" seeds "${seeds}")
    list(LENGTH fields n)
    set(extra "")
    if(n GREATER 3)
      list(GET fields 3 extra)
    endif()
    # New inputs go to a folder of the build tree, never into the seeds.
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME Fuzz.${name}
      COMMAND ${tree}/fuzz/${name} -runs=${runs} -seed=1 -max_len=4096 -max_total_time=60
              -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz-corpus/${name}- ${extra} ${corpus} ${seeds})
    set_tests_properties(Fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 180)
  endforeach()
endfunction()
