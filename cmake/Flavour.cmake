# Per-flavour compiler settings and the helpers every folder uses to declare
# libraries, tests, fuzzers and benchmarks.

set(VH_ROOT ${CMAKE_SOURCE_DIR})

if(VH_FLAVOUR STREQUAL "host")
  set(VH_HOST TRUE)
elseif(VH_FLAVOUR STREQUAL "driver")
  set(VH_DRIVER TRUE)
elseif(VH_FLAVOUR STREQUAL "win32")
  set(VH_WIN32 TRUE)
else()
  message(FATAL_ERROR "unknown VH_FLAVOUR '${VH_FLAVOUR}'")
endif()

set(VH_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Wpointer-arith -Wformat=2 -Wimplicit-fallthrough)

if(VH_HOST)
  if(VH_SANITIZE OR VH_FUZZ)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
  if(VH_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
  if(VH_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
endif()

if(VH_WIN32)
  # Wine must find no mingw run-time DLLs beside the executables.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601)
endif()

# GoogleTest from Debian's source package, built per flavour with the
# flavour's own flags (sanitizers included).
if((VH_HOST OR VH_WIN32) AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  # Its speed does not matter; its build time does (the largest single file).
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -O0)
  endforeach()
endif()

function(vh_warnings target)
  target_compile_options(${target} PRIVATE ${VH_WARNINGS})
  if(VH_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# vh_add_test(name SOURCES a.cpp ... [LIBS x y] [LABELS l] [TIMEOUT s])
# Host: a native GoogleTest program. Win32: the same program run under Wine
# through the wine session fixture (fresh prefix, Xvfb).
function(vh_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(VH_DRIVER OR VH_FUZZ OR NOT VH_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  vh_warnings(${name})
  # Test programs do little work of their own (the libraries they test keep
  # the build's optimisation) and compile five times faster unoptimised;
  # the engine's model and crash sweeps wait on their disk, not on the
  # test's own comparisons.
  target_compile_options(${name} PRIVATE -O0)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(VH_WIN32)
    add_test(NAME ${name}
             COMMAND ${VH_ROOT}/scripts/wine-session.sh run ${CMAKE_BINARY_DIR}
                     $<TARGET_FILE:${name}>)
    # A program that dies mid-run under Wine can still exit 0: only
    # GoogleTest's closing summary with no failure counts as a pass.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine
                         PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]"
                         FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
    # The manager's programs share one Wine desktop: windows found by title,
    # the clipboard, focus. They take turns; the engine's tests run beside them.
    if(CMAKE_CURRENT_SOURCE_DIR MATCHES "/manager/")
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_desktop)
    endif()
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# The fuzz build compiles only what its fuzz targets need.
if(VH_FUZZ AND NOT TARGET vh_fuzzers)
  add_custom_target(vh_fuzzers)
endif()

# vh_add_fuzzer(name SOURCES a.cpp ... [LIBS x] [CORPUS dir] [MAX_LEN bytes])
# The sources define LLVMFuzzerTestOneInput. With VH_FUZZ a libFuzzer binary
# is built; otherwise a replay program that runs the corpus once as a test, so
# the harness itself stays compiled and exercised on every flavour.
function(vh_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS;MAX_LEN" "SOURCES;LIBS" ${ARGN})
  if(VH_DRIVER)
    return()
  endif()
  if(VH_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_compile_definitions(${name} PRIVATE VH_LIBFUZZER=1)
    add_dependencies(vh_fuzzers ${name})
    # libFuzzer grows the first corpus folder; keep the seeds read-only.
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    file(MAKE_DIRECTORY ${work})
    # Without MAX_LEN libFuzzer grows inputs no longer than the largest seed.
    set(max_len)
    if(F_MAX_LEN)
      set(max_len -max_len=${F_MAX_LEN})
    endif()
    add_test(NAME ${name}
             COMMAND ${name} -max_total_time=${VH_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
                     ${max_len} ${work} ${F_CORPUS})
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  elseif(VH_BUILD_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${VH_ROOT}/cmake/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    vh_warnings(${name}_replay)
    if(F_CORPUS)
      if(VH_WIN32)
        add_test(NAME ${name}_replay
                 COMMAND ${VH_ROOT}/scripts/wine-session.sh run ${CMAKE_BINARY_DIR}
                         $<TARGET_FILE:${name}_replay> ${F_CORPUS})
        set_tests_properties(${name}_replay PROPERTIES FIXTURES_REQUIRED wine)
      else()
        add_test(NAME ${name}_replay COMMAND ${name}_replay ${F_CORPUS})
      endif()
    endif()
  endif()
endfunction()

# vh_add_benchmark(name SOURCES a.cpp ... [LIBS x]): a program that prints
# ratios measured side by side in one run. Never a test.
function(vh_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VH_HOST OR VH_FUZZ)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
  vh_warnings(${name})
endfunction()

if(VH_WIN32)
  add_test(NAME wine_session_start
           COMMAND ${VH_ROOT}/scripts/wine-session.sh start ${CMAKE_BINARY_DIR})
  add_test(NAME wine_session_stop
           COMMAND ${VH_ROOT}/scripts/wine-session.sh stop ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)
endif()

# Build-time host programs (the form converter in tools/) for the win32
# flavour, which cannot build them itself: scripts/build.sh builds the host
# flavour first and points here.
set(VH_HOST_TOOLS_DIR "${VH_ROOT}/build/host/tools" CACHE PATH "Folder of the host build's tools")
