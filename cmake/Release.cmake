# The release: the project version in the DLL's resources.

# The version record and the dialog's version text come from the project version.
set(QVR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/resources/product_version.h.in ${QVR_GENERATED_DIR}/product_version.h @ONLY)
target_include_directories(QVR_PLUGIN_ZK-R41x0 PRIVATE ${QVR_GENERATED_DIR})
# windres reports no header dependencies: rebuild the resources when the version changes.
set_source_files_properties(${resource_files} PROPERTIES OBJECT_DEPENDS ${QVR_GENERATED_DIR}/product_version.h)
