# GoogleTest for both trees and the tolvex_test() helper.
#   tolvex_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [WINDOWS_ONLY] [SERIAL] [TIMEOUT seconds])
# Natively each test case becomes one ctest test; under Wine likewise, discovered when ctest
# runs (not at build time), through the Wine wrapper. SERIAL tests run while no other test does:
# they change what the whole prefix sees (registered printer interfaces, print queues).
if(NOT TOLVEX_TESTS)
  return()
endif()

enable_testing()
include(GoogleTest)

if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(TOLVEX_GTEST gtest)
  set(TOLVEX_GMOCK gmock)
else()
  find_package(GTest REQUIRED)
  set(TOLVEX_GTEST GTest::gtest)
  set(TOLVEX_GMOCK GTest::gmock)
endif()

# One entry point for every test program (tests/support/TestMain.cpp).
add_library(tolvex_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp)
target_link_libraries(tolvex_test_main PUBLIC ${TOLVEX_GTEST})

function(tolvex_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY;SERIAL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${TOLVEX_GMOCK} tolvex_test_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TOLVEX_TEST_BIN_DIR})
  set(serial FALSE)
  if(T_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${TOLVEX_TEST_BIN_DIR}
    PROPERTIES TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${serial})
endfunction()
