# One helper declares every framework module and every test executable the
# same way, so that the folders mirror each other: runtime/ builds vrl_runtime,
# tests/runtime/ builds runtime_tests.

# vrl_module(NAME SOURCES files... [DEPS targets...] [LIBS libraries...])
function(vrl_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_library(vrl_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vrl_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(vrl_${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
endfunction()

# vrl_test(NAME SOURCES files... [DEPS targets...] [ENV VAR=value...])
function(vrl_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENV" ${ARGN})
  add_executable(${name}_tests ${ARG_SOURCES})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} vrl_testmain GTest::gtest)
  add_test(NAME ${name} COMMAND ${name}_tests)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300
                       ENVIRONMENT "${ARG_ENV}")
endfunction()
