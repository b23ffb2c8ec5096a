# Registers the test suites of a GoogleTest program with CTest: one CTest test per suite (all
# the tests of one fixture, or of one parameterised or typed instantiation), run together in a
# process of their own. Run after the program is built:
#   cmake -D TEST_PROGRAM=... -D CTEST_FILE=... -D FAIL_REGEX=... -D TIMEOUT=... -P WriteTestSuites.cmake

execute_process(COMMAND "${TEST_PROGRAM}" --gtest_list_tests
    OUTPUT_VARIABLE listing
    ERROR_VARIABLE errors
    RESULT_VARIABLE status
    TIMEOUT 60)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TEST_PROGRAM} could not list its tests (${status}):\n${listing}${errors}")
endif()

# The listing names each suite at the start of a line ("Suite." or "Prefix/Suite.  # TypeParam
# = ..."), followed by its tests, indented.
string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.( .*)?$")
        list(APPEND suites "${CMAKE_MATCH_1}")
    endif()
endforeach()

set(script "")
foreach(suite IN LISTS suites)
    string(APPEND script
        "add_test([==[${suite}]==] [==[${TEST_PROGRAM}]==] [==[--gtest_filter=${suite}.*]==])\n"
        "set_tests_properties([==[${suite}]==] PROPERTIES TIMEOUT ${TIMEOUT}"
        " FAIL_REGULAR_EXPRESSION [==[${FAIL_REGEX}]==])\n")
endforeach()
file(WRITE "${CTEST_FILE}" "${script}")
