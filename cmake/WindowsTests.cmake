# The Windows suite: GoogleTest built from Debian's sources with the cross
# compiler, run under Wine in this build tree's private prefix.
set(QVR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QVR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
qvr_test_code(gtest)
qvr_test_code(gmock)

file(GLOB_RECURSE win_test_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/win32/*.cpp ${PROJECT_SOURCE_DIR}/tests/support/win32/*.cpp)
add_executable(qvr_windows_tests ${win_test_sources})
target_include_directories(qvr_windows_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(qvr_windows_tests PRIVATE qvr_shell qvr_host_support streamcheck_lib gtest gmock ${qvr_static_link})
qvr_compile_in_batches(qvr_windows_tests 7)
qvr_test_code(qvr_windows_tests)
# The virtual printer's test runs streamcheck.exe serve and qvr_host.exe with
# the sample job beside them, and talks to the server as a client.
target_link_libraries(qvr_windows_tests PRIVATE streamcheck_test_http streamcheck_net)
# The suite loads the DLL and runs both programs: they are linked before it,
# and its sources compile meanwhile.
set_property(TARGET qvr_windows_tests APPEND PROPERTY LINK_DEPENDS
  $<TARGET_FILE:QVR_PLUGIN_ZK-R41x0> $<TARGET_FILE:streamcheck> $<TARGET_FILE:qvr_host>)
configure_file(${PROJECT_SOURCE_DIR}/samples/sample.job ${CMAKE_BINARY_DIR}/bin/sample.job COPYONLY)
# The job files qvr_host.exe runs for the job-file table test.
file(GLOB test_job_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win32/tools/jobs/*.job)
foreach(job_file IN LISTS test_job_files)
  get_filename_component(job_name ${job_file} NAME)
  configure_file(${job_file} ${CMAKE_BINARY_DIR}/bin/jobs/${job_name} COPYONLY)
endforeach()
# The second process of the log tests.
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/logwriter ${CMAKE_BINARY_DIR}/tests/logwriter)

if(CMAKE_CROSSCOMPILING)
  add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${QVR_WINEPREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
endif()

add_test(NAME windows_suite COMMAND qvr_windows_tests --gtest_color=no)
# The debugger output's buffer is one per prefix: its readers take turns (ctest -j).
set_tests_properties(windows_suite PROPERTIES
  FIXTURES_REQUIRED wine TIMEOUT 1800 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin RESOURCE_LOCK debugger_output)

if(MINGW)
  find_program(QVR_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
  add_test(NAME dll_exports_and_imports
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${QVR_OBJDUMP} -DDLL=$<TARGET_FILE:QVR_PLUGIN_ZK-R41x0>
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckDllInterface.cmake)
  set_tests_properties(dll_exports_and_imports PROPERTIES CROSSCOMPILING_EMULATOR "")
endif()

if(CMAKE_CROSSCOMPILING)
  include(cmake/MsAbiHost.cmake)
endif()
