# Install script of the component matlab_release (matlab/CMakeLists.txt
# sets the MATLAB_RELEASE_* variables it reads): writes
# PREFIX/MATLAB_RELEASE_ZIP_NAME from the files the build installed into
# PREFIX, as its install manifest lists them, and MATLAB_RELEASE_STAGE/
# files.txt, which names the file of PREFIX (or of the build) that each
# entry of the zip copies.

cmake_policy(VERSION 3.25)

# --- the one list of what goes in --------------------------------------------
# Folders of the prefix whose plug-ins sit side by side at the top of the
# zip, each with the extension MATLAB loads on that platform, and what the
# README says each needs and which of MATLAB's interfaces for MEX files it
# binds (host/mex_host.h).
set(side_by_side linux win64 maca64 maci64)
set(extension_linux mexa64)
set(extension_win64 mexw64)
set(extension_maca64 mexmaca64)
set(extension_maci64 mexmaci64)
set(needs_linux "64-bit MATLAB R2008b or later; Linux on x86-64 with glibc 2.17 or later\n      (RHEL/CentOS 7, SLES 12, Debian 8, Ubuntu 14.04 and later)")
set(needs_win64 "64-bit MATLAB R2008b or later; 64-bit Windows Vista or later")
set(needs_maca64 "MATLAB R2023b or later, the native releases for Apple silicon; macOS 12\n      or later")
set(needs_maci64 "MATLAB R2008b or later for Intel Macs (also under Rosetta 2 on Apple\n      silicon); macOS 11 or later")
set(dimensions_700 "32-bit dimensions (the _700 functions)")
set(dimensions_730 "64-bit sizes (the _730 functions)")
set(interface_linux ${dimensions_700})
set(interface_win64 ${dimensions_700})
set(interface_maca64 ${dimensions_730})
set(interface_maci64 ${dimensions_730})
# The 32-bit Windows filter goes into a folder of its own, with its help
# file and licence, which 32-bit MATLAB users put on the path instead: a
# release that still takes .dll as a MEX extension must not find it beside
# the 64-bit plug-ins.
set(own_folder win32)
set(needs_win32 "32-bit MATLAB R2008b up to R2015b, the last 32-bit release; Windows (the\n      filter only)")
set(interface_win32 ${dimensions_700})
# The help files and the licence, once, from the Linux folder; every
# platform's folder carries the same ones.
set(shared_files linux/TARV_c.m linux/bandscore.m linux/COPYING)
# Not in the list: linux-arm64 (its plug-ins have the extension of the
# x86-64 Linux ones, and MATLAB has no release for Arm Linux), octave,
# host and host-tests.

# --- what the build installed ---------------------------------------------------
# The manifest names files by absolute paths; --prefix may be relative.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
if(NOT EXISTS "${MATLAB_RELEASE_MANIFEST}")
  message(FATAL_ERROR "No ${MATLAB_RELEASE_MANIFEST}: install the build into ${prefix} first")
endif()
file(STRINGS "${MATLAB_RELEASE_MANIFEST}" installed)

set(sources)    # PATH_IN_ZIP|SOURCE, one per file
set(platforms)  # folders that contributed plug-ins
foreach(file IN LISTS installed)
  string(FIND "${file}" "${prefix}/" at)
  if(NOT at EQUAL 0)
    continue()
  endif()
  file(RELATIVE_PATH path "${prefix}" "${file}")
  get_filename_component(name "${path}" NAME)
  get_filename_component(folder "${path}" DIRECTORY)
  set(target "")
  if(folder IN_LIST side_by_side AND name MATCHES "\\.${extension_${folder}}$")
    set(target "${name}")
    list(APPEND platforms ${folder})
  elseif(path IN_LIST shared_files)
    set(target "${name}")
  elseif(folder STREQUAL own_folder)
    set(target "${path}")
    list(APPEND platforms ${folder})
  endif()
  if(target)
    list(APPEND sources "${target}|${file}")
  endif()
endforeach()

foreach(path IN LISTS shared_files)
  if(NOT "${prefix}/${path}" IN_LIST installed)
    message(FATAL_ERROR "The MATLAB download needs ${path}, which the build did not install into ${prefix}")
  endif()
