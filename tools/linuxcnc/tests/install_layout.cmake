# cmake --install into a scratch prefix, then the installed bridge must name
# the installed module as its default (found relative to itself), and the man
# page and the sample configuration must be there.
#   -DBUILD=<build dir> -DPREFIX=<scratch prefix> -DMODULEDIR= -DMANDIR= -DEXAMPLESDIR=
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
foreach(file bin/k2t-linuxcnc ${MODULEDIR}/K2TPendant.so ${MANDIR}/man1/k2t-linuxcnc.1.gz
        ${EXAMPLESDIR}/k2t-sim.ini ${EXAMPLESDIR}/k2t-postgui.hal)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/k2t-linuxcnc" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
string(REGEX MATCH "else\n *([^\n]+)\\)\n" found "${help}")
if(NOT rc EQUAL 0 OR NOT found)
  message(FATAL_ERROR "the installed bridge's --help names no default module:\n${help}")
endif()
file(REAL_PATH "${CMAKE_MATCH_1}" module)
file(REAL_PATH "${PREFIX}/${MODULEDIR}/K2TPendant.so" installed)
if(NOT module STREQUAL installed)
  message(FATAL_ERROR "the installed bridge loads ${module}, not the installed module ${installed}")
endif()
message(STATUS "the installed bridge loads ${module}")
