# Writes a small test tree with planted uses of Qt Test's verify and compare
# macros beside allowed look-alikes, runs the macro checker on it, and fails
# unless the checker fails reporting the planted lines, each once, by file.
# The tree is written at run time, so that the real test tree never holds the
# macros.
#
#   cmake -DCHECKER=<cmake/CheckTestMacros.cmake> -DWORK=<scratch folder> -P tests/layering/CheckMacroFixture.cmake
cmake_minimum_required(VERSION 3.25)

set(_root "${WORK}/macro-fixture")
file(REMOVE_RECURSE "${_root}")
set(_wait [=[
TEST(Wait, planted)
{
    @Q@TRY_VERIFY_WITH_TIMEOUT(done(), 200);
    @Q@VERIFY(1 + 1 == 2);
    ASSERT_EVENTUALLY(done(), 200);
    EXPECT_TRUE(QTest::qWaitFor([] { return done(); }, 200));
    // A comment may name @Q@COMPARE without calling it.
    int MYQVERIFY(int);
}
]=])
set(_helpers [=[
#define CHECK_TWICE(a, b) @Q@COMPARE (a, b); @Q@TRY_COMPARE(a, b)
inline void skip() { @Q@SKIP("later"); }
]=])
# The macros' leading Q is put in only here, so that this file names none.
foreach(_text _wait _helpers)
  string(REPLACE "@Q@" "Q" ${_text} "${${_text}}")
endforeach()
file(WRITE "${_root}/ui/WaitTest.cpp" "${_wait}")
file(WRITE "${_root}/support/Helpers.h" "${_helpers}")
# One report per planted line, named by its file.
set(_expected support/Helpers.h support/Helpers.h ui/WaitTest.cpp ui/WaitTest.cpp)

execute_process(COMMAND "${CMAKE_COMMAND}" -DROOT=${_root} -P "${CHECKER}"
                RESULT_VARIABLE _status OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
string(REPLACE "\n" ";" _reportLines "${_out}${_err}")
set(_reported "")
foreach(_line IN LISTS _reportLines)
  if(_line MATCHES "^Qt Test macro: ([^:]+):")
    list(APPEND _reported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT _expected)
list(SORT _reported)
if(_status EQUAL 0)
  message(FATAL_ERROR "the checker passed a tree with planted macros:\n${_out}${_err}")
endif()
if(NOT _expected STREQUAL _reported)
  string(REPLACE ";" "\n  " _e "${_expected}")
  string(REPLACE ";" "\n  " _r "${_reported}")
  message(FATAL_ERROR "expected:\n  ${_e}\nreported:\n  ${_r}\nchecker output:\n${_out}${_err}")
endif()
message(STATUS "the checker failed the fixture with exactly its planted macros")
