# The names a Windows DLL exports, compared with the expected list:
#
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DDLL=bin/cardfs.dll
#         -DEXPECTED=tests/windows/exports.txt -P check_exports.cmake
#
# EXPECTED holds one name a line; blank lines and lines starting with '#'
# are ignored. Fails, naming them, on every name missing from the DLL and
# every name the DLL exports beyond the list (a C++ or decorated name
# included). Also fails when the DLL exports by ordinal only, or forwards a
# name to another DLL.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DLL EXPECTED)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_exports: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "check_exports: ${DLL} does not exist")
endif()

file(STRINGS "${EXPECTED}" expected_lines)
set(expected)
foreach(line IN LISTS expected_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  list(APPEND expected "${line}")
endforeach()
list(LENGTH expected expected_count)
list(REMOVE_DUPLICATES expected)
list(LENGTH expected unique_count)
if(NOT expected_count EQUAL unique_count)
  message(FATAL_ERROR "check_exports: ${EXPECTED} names a function twice")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE dump_error RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_exports: ${OBJDUMP} -p ${DLL} failed (${rc}): ${dump_error}")
endif()

# objdump -p prints the export directory, then one line per name:
#   [Ordinal/Name Pointer] Table
#   	[   0] BuildFileName
string(REPLACE "\r" "" dump "${dump}")
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(in_table FALSE)
set(seen_table FALSE)
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_table TRUE)
    set(seen_table TRUE)
    continue()
  endif()
  if(in_table)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND exported "${CMAKE_MATCH_1}")
    else()
      set(in_table FALSE)
    endif()
  endif()
  if(line MATCHES "Forwarder RVA")
    message(SEND_ERROR "check_exports: ${DLL} forwards an export: ${line}")
  endif()
endforeach()
if(NOT seen_table)
  message(FATAL_ERROR "check_exports: ${DLL} exports no names at all")
endif()

set(missing ${expected})
if(exported)
  list(REMOVE_ITEM missing ${exported})
endif()
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
list(LENGTH exported exported_count)

set(ok TRUE)
foreach(name IN LISTS missing)
  message("missing: ${name}")
  set(ok FALSE)
endforeach()
foreach(name IN LISTS extra)
  message("extra:   ${name}")
  set(ok FALSE)
endforeach()
if(NOT ok)
  message(FATAL_ERROR "check_exports: the names ${DLL} exports differ from ${EXPECTED}")
endif()
message("check_exports: ${DLL} exports exactly the ${unique_count} names of ${EXPECTED}")
