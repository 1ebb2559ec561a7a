# The release: the project version in the DLL's resources, the zip an
# integrator installs from (the DLL, our host program, the stream checker, the
# sample job, INSTALL.md and SHA256SUMS) and, from mingw-w64 builds, the zip of
# the programs' debug symbols beside it (the programs in the first zip are
# stripped). scripts/package.sh copies both to dist/ once the tests have
# passed; the test below installs the first from scratch and reads the second.

# The version record and the dialog's version text come from the project version.
set(QVR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/resources/product_version.h.in ${QVR_GENERATED_DIR}/product_version.h @ONLY)
target_include_directories(QVR_PLUGIN_ZK-R41x0 PRIVATE ${QVR_GENERATED_DIR})
# windres reports no header dependencies: rebuild the resources when the version changes.
set_source_files_properties(${resource_files} PROPERTIES OBJECT_DEPENDS ${QVR_GENERATED_DIR}/product_version.h)

set(QVR_RELEASE_NAME qvr-plugin-zk-r41x0-${PROJECT_VERSION}-win64)
set(QVR_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(QVR_RELEASE_ZIP ${QVR_RELEASE_DIR}/${QVR_RELEASE_NAME}.zip)
set(release_outputs ${QVR_RELEASE_ZIP})
set(symbols_arguments)
if(MINGW)
  # MSVC keeps its symbols in .pdb files already; mingw-w64 puts them in the programs.
  find_program(QVR_OBJCOPY NAMES x86_64-w64-mingw32-objcopy REQUIRED)
  set(QVR_RELEASE_SYMBOLS_ZIP ${QVR_RELEASE_DIR}/${QVR_RELEASE_NAME}-symbols.zip)
  list(APPEND release_outputs ${QVR_RELEASE_SYMBOLS_ZIP})
  set(symbols_arguments -DOBJCOPY=${QVR_OBJCOPY} -DSYMBOLS_ZIP=${QVR_RELEASE_SYMBOLS_ZIP})
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/INSTALL.md.in ${QVR_GENERATED_DIR}/INSTALL.md @ONLY)

file(GLOB sample_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/samples/*)
add_custom_command(OUTPUT ${release_outputs}
  COMMAND ${CMAKE_COMMAND}
    -DZIP=${QVR_RELEASE_ZIP}
    ${symbols_arguments}
    -DSTAGE=${QVR_RELEASE_DIR}/stage
    -DDLL=$<TARGET_FILE:QVR_PLUGIN_ZK-R41x0>
    -DHOST=$<TARGET_FILE:qvr_host>
    -DSTREAMCHECK=$<TARGET_FILE:streamcheck>
    -DINSTALL_GUIDE=${QVR_GENERATED_DIR}/INSTALL.md
    -DHOST_BEHAVIOUR=${PROJECT_SOURCE_DIR}/docs/host-behaviour.md
    -DSAMPLES=${PROJECT_SOURCE_DIR}/samples
    -P ${PROJECT_SOURCE_DIR}/cmake/MakeReleaseZip.cmake
  DEPENDS QVR_PLUGIN_ZK-R41x0 qvr_host streamcheck ${sample_files}
    ${QVR_GENERATED_DIR}/INSTALL.md ${PROJECT_SOURCE_DIR}/docs/host-behaviour.md ${PROJECT_SOURCE_DIR}/cmake/MakeReleaseZip.cmake
  COMMENT "Packing ${QVR_RELEASE_NAME}.zip"
  VERBATIM)
add_custom_target(release_zip ALL DEPENDS ${release_outputs})

if(CMAKE_CROSSCOMPILING AND BUILD_TESTING)
  # Installs the zip in a new Wine prefix of its own, as INSTALL.md tells a user to.
  add_test(NAME release_zip_installs
    COMMAND ${PROJECT_SOURCE_DIR}/tests/release/install_from_zip.sh ${QVR_RELEASE_ZIP} ${CMAKE_BINARY_DIR}/release-test)
  set_tests_properties(release_zip_installs PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT 900)
endif()
