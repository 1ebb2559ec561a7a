# Native build: the core's unit tests (GoogleTest), benchmarks and portable tools.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB_RECURSE core_test_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/core/*.cpp ${PROJECT_SOURCE_DIR}/tests/support/native/*.cpp)
add_executable(qvr_core_tests ${core_test_sources})
target_include_directories(qvr_core_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(qvr_core_tests PRIVATE qvr_core streamcheck_lib GTest::gtest GTest::gtest_main GTest::gmock)
target_precompile_headers(qvr_core_tests PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
qvr_compile_in_batches(qvr_core_tests 10)
qvr_test_code(qvr_core_tests)
gtest_discover_tests(qvr_core_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

# Faults at every step of a whole job. Its own executable: it replaces the
# global operator new to make the k-th allocation fail.
add_executable(qvr_fault_tests ${PROJECT_SOURCE_DIR}/tests/faults/fault_injection_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/native/fakes.cpp)
target_include_directories(qvr_fault_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/tools/streamcheck)
target_link_libraries(qvr_fault_tests PRIVATE qvr_core streamcheck_lib GTest::gtest GTest::gtest_main)
qvr_test_code(qvr_fault_tests)
gtest_discover_tests(qvr_fault_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

if(QVR_BENCHMARKS)
  find_package(benchmark REQUIRED)
  file(GLOB bench_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
  if(bench_sources)
    find_package(ZLIB REQUIRED)
    add_executable(qvr_benchmarks ${bench_sources} ${PROJECT_SOURCE_DIR}/tests/support/native/debug_output_capture.cpp)
    target_include_directories(qvr_benchmarks PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/bench)
    target_link_libraries(qvr_benchmarks PRIVATE qvr_core benchmark::benchmark ZLIB::ZLIB)
  endif()
endif()

file(GLOB tool_lists CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*/CMakeLists.txt)
foreach(list_file IN LISTS tool_lists)
  get_filename_component(dir ${list_file} DIRECTORY)
  add_subdirectory(${dir})
endforeach()

# Every include between the source folders points down the layers.
add_test(NAME source_layers COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-layers.sh ${PROJECT_SOURCE_DIR})
