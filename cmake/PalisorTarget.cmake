# libFuzzer builds (clang only): every target of ours gets the fuzzer's
# coverage hooks and the sanitizers; the fuzz targets under tests/fuzz link
# the fuzzer itself.
option(PALISOR_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(PALISOR_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "PALISOR_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()

option(PALISOR_PCH "Compile Qt's headers once per build folder (precompiled headers)" ON)

# Warnings on and treated as errors in Palisor's own code.
function(palisor_compile_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  if(PALISOR_SANITIZE OR PALISOR_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(PALISOR_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  elseif(NOT PALISOR_SANITIZE)
    # Debian's hardening for the programs it installs; fortified functions
    # need the optimiser.
    target_compile_definitions(${target} PRIVATE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endfunction()

# The precompiled headers every target reuses, one set for the programs and
# libraries and one with GoogleTest for the test programs. The compilers take
# a precompiled header only where it was made with the same options and with
# no macro its users lack: the hosts get Palisor's flags and Qt Core's macros,
# which every target has, and only the include folders of the other modules.
if(PALISOR_PCH)
  foreach(host palisor_pch palisor_test_pch)
    add_library(${host} OBJECT ${CMAKE_SOURCE_DIR}/cmake/precompiled.cpp)
    palisor_compile_flags(${host})
    set_target_properties(${host} PROPERTIES AUTOMOC OFF)
    target_link_libraries(${host} PRIVATE Qt6::Core)
    foreach(module Gui Widgets Sql Network)
      target_include_directories(${host} SYSTEM PRIVATE $<TARGET_PROPERTY:Qt6::${module},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
  endforeach()
  target_precompile_headers(palisor_pch PRIVATE ${CMAKE_SOURCE_DIR}/cmake/precompiled.h)
  target_link_libraries(palisor_test_pch PRIVATE GTest::gtest)
  target_precompile_headers(palisor_test_pch PRIVATE ${CMAKE_SOURCE_DIR}/cmake/precompiled.h <gtest/gtest.h> <QTemporaryDir>)
endif()

function(palisor_target target)
  palisor_compile_flags(${target})
  if(PALISOR_PCH)
    target_precompile_headers(${target} REUSE_FROM palisor_pch)
  endif()
endfunction()

# What every test of ours runs with: widgets offscreen, the schema file, the
# build folder, and in the sanitizer builds the sanitizers' settings.
# Each test keeps the embedded engine's lock files in a folder of its own:
# a test that kills a program inside the engine can wedge the shared lock
# memory, and that must not hang the other tests or a Palisor the user runs.
function(palisor_test_environment test)
  set(environment
    "QT_QPA_PLATFORM=offscreen" "PALISOR_SCHEMA=${PALISOR_SCHEMA_FILE}" "PALISOR_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "PALISOR_FIREBIRD_SERVER=${PALISOR_FIREBIRD_SERVER}"
    "FIREBIRD_LOCK=${CMAKE_BINARY_DIR}/firebird-lock/${test}")
  # The engine makes the test's own folder, but not its parent.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/firebird-lock)
  if(PALISOR_SANITIZE OR PALISOR_FUZZ)
    list(APPEND environment
      "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/lsan-suppressions.txt:print_suppressions=0:use_tls=0"
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${environment}")
endfunction()

# A GoogleTest executable registered with CTest; widgets run offscreen.
# ALONE names cases (Suite.Case) that wait on programs and servers for a
# minute or so: each runs as a test of its own, started first, so a parallel
# run spreads them rather than waiting on one long program at its end.
function(palisor_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ALONE" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  palisor_compile_flags(${name})
  if(PALISOR_PCH)
    target_precompile_headers(${name} REUSE_FROM palisor_test_pch)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set(others "")
  foreach(case ${ARG_ALONE})
    add_test(NAME ${name}.${case} COMMAND ${name} --gtest_filter=${case})
    palisor_test_environment(${name}.${case})
    # A case renamed or gone would otherwise pass by running nothing (one
    # that skips itself still says it ran).
    set_tests_properties(${name}.${case} PROPERTIES TIMEOUT 600 COST 2000
      FAIL_REGULAR_EXPRESSION "Running 0 tests")
    string(APPEND others ":${case}")
  endforeach()
  if(others)
    string(SUBSTRING "${others}" 1 -1 others)
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${others})
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  palisor_test_environment(${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
