# Runs the layering checker on the fixture tree beside this file and fails
# unless the checker fails, reporting exactly the planted faults: every include
# line marked "// upward" and every file opening with "// no layer", nothing
# else. The tree holds allowed includes too (down, within a layer, distribution on
# scholar, relative to the file's folder), which must pass unreported.
#
#   cmake -DCHECKER=<cmake/CheckLayers.cmake> -P tests/layering/CheckFixture.cmake
cmake_minimum_required(VERSION 3.25)
set(_root "${CMAKE_CURRENT_LIST_DIR}/src")

file(GLOB_RECURSE _files RELATIVE "${_root}" "${_root}/*.h" "${_root}/*.cpp")
set(_expected "")
foreach(_file IN LISTS _files)
  file(STRINGS "${_root}/${_file}" _lines)
  list(GET _lines 0 _first)
  if(_first MATCHES "^// no layer")
    list(APPEND _expected "no layer: ${_file}")
  endif()
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "include[ \t]*\"([^\"]+)\"[ \t]*// upward")
      list(APPEND _expected "upward: ${_file} -> ${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()

execute_process(COMMAND "${CMAKE_COMMAND}" -DROOT=${_root} -P "${CHECKER}"
                RESULT_VARIABLE _status OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
string(REPLACE "\n" ";" _reportLines "${_out}${_err}")
set(_reported "")
foreach(_line IN LISTS _reportLines)
  if(_line MATCHES "^upward include: ([^ ]+) includes \"([^\"]+)\"")
    list(APPEND _reported "upward: ${CMAKE_MATCH_1} -> ${CMAKE_MATCH_2}")
  elseif(_line MATCHES "^no layer: (.+)$")
    list(APPEND _reported "no layer: ${CMAKE_MATCH_1}")
  endif()
endforeach()

list(SORT _expected)
list(SORT _reported)
list(LENGTH _expected _count)
if(_status EQUAL 0)
  message(FATAL_ERROR "the checker passed a tree with ${_count} planted faults:\n${_out}${_err}")
endif()
if(NOT _expected STREQUAL _reported)
  string(REPLACE ";" "\n  " _e "${_expected}")
  string(REPLACE ";" "\n  " _r "${_reported}")
  message(FATAL_ERROR "expected:\n  ${_e}\nreported:\n  ${_r}\nchecker output:\n${_out}${_err}")
endif()
message(STATUS "the checker failed the fixture with exactly its ${_count} planted faults")
