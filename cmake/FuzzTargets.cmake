# Fuzz targets. Each is a libFuzzer entry (LLVMFuzzerTestOneInput) with a
# folder of kept inputs. In every native build its corpus is replayed as an
# ordinary test by one driver (tests/fuzz/replay_main.cpp) that calls the
# entry itself, so the replay cannot drift from the fuzzer. With QVR_FUZZ and
# clang the libFuzzer executable is built as well, everything it runs
# compiled with the fuzzer's and the sanitizers' instrumentation.
#
#   qvr_fuzz_target(NAME SOURCES ... CORPUS DIR
#                   [INCLUDES ...] [REPLAY_LIBS ...] [FUZZ_SOURCES ...])
# SOURCES: the entry and its helpers; REPLAY_LIBS: what the replay links;
# FUZZ_SOURCES: the same code as sources, for the instrumented executable.
function(qvr_fuzz_target name)
  cmake_parse_arguments(arg "" "CORPUS" "SOURCES;INCLUDES;REPLAY_LIBS;FUZZ_SOURCES" ${ARGN})
  if(WIN32)
    return()
  endif()
  add_executable(${name}_replay ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp ${arg_SOURCES})
  target_include_directories(${name}_replay PRIVATE ${arg_INCLUDES})
  target_link_libraries(${name}_replay PRIVATE ${arg_REPLAY_LIBS})
  qvr_compile_in_batches(${name}_replay 4)
  add_test(NAME FuzzReplay.${name} COMMAND ${name}_replay ${arg_CORPUS})
  # Two worker processes. The longest test of the suite: started first, so
  # that the short tests fill the time its workers wait rather than run after it.
  set_tests_properties(FuzzReplay.${name} PROPERTIES COST 1000
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;REPLAY_JOBS=2")

  if(QVR_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${name} ${arg_SOURCES} ${arg_FUZZ_SOURCES})
    target_include_directories(${name} PRIVATE ${arg_INCLUDES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE qvr::png)
  endif()
endfunction()
