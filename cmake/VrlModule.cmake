# One helper declares every framework module and every test executable the
# same way, so that the folders mirror each other: runtime/ builds vrl_runtime,
# tests/runtime/ builds runtime_tests.

include(GoogleTest)

# vrl_module(NAME [CONVERSION] SOURCES files... [DEPS targets...] [LIBS libraries...])
#
# CONVERSION: the module is clean under -Wconversion and keeps it so.
function(vrl_module name)
  cmake_parse_arguments(ARG "CONVERSION" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_library(vrl_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vrl_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(vrl_${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
  if(ARG_CONVERSION)
    vrl_set_warnings(vrl_${name} CONVERSION)
  else()
    vrl_set_warnings(vrl_${name})
  endif()
endfunction()

# vrl_test(NAME SOURCES files... [DEPS targets...] [ENV VAR=value...])
#
# CTest sees each test case on its own, named "NAME.Suite.Case", and runs it
# in a process of its own, so a failing or hanging case names itself and no
# case can lean on what an earlier one left behind. The cases are listed when
# CTest starts rather than after the link: listing runs the executable, and a
# sanitizer build must do that with the environment CTest is given (the leak
# suppressions), not the build's.
function(vrl_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENV" ${ARGN})
  add_executable(${name}_tests ${ARG_SOURCES})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} vrl_testmain GTest::gtest)
  vrl_set_warnings(${name}_tests)
  gtest_discover_tests(${name}_tests
    TEST_PREFIX "${name}."
    TEST_LIST ${name}_CASES
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS ${name})
  # The discovered cases take the environment from a second CTest script:
  # the properties handed to gtest_discover_tests lose the list separators,
  # so VAR=a;VAR2=b would arrive as two properties.
  if(ARG_ENV)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_tests_env.cmake")
    file(WRITE "${script}"
      "if(${name}_CASES)\n"
      "  set_tests_properties(\${${name}_CASES} PROPERTIES ENVIRONMENT [==[${ARG_ENV}]==])\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