endforeach()
foreach(folder IN LISTS side_by_side own_folder)
  if(NOT folder IN_LIST platforms)
    message(FATAL_ERROR "The MATLAB download needs the ${folder} plug-ins, which the build did not install into ${prefix}")
  endif()
endforeach()

# --- the folder as it is zipped --------------------------------------------------
set(stage "${MATLAB_RELEASE_STAGE}/${MATLAB_RELEASE_NAME}")
file(REMOVE_RECURSE "${stage}")
set(listing "")
set(paths)
foreach(entry IN LISTS sources)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 target)
  list(GET entry 1 source)
  if(target IN_LIST paths)
    message(FATAL_ERROR "Two files for ${target} in the MATLAB download")
  endif()
  get_filename_component(folder "${stage}/${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${source}" "${stage}/${target}")
  list(APPEND paths "${target}")
  string(APPEND listing "${target}\t${source}\n")
endforeach()

# README.txt: which file each platform's MATLAB loads. Its lines end in
# CR LF, so that every Windows editor shows them as lines.
set(MATLAB_RELEASE_TITLE "TARV_c and bandscore ${MATLAB_RELEASE_VERSION} for MATLAB")
string(LENGTH "${MATLAB_RELEASE_TITLE}" title_length)
string(REPEAT "=" ${title_length} MATLAB_RELEASE_TITLE_RULE)
set(MATLAB_RELEASE_FILES "")
foreach(folder IN LISTS side_by_side own_folder)
  if(folder STREQUAL own_folder)
    set(files "${folder}/TARV_c.dll")
  else()
    set(files "TARV_c.${extension_${folder}}, bandscore.${extension_${folder}}")
  endif()
  string(APPEND MATLAB_RELEASE_FILES "  ${files}\n      ${needs_${folder}};\n"
    "      MATLAB's interface with ${interface_${folder}}\n")
endforeach()
configure_file("${MATLAB_RELEASE_README}" "${MATLAB_RELEASE_STAGE}/README.txt" @ONLY)
file(READ "${MATLAB_RELEASE_STAGE}/README.txt" readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE "${stage}/README.txt" "${readme}")
file(COPY_FILE "${MATLAB_RELEASE_CONTENTS}" "${stage}/Contents.m")
list(APPEND paths Contents.m README.txt)
string(APPEND listing "Contents.m\t${stage}/Contents.m\nREADME.txt\t${stage}/README.txt\n")
file(WRITE "${MATLAB_RELEASE_STAGE}/files.txt" "${listing}")

# --- the zip -----------------------------------------------------------------------
# Files in a fixed order, with a fixed time, permissions of their kind
# alone and without the extra fields that would record their owner and
# access times (zip -X), so that the zip depends on their contents only.
# zip writes local times: in UTC here.
if(NOT MATLAB_RELEASE_ZIP_PROGRAM)
  message(FATAL_ERROR "The MATLAB download needs the zip program (tools/setup.sh release installs it)")
endif()
list(SORT paths)
list(TRANSFORM paths PREPEND "${MATLAB_RELEASE_NAME}/")
foreach(path IN LISTS paths)
  set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(path MATCHES "\\.(mex[a-z0-9]+|dll)$")
    list(APPEND permissions OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  endif()
  file(CHMOD "${MATLAB_RELEASE_STAGE}/${path}" PERMISSIONS ${permissions})
  execute_process(COMMAND touch -d "${MATLAB_RELEASE_DATE} 00:00:00 UTC" "${path}"
    WORKING_DIRECTORY "${MATLAB_RELEASE_STAGE}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
string(REPLACE ";" "\n" file_list "${paths}")
file(WRITE "${MATLAB_RELEASE_STAGE}/zip-order.txt" "${file_list}\n")
set(zip "${prefix}/${MATLAB_RELEASE_ZIP_NAME}")
message(STATUS "Installing: ${zip}")
file(REMOVE "${zip}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC "${MATLAB_RELEASE_ZIP_PROGRAM}" -q -X -D "${zip}" -@
  INPUT_FILE "${MATLAB_RELEASE_STAGE}/zip-order.txt"
  WORKING_DIRECTORY "${MATLAB_RELEASE_STAGE}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Writing ${zip} failed (${status})")
endif()
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zip}")
