# Packs the release zip (cmake -P): copies the files into a clean folder, writes
# SHA256SUMS over every other file (in the format of `sha256sum -c`) and zips
# the folder's contents, without a top folder. Arguments: ZIP, STAGE, DLL, HOST,
# STREAMCHECK, INSTALL_GUIDE, HOST_BEHAVIOUR, SAMPLES; with OBJCOPY and SYMBOLS_ZIP the
# programs go in stripped, each with a debug link to its NAME.debug, and those
# debug files go in the symbols zip, packed the same way.
foreach(arg ZIP STAGE DLL HOST STREAMCHECK INSTALL_GUIDE HOST_BEHAVIOUR SAMPLES)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "MakeReleaseZip: ${arg} not given")
  endif()
endforeach()

function(run_or_fail what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "MakeReleaseZip: ${what} failed (${status})")
  endif()
endfunction()

# SHA256SUMS over the folder's files, then the zip of all of them.
function(pack stage zip)
  file(GLOB_RECURSE contents RELATIVE ${stage} ${stage}/*)
  list(SORT contents)
  set(sums "")
  foreach(entry IN LISTS contents)
    file(SHA256 ${stage}/${entry} hash)
    string(APPEND sums "${hash}  ${entry}\n")
  endforeach()
  file(WRITE ${stage}/SHA256SUMS "${sums}")
  list(APPEND contents SHA256SUMS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${contents}
    WORKING_DIRECTORY ${stage} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE ${zip})
    message(FATAL_ERROR "MakeReleaseZip: zipping ${zip} failed (${status})")
  endif()
endfunction()

set(symbols_stage ${STAGE}-symbols)
file(REMOVE_RECURSE ${STAGE} ${symbols_stage})
file(MAKE_DIRECTORY ${STAGE}/samples)
if(OBJCOPY AND SYMBOLS_ZIP)
  # No loader reads a linked program's symbol table or debug sections: both go,
  # and the debug file keeps them. The debug link holds that file's name and
  # checksum: a debugger finds it beside the program and takes it only when
  # the checksum matches.
  file(MAKE_DIRECTORY ${symbols_stage})
  foreach(program ${DLL} ${HOST} ${STREAMCHECK})
    get_filename_component(name ${program} NAME)
    set(symbols ${symbols_stage}/${name}.debug)
    run_or_fail("keeping the debug symbols of ${name}" ${OBJCOPY} --only-keep-debug ${program} ${symbols})
    run_or_fail("stripping ${name}" ${OBJCOPY} --strip-all --add-gnu-debuglink=${symbols} ${program} ${STAGE}/${name})
  endforeach()
else()
  file(COPY ${DLL} ${HOST} ${STREAMCHECK} DESTINATION ${STAGE})
endif()
file(COPY_FILE ${INSTALL_GUIDE} ${STAGE}/INSTALL.md)
file(COPY_FILE ${HOST_BEHAVIOUR} ${STAGE}/host-behaviour.md)
file(GLOB samples RELATIVE ${SAMPLES} ${SAMPLES}/*)
foreach(sample IN LISTS samples)
  file(COPY ${SAMPLES}/${sample} DESTINATION ${STAGE}/samples)
endforeach()

# Only this release's zips stay in the folder, so that the packaging script finds exactly one of each.
get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(GLOB old_zips ${zip_dir}/*.zip)
if(old_zips)
  file(REMOVE ${old_zips})
endif()
pack(${STAGE} ${ZIP})
if(OBJCOPY AND SYMBOLS_ZIP)
  pack(${symbols_stage} ${SYMBOLS_ZIP})
endif()
