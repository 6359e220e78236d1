# Runs a Windows example host twice under Wine in a directory of its own,
# emptied first: the first run finds no medium and formats one, the second
# mounts what the first left. Fails when either run exits non-zero, or
# when the second run's output does not show the volume being mounted.
#
#   cmake -DWRAPPER=wine-run.sh -DPREFIX=build/wine -DPROGRAM=bin/x.exe
#         -DDIR=build/tests/windows/x -DMOUNTED=regex -P run_twice.cmake
cmake_minimum_required(VERSION 3.25)

foreach(var WRAPPER PREFIX PROGRAM DIR MOUNTED)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "run_twice: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
foreach(run 1 2)
  execute_process(COMMAND bash "${WRAPPER}" "${PREFIX}" "${PROGRAM}"
    WORKING_DIRECTORY "${DIR}" OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  message("---- run ${run} of ${PROGRAM} in ${DIR}:\n${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "run_twice: run ${run} exited with ${rc}")
  endif()
endforeach()
if(NOT out MATCHES "${MOUNTED}")
  message(FATAL_ERROR "run_twice: the second run did not mount the first run's volume (no match for '${MOUNTED}')")
endif()
