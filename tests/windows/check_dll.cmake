# Checks of the built K2TPendant.dll: it exports exactly the host's and
# COM's names, undecorated; it imports only functions of Windows system DLLs
# reviewed as present in Windows XP SP3 (the C and C++ runtimes are linked
# in); its PE header asks for no newer Windows than XP; it is stripped, with
# its debug information in a separate file.
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

# Every imported function, reviewed as present in Windows XP SP3, the oldest
# system the host runs on: a DLL that imports one function XP lacks does
# not load there at all ("entry point not found"), and Wine, which exports
# them all, cannot show it. An import not listed here fails until someone
# has checked it against Microsoft's documentation and added it. Where it is
# not plain from the name, the note gives Microsoft's "minimum supported
# client". Calls that came with Vista or later are looked up at run time.
set(reviewed_imports
  # gdi32: the drawing calls of every Win32 version.
  gdi32!CreateDIBSection gdi32!DeleteObject gdi32!GetObjectW gdi32!GetTextExtentPoint32W gdi32!SelectObject
  # hid: "Available in Windows 2000 and later versions of Windows".
  hid!HidD_FreePreparsedData hid!HidD_GetAttributes hid!HidD_GetHidGuid hid!HidD_GetPreparsedData hid!HidP_GetCaps
  # kernel32: the calls of Windows NT 4 and 2000 ...
  kernel32!CloseHandle kernel32!CreateEventA kernel32!CreateEventW kernel32!CreateFileW kernel32!CreateSemaphoreA
  kernel32!DeleteCriticalSection kernel32!DeleteFileW kernel32!DuplicateHandle kernel32!EnterCriticalSection
  kernel32!FlushFileBuffers kernel32!FormatMessageW kernel32!FreeLibrary kernel32!GetCurrentProcess kernel32!GetCurrentProcessId
  kernel32!GetCurrentThread kernel32!GetCurrentThreadId kernel32!GetFileAttributesW
  kernel32!GetFileInformationByHandle kernel32!GetHandleInformation kernel32!GetLastError
  kernel32!GetModuleFileNameW kernel32!GetModuleHandleA kernel32!GetModuleHandleW kernel32!GetOverlappedResult
  kernel32!GetProcAddress kernel32!GetProcessAffinityMask kernel32!GetSystemTimeAsFileTime
  kernel32!GetThreadContext kernel32!GetThreadPriority kernel32!GetTickCount kernel32!GlobalLock
  kernel32!GlobalUnlock kernel32!InitializeCriticalSection kernel32!IsDBCSLeadByteEx kernel32!IsDebuggerPresent
  kernel32!LCMapStringW kernel32!LeaveCriticalSection kernel32!LoadLibraryA kernel32!LoadLibraryW
  kernel32!LocalFree kernel32!lstrcmpiW kernel32!MoveFileExW kernel32!MultiByteToWideChar kernel32!OpenProcess
  kernel32!OutputDebugStringA kernel32!QueryPerformanceCounter kernel32!QueryPerformanceFrequency
  kernel32!RaiseException kernel32!ReadFile kernel32!ReleaseSemaphore kernel32!ResetEvent kernel32!ResumeThread
  kernel32!SetEndOfFile kernel32!SetEvent kernel32!SetLastError kernel32!SetProcessAffinityMask kernel32!SetThreadContext
  kernel32!SetThreadPriority kernel32!Sleep kernel32!SuspendThread kernel32!TlsAlloc kernel32!TlsGetValue
  kernel32!TlsSetValue kernel32!TryEnterCriticalSection kernel32!VirtualProtect kernel32!VirtualQuery
  kernel32!WaitForMultipleObjects kernel32!WaitForSingleObject kernel32!WideCharToMultiByte kernel32!WriteFile
  # ... and those whose page names Windows XP as the minimum supported client.
  kernel32!AddVectoredExceptionHandler kernel32!RemoveVectoredExceptionHandler  # XP
  kernel32!CancelIo           # XP (the calling thread's transfers only; CancelIoEx is Vista)
  kernel32!GetFileSizeEx      # XP
  kernel32!IsProcessorFeaturePresent  # the call is older; its SSE2 answer (PF_XMMI64_...) is XP's
  kernel32!GetModuleHandleExW # XP
  kernel32!ReplaceFileW       # XP
  kernel32!SetFilePointerEx   # XP
  # msvcrt: the C runtime that Windows 2000 and XP ship, from Visual C++ 6.0.
  # Microsoft documents no floor per function for it; none of these is among
  # the exports added with Vista's msvcrt.dll (the _s functions, _except_handler4).
  msvcrt!__mb_cur_max msvcrt!__setusermatherr msvcrt!_amsg_exit msvcrt!_assert msvcrt!_beginthreadex
  msvcrt!_close msvcrt!_endthreadex msvcrt!_errno msvcrt!_initterm msvcrt!_iob msvcrt!_lock msvcrt!_read
  msvcrt!_setjmp3 msvcrt!_strdup msvcrt!_ultoa msvcrt!_unlock msvcrt!abort msvcrt!atoi msvcrt!calloc msvcrt!exit
  msvcrt!fprintf msvcrt!fputc msvcrt!fputs msvcrt!free msvcrt!fwrite msvcrt!localeconv msvcrt!longjmp
  msvcrt!malloc msvcrt!memchr msvcrt!memcmp msvcrt!memcpy msvcrt!memmove msvcrt!memset msvcrt!printf
  msvcrt!realloc msvcrt!setlocale msvcrt!strchr msvcrt!strcmp msvcrt!strerror msvcrt!strlen msvcrt!strncmp
  msvcrt!vfprintf msvcrt!wcslen
  # ole32, oleaut32: COM as Windows NT 4 with DCOM has it.
  ole32!CoCreateInstance ole32!CoInitializeEx ole32!CoUninitialize ole32!CreateStreamOnHGlobal
  ole32!GetHGlobalFromStream
  oleaut32!SysAllocStringLen oleaut32!SysFreeString oleaut32!SysStringLen oleaut32!VariantInit
  # setupapi: device interfaces, Windows 2000.
  setupapi!SetupDiDestroyDeviceInfoList setupapi!SetupDiEnumDeviceInterfaces setupapi!SetupDiGetClassDevsW
  setupapi!SetupDiGetDeviceInterfaceDetailW
  # user32: windows, dialogs and timers of every Win32 version ...
  user32!CreateWindowExW user32!DefWindowProcW user32!DestroyWindow user32!DialogBoxIndirectParamW
  user32!EndDialog user32!GetActiveWindow user32!GetClassInfoExW user32!GetClassNameW user32!GetClientRect
  user32!GetDC user32!GetDlgItem user32!GetSysColor user32!GetSystemMetrics user32!GetWindow
  user32!GetWindowLongW user32!GetWindowTextLengthW user32!GetWindowTextW user32!KillTimer user32!LoadImageW
  user32!MessageBoxA user32!MessageBoxW user32!RegisterClassExW user32!ReleaseDC user32!SendMessageW
  user32!SetTimer user32!SetWindowLongW user32!SetWindowTextW user32!UnregisterClassW user32!wsprintfW
  # ... and the device notices, whose pages name Windows XP.
  user32!RegisterDeviceNotificationW user32!UnregisterDeviceNotification
  # ws2_32: Winsock's start and end, in every Windows since 95.
  ws2_32!WSACleanup ws2_32!WSAStartup
)

