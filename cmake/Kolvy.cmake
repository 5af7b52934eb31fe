# Shared target settings and the helpers every folder uses to declare libraries and tests.

add_library(kolvy_options INTERFACE)
target_include_directories(kolvy_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(kolvy_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-qual -Wformat=2 -Wundef
  -Wimplicit-fallthrough)
if(KOLVY_WERROR)
  target_compile_options(kolvy_options INTERFACE -Werror)
endif()
if(NOT KOLVY_PREENCODED_SOURCES)
  # Sources are UTF-8 so Japanese stays readable; the program's strings are Shift_JIS bytes.
  target_compile_options(kolvy_options INTERFACE -finput-charset=UTF-8 -fexec-charset=CP932)
else()
  target_compile_options(kolvy_options INTERFACE -Wno-invalid-source-encoding)
endif()
if(WIN32)
  target_compile_definitions(kolvy_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601 WINVER=0x0601)
  # One self-contained file per deliverable: no MinGW runtime DLLs beside it.
  target_link_options(kolvy_options INTERFACE -static -static-libgcc -static-libstdc++)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Exports are named in .def files without the stdcall decoration ("FandorFunc", not
    # "FandorFunc@8"): callers look them up by name.
    target_link_options(kolvy_options INTERFACE -Wl,--enable-stdcall-fixup)
  endif()
endif()

if(KOLVY_SANITIZE)
  set(_kolvy_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_kolvy_san})
  add_link_options(${_kolvy_san})
endif()

# kolvy_library(<name> SOURCES ... [POSIX_SOURCES ...] [WIN32_SOURCES ...] [DEPS ...])
function(kolvy_library name)
  cmake_parse_arguments(A "" "" "SOURCES;POSIX_SOURCES;WIN32_SOURCES;DEPS" ${ARGN})
  set(srcs ${A_SOURCES})
  if(WIN32)
    list(APPEND srcs ${A_WIN32_SOURCES})
  else()
    list(APPEND srcs ${A_POSIX_SOURCES})
  endif()
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC kolvy_options ${A_DEPS})
endfunction()

# kolvy_test(<name> SOURCES ... [DEPS ...] [WINDOW] [WIN32_ONLY] [ALSO_WIN32] [TIMEOUT s]
#            [LABELS ...])
# One test executable is one ctest test: under Wine every process start costs, so the cases of a
# folder share one binary. WINDOW marks tests that create real windows (Xvfb display needed).
# ALSO_WIN32: the test is built and run on the 32-bit build too, where 32-bit code runs. Only
# tests that prove what differs between 32 and 64 bits carry it (pointer size, calling
# convention, record layouts, address space): every one costs a 32-bit compile and a Wine run.
function(kolvy_test name)
  cmake_parse_arguments(A "WINDOW;WIN32_ONLY;ALSO_WIN32" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(A_WIN32_ONLY AND NOT WIN32)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE kolvy_options kolvy_test_support ${A_DEPS} kolvy_gtest_main)
  if(WIN32)
    # Console subsystem: gtest prints to the terminal through Wine.
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  kolvy_light_test_code(${name})
  if(NOT KOLVY_RUN_TESTS OR (KOLVY_BUILD STREQUAL "win32" AND NOT A_ALSO_WIN32))
    # Not run on this build; built on request only (tests were most of the win32 build's time).
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_test(NAME ${KOLVY_BUILD}.${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${KOLVY_BUILD}.${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
                       LABELS "${KOLVY_BUILD};${A_LABELS}")
  if(WIN32)
    set_tests_properties(${KOLVY_BUILD}.${name} PROPERTIES FIXTURES_REQUIRED wine_session)
  endif()
endfunction()

# The Windows builds' test code is compiled at -O1 without debug information: half the compile
# time, and the code under test (the libraries) keeps the build's own flags.
function(kolvy_light_test_code target)
  if(WIN32)
    target_compile_options(${target} PRIVATE -O1 -g0)
  endif()
endfunction()

macro(kolvy_setup_test_frameworks)
  # GoogleTest from the Debian source package, built by each toolchain (the MinGW ones have no
  # prebuilt copy). Built without our warning flags and charset conversion.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  if(EXISTS /usr/src/googletest/CMakeLists.txt)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    message(FATAL_ERROR "GoogleTest sources missing: run scripts/setup")
  endif()
  foreach(_t gtest gtest_main gmock gmock_main)
    kolvy_light_test_code(${_t})
  endforeach()
  add_library(kolvy_gtest_main INTERFACE)
  target_link_libraries(kolvy_gtest_main INTERFACE gtest_main gmock)
  if(WIN32 AND KOLVY_RUN_TESTS)
    # ctest runs Windows test binaries through the harness, which supplies the private prefix,
    # the Japanese locale and the Xvfb display.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/harness/wine-run ${CMAKE_BINARY_DIR})
  endif()
endmacro()

# kolvy_check_exports(<target> <expected-names-file>): a test that reads the built file's PE
# export table and fails on a missing or decorated name ("FandorFunc@8" cannot be found by name),
# and on the win32 build also on anything but a PE32 i386 file.
function(kolvy_check_exports target expected)
  if(NOT WIN32)
    return()
  endif()
  set(arch "")
  if(KOLVY_BUILD STREQUAL "win32")
    set(arch i386)
  endif()
  add_test(NAME ${KOLVY_BUILD}.exports.${target}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/harness/check-exports
                   ${KOLVY_MINGW_TRIPLE}-objdump $<TARGET_FILE:${target}> ${expected} ${arch})
  set_tests_properties(${KOLVY_BUILD}.exports.${target} PROPERTIES LABELS "${KOLVY_BUILD};exports")
endfunction()

# kolvy_fuzz_target(<name> SOURCES ... DEPS ...)
# The source defines LLVMFuzzerTestOneInput. Native builds link it with a replay driver and
# register a test that runs every file of fuzz/corpus/<name> once (what CI checks); the clang
# build of scripts/fuzz (KOLVY_LIBFUZZER) links it with libFuzzer instead.
function(kolvy_fuzz_target name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  if(WIN32)
    return()
  endif()
  if(KOLVY_LIBFUZZER)
    add_executable(fuzz_${name} ${A_SOURCES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(fuzz_${name} ${A_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME ${KOLVY_BUILD}.fuzz_replay.${name}
             COMMAND fuzz_${name} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(${KOLVY_BUILD}.fuzz_replay.${name} PROPERTIES TIMEOUT 300
                         LABELS "${KOLVY_BUILD};fuzz")
  endif()
  target_link_libraries(fuzz_${name} PRIVATE kolvy_options ${A_DEPS})
endfunction()
