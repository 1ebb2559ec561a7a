# Packs the release zip (cmake -P): copies the files into a clean folder, writes
# SHA256SUMS over every other file (in the format of `sha256sum -c`) and zips
# the folder's contents, without a top folder. Arguments: ZIP, STAGE, DLL, HOST,
# STREAMCHECK, INSTALL_GUIDE, SAMPLES.
foreach(arg ZIP STAGE DLL HOST STREAMCHECK INSTALL_GUIDE SAMPLES)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "MakeReleaseZip: ${arg} not given")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/samples)
file(COPY ${DLL} ${HOST} ${STREAMCHECK} DESTINATION ${STAGE})
file(COPY_FILE ${INSTALL_GUIDE} ${STAGE}/INSTALL.md)
file(GLOB samples RELATIVE ${SAMPLES} ${SAMPLES}/*)
foreach(sample IN LISTS samples)
  file(COPY ${SAMPLES}/${sample} DESTINATION ${STAGE}/samples)
endforeach()

file(GLOB_RECURSE contents RELATIVE ${STAGE} ${STAGE}/*)
list(SORT contents)
set(sums "")
foreach(entry IN LISTS contents)
  file(SHA256 ${STAGE}/${entry} hash)
  string(APPEND sums "${hash}  ${entry}\n")
endforeach()
file(WRITE ${STAGE}/SHA256SUMS "${sums}")
list(APPEND contents SHA256SUMS)

# Only this release's zip stays in the folder, so that the packaging script finds exactly one.
get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(GLOB old_zips ${zip_dir}/*.zip)
if(old_zips)
  file(REMOVE ${old_zips})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${contents}
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${ZIP})
  message(FATAL_ERROR "MakeReleaseZip: zipping failed (${status})")
endif()
