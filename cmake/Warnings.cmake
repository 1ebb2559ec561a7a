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
