# One helper declares every framework module and every test executable the
# same way, so that the folders mirror each other: runtime/ builds vrl_runtime,
# tests/runtime/ builds runtime_tests.

include(GNUInstallDirs)
include(GoogleTest)

# vrl_module(NAME [CONVERSION] [INTERNAL] SOURCES files... [DEPS targets...]
#            [LIBS libraries...])
#
# Builds the static library vrl_NAME, also known as vrl::NAME. Its folder's
# headers are installed under include/vrl/<folder>/, so that programs include
# them as the tree does ("stream/Stream.h") with include/vrl on their path,
# and the library joins the exported set (vrlTargets) and the umbrella
# target vrl::vrl.
#
# CONVERSION: the module is clean under -Wconversion and keeps it so.
# INTERNAL: a library for this tree only (test helpers, the card): it is
# neither installed nor exported.
function(vrl_module name)
  cmake_parse_arguments(ARG "CONVERSION;INTERNAL" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_library(vrl_${name} STATIC ${ARG_SOURCES})
  add_library(vrl::${name} ALIAS vrl_${name})
  set_target_properties(vrl_${name} PROPERTIES EXPORT_NAME ${name})
  target_include_directories(vrl_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vrl>)
  target_link_libraries(vrl_${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
  if(ARG_CONVERSION)
    vrl_set_warnings(vrl_${name} CONVERSION)
  else()
    vrl_set_warnings(vrl_${name})
  endif()
  if(ARG_INTERNAL)
    return()
  endif()
  install(TARGETS vrl_${name} EXPORT vrlTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vrl/${folder}
    COMPONENT devel)
  set_property(GLOBAL APPEND PROPERTY VRL_EXPORTED_MODULES vrl_${name})
endfunction()

# vrl_find_package(NAME [PKGCONFIG names...] [args...])
# vrl_pkg_check_modules(PREFIX modules...)
#
# Find a library that a module links, and remember how, so that the
# installed package finds it again for the programs built against it: the
# generated vrlConfig.cmake repeats the call, and vrl.pc requires the
# pkg-config names (PKGCONFIG for packages found through CMake's modules).
macro(vrl_find_package name)
  cmake_parse_arguments(_vrl_find "" "" "PKGCONFIG" ${ARGN})
  find_package(${name} REQUIRED ${_vrl_find_UNPARSED_ARGUMENTS})
  list(REMOVE_ITEM _vrl_find_UNPARSED_ARGUMENTS GLOBAL)
  string(JOIN " " _vrl_find_args ${name} ${_vrl_find_UNPARSED_ARGUMENTS})
  set_property(GLOBAL APPEND PROPERTY VRL_CONFIG_DEPENDENCIES
    "find_dependency(${_vrl_find_args})")
  set_property(GLOBAL APPEND PROPERTY VRL_PKGCONFIG_REQUIRES ${_vrl_find_PKGCONFIG})
endmacro()

macro(vrl_pkg_check_modules prefix)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET GLOBAL ${ARGN})
  string(JOIN " " _vrl_pkg_modules ${ARGN})
  set_property(GLOBAL APPEND PROPERTY VRL_CONFIG_DEPENDENCIES
    "find_dependency(PkgConfig)"
    "pkg_check_modules(${prefix} REQUIRED QUIET IMPORTED_TARGET ${_vrl_pkg_modules})")
  set_property(GLOBAL APPEND PROPERTY VRL_PKGCONFIG_REQUIRES ${ARGN})
endmacro()

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
