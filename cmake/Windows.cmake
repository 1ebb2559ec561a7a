# Windows build: the plug-in DLL, the Windows test suite (run under Wine by
# CTest when cross-compiling) and our Windows tools.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(MINGW)
  # Everything static: the DLL and our programs import only Windows system DLLs.
  set(qvr_static_link -static -static-libgcc -static-libstdc++)
endif()

if(CMAKE_CROSSCOMPILING)
  set(QVR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of this build tree")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh --prefix ${QVR_WINEPREFIX})
endif()

add_library(qvr_shell STATIC ${QVR_SHELL_SOURCES})
# The shell reaches the resource identifiers as "resources/resource_ids.h".
target_include_directories(qvr_shell PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qvr_shell PUBLIC qvr_core winspool gdi32 user32 comctl32 advapi32 shell32 shlwapi)
target_compile_definitions(qvr_shell PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
qvr_warnings(qvr_shell)

file(GLOB resource_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/*.rc)
add_library(QVR_PLUGIN_ZK-R41x0 SHARED
  ${PROJECT_SOURCE_DIR}/src/frame/win32/exports.def ${resource_files})
set_target_properties(QVR_PLUGIN_ZK-R41x0 PROPERTIES PREFIX "" OUTPUT_NAME "QVR_PLUGIN_ZK-R41x0")
# Whole archive: the DLL is the shell, every object of it belongs in the library.
target_link_libraries(QVR_PLUGIN_ZK-R41x0 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,qvr_shell>" ${qvr_static_link})

# The Windows suite needs GoogleTest's sources, clang and lld; the main job
# configures without it (BUILD_TESTING off) and builds only what it runs.
if(BUILD_TESTING)
  include(cmake/WindowsTests.cmake)
endif()

file(GLOB tool_lists CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*/CMakeLists.txt)
foreach(list_file IN LISTS tool_lists)
  get_filename_component(dir ${list_file} DIRECTORY)
  add_subdirectory(${dir})
endforeach()

include(cmake/Release.cmake)
