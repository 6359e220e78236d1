# The DLLs that the Windows programs and DLLs of a build import:
#
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DDIR=build-windows/bin
#         -P check_imports.cmake
#
# Every .dll and .exe in DIR may import only DLLs that lie beside it in DIR
# or that come with Windows (KERNEL32, msvcrt, ...): no DLL of the compiler
# (libstdc++, libgcc_s, libwinpthread). cardfs.dll must import kvwin32.dll,
# as it imports the vendor's card-programmer library where one is installed.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_imports: ${var} is not set")
  endif()
endforeach()

set(system_dlls kernel32.dll msvcrt.dll user32.dll advapi32.dll ucrtbase.dll)
file(GLOB binaries "${DIR}/*.dll" "${DIR}/*.exe")
file(GLOB shipped RELATIVE "${DIR}" "${DIR}/*.dll")
string(TOLOWER "${shipped}" shipped)
if(NOT binaries)
  message(FATAL_ERROR "check_imports: no .dll or .exe in ${DIR}")
endif()

set(ok TRUE)
set(cardfs_seen FALSE)
foreach(binary IN LISTS binaries)
  get_filename_component(name "${binary}" NAME)
  execute_process(COMMAND "${OBJDUMP}" -p "${binary}"
    OUTPUT_VARIABLE dump ERROR_VARIABLE dump_error RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check_imports: ${OBJDUMP} -p ${binary} failed (${rc}): ${dump_error}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" found "${dump}")
  set(imports)
  foreach(entry IN LISTS found)
    string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    list(APPEND imports "${dll}")
    if(dll IN_LIST shipped OR dll IN_LIST system_dlls OR dll MATCHES "^api-ms-win-")
      continue()
    endif()
    message("${name} imports ${dll}, which is neither beside it nor part of Windows")
    set(ok FALSE)
  endforeach()
  list(JOIN imports ", " import_text)
  message("${name}: ${import_text}")
  string(TOLOWER "${name}" lower_name)
  if(lower_name STREQUAL "cardfs.dll")
    set(cardfs_seen TRUE)
    if(NOT "kvwin32.dll" IN_LIST imports)
      message("cardfs.dll does not import kvwin32.dll")
      set(ok FALSE)
    endif()
  endif()
endforeach()
if(NOT cardfs_seen)
  message("no cardfs.dll in ${DIR}")
  set(ok FALSE)
endif()
if(NOT ok)
  message(FATAL_ERROR "check_imports: wrong imports in ${DIR}")
endif()
