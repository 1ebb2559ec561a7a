function(qvr_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /permissive-)
    if(QVR_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
    if(QVR_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# The core and the stream checker run thousands of pages in the tests and the
# corpus replays: compiled once, optimised even in the sanitized Debug build,
# and linked by every test, replay and tool that needs them.
function(qvr_optimised_in_tests target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE $<$<CONFIG:Debug>:-O2>)
  endif()
endfunction()

# Sources that share most of what they instantiate (GoogleTest, the JSON and
# HTTP libraries, Asio, the standard library's containers) compiled in
# batches of `size` files: each instantiation is generated once per batch
# rather than once per file, which is most of what these files cost to build.
function(qvr_compile_in_batches target size)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${size})
endfunction()

# Test code is built to run the tests, not to be stepped through: line tables
# are enough for the sanitizers' and Wine's backtraces, and in an optimised
# tree its first level is enough for the tests' own work.
function(qvr_test_code target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -g1 $<$<CONFIG:RelWithDebInfo>:-O1>)
  endif()
endfunction()
