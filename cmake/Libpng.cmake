# libpng for the core. The mingw-w64 build compiles Debian's own libpng source
# (fetched by scripts/setup.sh) into a static library with Debian's mingw zlib,
# so the DLL imports nothing but Windows system DLLs. Every other build uses the
# platform's libpng (Debian's libpng-dev natively, vcpkg or similar with MSVC).
set(QVR_LIBPNG_SOURCE "${PROJECT_SOURCE_DIR}/.deps/libpng-src" CACHE PATH "libpng source tree for the mingw-w64 build")

if(MINGW)
  if(NOT EXISTS "${QVR_LIBPNG_SOURCE}/png.c")
    message(FATAL_ERROR "libpng source not found in ${QVR_LIBPNG_SOURCE}: run scripts/setup.sh")
  endif()
  find_package(ZLIB REQUIRED)
  set(png_names png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil
      pngset pngtrans pngwio pngwrite pngwtran pngwutil)
  set(png_sources)
  foreach(n IN LISTS png_names)
    list(APPEND png_sources "${QVR_LIBPNG_SOURCE}/${n}.c")
  endforeach()
  # libpng's shipped configuration header is the library's default option set
  # (the one Debian's own build generates): it has everything the encoder uses
  # (user transforms, write callbacks, pHYs, compression setters). Its only
  # blank is the zlib version; filling it in makes libpng refuse at compile
  # time a zlib.h that is not the one we link, e.g. the host's instead of mingw's.
  # libpng's SIMD code (intel/, arm/, ...) only speeds up reading, so none is built.
  set(png_conf_dir "${CMAKE_BINARY_DIR}/libpng-conf")
  file(READ "${QVR_LIBPNG_SOURCE}/scripts/pnglibconf.h.prebuilt" png_conf)
  file(STRINGS "${ZLIB_INCLUDE_DIR}/zlib.h" zlib_vernum REGEX "^#define ZLIB_VERNUM 0x[0-9a-fA-F]+")
  if(zlib_vernum MATCHES "(0x[0-9a-fA-F]+)")
    string(REPLACE "#define PNG_ZLIB_VERNUM 0 /* unknown */" "#define PNG_ZLIB_VERNUM ${CMAKE_MATCH_1}"
           png_conf "${png_conf}")
  endif()
  file(CONFIGURE OUTPUT "${png_conf_dir}/pnglibconf.h" CONTENT "${png_conf}" @ONLY)
  add_library(qvr_libpng STATIC ${png_sources})
  target_include_directories(qvr_libpng PUBLIC "${QVR_LIBPNG_SOURCE}" "${png_conf_dir}")
  target_compile_definitions(qvr_libpng PRIVATE PNG_ARM_NEON_OPT=0 PNG_POWERPC_VSX_OPT=0)
  target_link_libraries(qvr_libpng PUBLIC ZLIB::ZLIB)
  add_library(qvr::png ALIAS qvr_libpng)
else()
  find_package(PNG REQUIRED)
  add_library(qvr_png_iface INTERFACE)
  target_link_libraries(qvr_png_iface INTERFACE PNG::PNG)
  add_library(qvr::png ALIAS qvr_png_iface)
endif()
