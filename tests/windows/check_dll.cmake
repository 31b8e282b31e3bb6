# Checks of the built K2TPendant.dll: it exports exactly the host's and
# COM's names, undecorated, and imports from Windows system DLLs only (the
# C and C++ runtimes are linked in).
#   cmake -DOBJDUMP=<objdump> -DDLL=<K2TPendant.dll> -P check_dll.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
string(REPLACE "\n" ";" lines "${dump}")

set(exports)
set(imports)
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  else()
    set(in_names FALSE)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND imports "${dll}")
  endif()
endforeach()

set(expected
  Config DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer DoDwell Home
  InitControl JogOff JogOn PostInitControl Probe Purge Reset SetCode SetDoButton SetGetDRO SetGetLED
  SetProName SetSetDRO SetSetLED StopPlug Update)
list(SORT exports)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports differ:\n  found    ${exports}\n  expected ${expected}")
endif()
foreach(name IN LISTS exports)
  if(name MATCHES "[@?]" OR name MATCHES "^_")
    message(FATAL_ERROR "decorated export: ${name}")
  endif()
endforeach()

set(system_dlls kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll oleaut32.dll setupapi.dll
  hid.dll ws2_32.dll comctl32.dll msvcrt.dll)
if(NOT imports)
  message(FATAL_ERROR "no imports found in the dump")
endif()
foreach(dll IN LISTS imports)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "imports from ${dll}, which is not part of Windows")
  endif()
endforeach()
message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
