# The Windows release: OUT/k2t-pendant-VERSION-windows-x86.zip with the
# stripped DLL, README-Windows.txt, LICENSE.txt, the notices of the runtime
# libraries linked into the DLL and SHA256SUMS; beside it the zip of the
# DLL's debug file.
#   cmake -DDLL=K2TPendant.dll -DDEBUG_FILE=<its debug file> -DMAP=<link map>
#         -DOBJDUMP=<objdump> -DVERSION=x.y.z -DRELEASE_DATE=YYYY-MM-DD
#         -DSOURCE_DIR=<project> -DBUILD_DIR=<build folder> -DOUT=<folder>
#         -P make_zip.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var DLL DEBUG_FILE MAP OBJDUMP VERSION RELEASE_DATE SOURCE_DIR BUILD_DIR OUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "make_zip.cmake needs -D${var}=...")
  endif()
endforeach()
set(here ${CMAKE_CURRENT_LIST_DIR})

function(sections file out)
  execute_process(COMMAND ${OBJDUMP} -h ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${file}")
  endif()
  string(REGEX MATCHALL "\n +[0-9]+ +[.][A-Za-z0-9_.]+" found "${dump}")
  list(TRANSFORM found REPLACE "^\n +[0-9]+ +" "")
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# What users get is the stripped DLL; its debug information is in the file
# its debug link names, which goes into the other zip.
sections(${DLL} dll_sections)
if(dll_sections MATCHES "(^|;)[.]debug_")
  message(FATAL_ERROR "${DLL} still has its debug information")
endif()
if(NOT ".gnu_debuglink" IN_LIST dll_sections)
  message(FATAL_ERROR "${DLL} has no debug link")
endif()
sections(${DEBUG_FILE} debug_sections)
if(NOT ".debug_info" IN_LIST debug_sections)
  message(FATAL_ERROR "${DEBUG_FILE} holds no debug information")
endif()

# The notices: one for each runtime library the linker took code from,
# found through the Debian package that installed it. A library from any
# other package stops the release until its notice is added here.
file(STRINGS ${MAP} map_lines)
set(linked)
foreach(line IN LISTS map_lines)
  # Archives the linker took a member from, and objects it loaded whole.
  set(file "")
  if(line MATCHES "^(/[^()]+[.]a)[(]")
    set(file "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^LOAD (/[^ ]+[.]o)$")
    set(file "${CMAKE_MATCH_1}")
  endif()
  if(file)
    get_filename_component(file "${file}" REALPATH)
    list(APPEND linked ${file})
  endif()
endforeach()
list(REMOVE_DUPLICATES linked)
get_filename_component(build_dir ${BUILD_DIR} REALPATH)
list(FILTER linked EXCLUDE REGEX "^${build_dir}/")
if(NOT linked)
  message(FATAL_ERROR "${MAP} names no runtime library: not a link map?")
endif()
execute_process(COMMAND dpkg-query -S ${linked} OUTPUT_VARIABLE owners ERROR_QUIET)
string(REPLACE "\n" ";" owners "${owners}")
set(notices)
foreach(file IN LISTS linked)
  set(owner "")
  foreach(entry IN LISTS owners)
    if(entry MATCHES "^([^:]+): (.+)$" AND CMAKE_MATCH_2 STREQUAL file)
      set(owner ${CMAKE_MATCH_1})
    endif()
  endforeach()
  get_filename_component(name ${file} NAME)
  if(name MATCHES "^lib(win)?pthread[.]a$" AND owner STREQUAL "mingw-w64-i686-dev")
    list(APPEND notices winpthreads)
  elseif(owner MATCHES "^(gcc|g[+][+])-mingw-w64-i686")
    list(APPEND notices gcc-runtime)
  elseif(owner STREQUAL "mingw-w64-i686-dev")
    list(APPEND notices mingw-w64-runtime)
  elseif(owner STREQUAL "")
    message(FATAL_ERROR "${file} is linked into the DLL, and no Debian package installed it: whose is it?")
  else()
    message(FATAL_ERROR "${file} (from the package ${owner}) is linked into the DLL, and there is no notice for it")
  endif()
endforeach()
list(REMOVE_DUPLICATES notices)
list(SORT notices)

set(name k2t-pendant-${VERSION}-windows-x86)
set(stage ${OUT}/${name}.stage)
file(REMOVE_RECURSE ${stage} ${OUT}/${name}.zip ${OUT}/${name}-debug.zip)
file(MAKE_DIRECTORY ${stage}/zip ${stage}/debug)

# Text files with Windows line ends: Notepad before Windows 10 shows LF-only
# text as one line.
function(windows_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()

set(PROJECT_VERSION ${VERSION})
configure_file(${here}/README-Windows.txt.in ${stage}/README.in @ONLY)
windows_text(${stage}/README.in ${stage}/zip/README-Windows.txt)
file(REMOVE ${stage}/README.in)
windows_text(${SOURCE_DIR}/LICENSE ${stage}/zip/LICENSE.txt)
set(files K2TPendant.dll README-Windows.txt LICENSE.txt)
foreach(notice IN LISTS notices)
  windows_text(${here}/notices/${notice}.txt ${stage}/zip/NOTICE-${notice}.txt)
  list(APPEND files NOTICE-${notice}.txt)
endforeach()
file(COPY_FILE ${DLL} ${stage}/zip/K2TPendant.dll)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${stage}/zip/${file} sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${stage}/zip/SHA256SUMS "${sums}")
list(APPEND files SHA256SUMS)

get_filename_component(debug_name ${DEBUG_FILE} NAME)
file(COPY_FILE ${DEBUG_FILE} ${stage}/debug/${debug_name})

# The same inputs give the same zips: every file is dated the release's day
# (in UTC, as zip writes local times) with fixed permissions, and zip leaves
# out the Unix extra fields, whose access and change times no one can fix.
find_program(ZIP zip REQUIRED)
foreach(zip "${name}.zip;zip;${files}" "${name}-debug.zip;debug;${debug_name}")
  list(POP_FRONT zip zip_name folder)
  foreach(file IN LISTS zip)
    file(CHMOD ${stage}/${folder}/${file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC touch -d "${RELEASE_DATE} 00:00:00" ${zip}
    WORKING_DIRECTORY ${stage}/${folder} RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -q -X -D ${OUT}/${zip_name} ${zip}
      WORKING_DIRECTORY ${stage}/${folder} RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "cannot write ${OUT}/${zip_name}")
  endif()
endforeach()
file(REMOVE_RECURSE ${stage})
list(JOIN notices ", " said)
message(STATUS "${name}.zip: the DLL with the notices of ${said}; ${name}-debug.zip: ${debug_name}")
