# The release: the project version in the DLL's resources, and the zip an
# integrator installs from (the DLL, our host program, the stream checker, the
# sample job, INSTALL.md and SHA256SUMS). scripts/package.sh copies the zip to
# dist/ once the tests have passed; the test below installs it from scratch.

# The version record and the dialog's version text come from the project version.
set(QVR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/resources/product_version.h.in ${QVR_GENERATED_DIR}/product_version.h @ONLY)
target_include_directories(QVR_PLUGIN_ZK-R41x0 PRIVATE ${QVR_GENERATED_DIR})
# windres reports no header dependencies: rebuild the resources when the version changes.
set_source_files_properties(${resource_files} PROPERTIES OBJECT_DEPENDS ${QVR_GENERATED_DIR}/product_version.h)

set(QVR_RELEASE_NAME qvr-plugin-zk-r41x0-${PROJECT_VERSION}-win64)
set(QVR_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(QVR_RELEASE_ZIP ${QVR_RELEASE_DIR}/${QVR_RELEASE_NAME}.zip)
configure_file(${PROJECT_SOURCE_DIR}/packaging/INSTALL.md.in ${QVR_GENERATED_DIR}/INSTALL.md @ONLY)

file(GLOB sample_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/samples/*)
add_custom_command(OUTPUT ${QVR_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND}
    -DZIP=${QVR_RELEASE_ZIP}
    -DSTAGE=${QVR_RELEASE_DIR}/stage
    -DDLL=$<TARGET_FILE:QVR_PLUGIN_ZK-R41x0>
    -DHOST=$<TARGET_FILE:qvr_host>
    -DSTREAMCHECK=$<TARGET_FILE:streamcheck>
    -DINSTALL_GUIDE=${QVR_GENERATED_DIR}/INSTALL.md
    -DSAMPLES=${PROJECT_SOURCE_DIR}/samples
    -P ${PROJECT_SOURCE_DIR}/cmake/MakeReleaseZip.cmake
  DEPENDS QVR_PLUGIN_ZK-R41x0 qvr_host streamcheck ${sample_files}
    ${QVR_GENERATED_DIR}/INSTALL.md ${PROJECT_SOURCE_DIR}/cmake/MakeReleaseZip.cmake
  COMMENT "Packing ${QVR_RELEASE_NAME}.zip"
  VERBATIM)
add_custom_target(release_zip ALL DEPENDS ${QVR_RELEASE_ZIP})

if(CMAKE_CROSSCOMPILING)
  # Installs the zip in a new Wine prefix of its own, as INSTALL.md tells a user to.
  add_test(NAME release_zip_installs
    COMMAND ${PROJECT_SOURCE_DIR}/tests/release/install_from_zip.sh ${QVR_RELEASE_ZIP} ${CMAKE_BINARY_DIR}/release-test)
  set_tests_properties(release_zip_installs PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT 900)
endif()
