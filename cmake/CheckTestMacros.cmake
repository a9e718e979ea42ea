# Refuses Qt Test's verify, compare, try, fail and skip macros in the test
# tree. The suites run under GoogleTest, where those macros record their
# failure in Qt Test's own state, which nobody reads, and return from the
# test: it is reported passed and its later checks never run. Waits use
# ASSERT_EVENTUALLY from tests/support/Wait.h instead. Prints one line per
# file and use, and fails when there is any.
#
#   cmake -DROOT=<tests folder> -P cmake/CheckTestMacros.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "CheckTestMacros: ROOT must name the test folder to check")
endif()
file(REAL_PATH "${ROOT}" ROOT)

set(_macro "(^|[^A-Za-z0-9_])(QVERIFY|QCOMPARE|QTRY_|QFAIL|QSKIP|QEXPECT_FAIL)[A-Z0-9_]*[ \t]*\\(")
file(GLOB_RECURSE _files RELATIVE "${ROOT}" "${ROOT}/*.h" "${ROOT}/*.cpp")
list(SORT _files)
set(_problems 0)
foreach(_file IN LISTS _files)
  file(STRINGS "${ROOT}/${_file}" _uses REGEX "${_macro}")
  foreach(_use IN LISTS _uses)
    string(STRIP "${_use}" _use)
    message("Qt Test macro: ${_file}: ${_use}")
    math(EXPR _problems "${_problems} + 1")
  endforeach()
endforeach()
if(_problems GREATER 0)
  message(FATAL_ERROR "${_problems} use(s) of Qt Test's verify/compare macros under GoogleTest")
endif()
list(LENGTH _files _count)
message(STATUS "no Qt Test verify/compare macro in ${_count} test files")