# The import tables: "DLL Name: X", then one line per function (hint, name).
# A function imported by ordinal or a line not understood fails the check.
set(imports)
set(in_table FALSE)
set(dll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)\\.[dD][lL][lL]$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    set(in_table FALSE)
  elseif(dll AND line MATCHES "^\tvma: +Hint/Ord Member-Name")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+  ([A-Za-z_][A-Za-z0-9_@]*)$")
    list(APPEND imports "${dll}!${CMAKE_MATCH_1}")
  elseif(in_table AND line STREQUAL "")
    set(in_table FALSE)
  elseif(in_table)
    message(FATAL_ERROR "import line not understood (by ordinal?): '${line}'")
  endif()
endforeach()
if(NOT imports)
  message(FATAL_ERROR "no imports found in the dump")
endif()
set(not_reviewed)
foreach(import IN LISTS imports)
  if(NOT import IN_LIST reviewed_imports)
    list(APPEND not_reviewed "${import}")
  endif()
endforeach()
list(LENGTH imports import_count)
message(STATUS "exports: ${exports}")
message(STATUS "${import_count} imports: ${imports}")
if(not_reviewed)
  string(REPLACE ";" "\n  " not_reviewed "${not_reviewed}")
  message(FATAL_ERROR "imports not reviewed as present in Windows XP SP3:\n  ${not_reviewed}")
endif()

# The PE header's OS and subsystem versions: a DLL that asks for a newer
# Windows than XP (5.1) is refused by the loader.
foreach(field OSystem Subsystem)
  if(NOT dump MATCHES "Major${field}Version\t([0-9]+)\nMinor${field}Version\t([0-9]+)")
    message(FATAL_ERROR "${field} version not found in the dump")
  endif()
  if(CMAKE_MATCH_1 GREATER 5 OR (CMAKE_MATCH_1 EQUAL 5 AND CMAKE_MATCH_2 GREATER 1))
    message(FATAL_ERROR "${field} version ${CMAKE_MATCH_1}.${CMAKE_MATCH_2} is newer than XP's 5.1")
  endif()
endforeach()

# The file users download: stripped, its debug information in the file its
# debug link names.
execute_process(COMMAND ${OBJDUMP} -h ${DLL} OUTPUT_VARIABLE sections RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -h failed on ${DLL}")
endif()
if(sections MATCHES " (\\.debug_[a-z_]+) ")
  message(FATAL_ERROR "${DLL} carries debug information (${CMAKE_MATCH_1})")
endif()
if(NOT sections MATCHES " \\.gnu_debuglink ")
  message(FATAL_ERROR "${DLL} has no debug link")
endif()
if(NOT EXISTS "${DLL}.debug")
  message(FATAL_ERROR "${DLL}.debug, the debug information, is missing")
endif()
