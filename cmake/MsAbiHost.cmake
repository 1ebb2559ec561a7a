# The Microsoft-ABI host test: a small host built the way the label
# application is, by clang for x86_64-pc-windows-msvc from its own declaration
# of the interface, and linked by lld-link against the mingw-w64 import
# libraries without a C runtime. That compiler is not the one this project is
# configured with, so custom commands build it into bin/ beside the DLL.
find_program(QVR_MSABI_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(QVR_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
set(msabi_dir ${PROJECT_SOURCE_DIR}/tests/msabi_host)
set(msabi_import_dir /usr/x86_64-w64-mingw32/lib CACHE PATH "mingw-w64 import libraries for the Microsoft-ABI host")
set(msabi_flags --target=x86_64-pc-windows-msvc -std=c++20 -O2 -fno-exceptions -fno-rtti -ffreestanding
    -fno-stack-protector -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(QVR_WERROR)
  list(APPEND msabi_flags -Werror)
endif()

file(GLOB msabi_headers CONFIGURE_DEPENDS ${msabi_dir}/*.h)
set(msabi_objects)
foreach(unit msabi_host trace_listener stream_compare runtime)
  set(object ${CMAKE_BINARY_DIR}/msabi_host/${unit}.obj)
  add_custom_command(OUTPUT ${object}
    COMMAND ${QVR_MSABI_CLANG} ${msabi_flags} -c ${msabi_dir}/${unit}.cpp -o ${object}
    DEPENDS ${msabi_dir}/${unit}.cpp ${msabi_headers}
    COMMENT "Compiling ${unit}.cpp for the Microsoft ABI"
    VERBATIM)
  list(APPEND msabi_objects ${object})
endforeach()

set(msabi_exe ${CMAKE_BINARY_DIR}/bin/msabi_host.exe)
set(msabi_imports)
foreach(library kernel32 shell32 winspool gdi32 user32)
  list(APPEND msabi_imports ${msabi_import_dir}/lib${library}.a)
endforeach()
add_custom_command(OUTPUT ${msabi_exe}
  COMMAND ${QVR_LLD_LINK} /nologo /entry:HostMain /subsystem:console /nodefaultlib /out:${msabi_exe}
          ${msabi_objects} ${msabi_imports}
  DEPENDS ${msabi_objects}
  COMMENT "Linking msabi_host.exe with lld-link"
  VERBATIM)
add_custom_target(msabi_host ALL DEPENDS ${msabi_exe})

add_test(NAME msabi_host
  COMMAND ${msabi_dir}/run_msabi_host.sh ${QVR_WINEPREFIX} ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR}/msabi-host-test)
set_tests_properties(msabi_host PROPERTIES
  FIXTURES_REQUIRED wine CROSSCOMPILING_EMULATOR "" TIMEOUT 300 RESOURCE_LOCK debugger_output)
