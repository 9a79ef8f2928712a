# Loaded into the top-level project by scripts/fuzz.sh (CMAKE_PROJECT_INCLUDE);
# the normal GCC build never reads this file. Every module is compiled with
# libFuzzer's coverage instrumentation, and the targets of Targets.cmake are
# declared after all module folders have been added. CMake loads the file
# after every project() call (the examples have their own): only the first
# counts.
include_guard(GLOBAL)
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "fuzz targets need clang (scripts/fuzz.sh sets it)")
endif()
add_compile_options(-fsanitize=fuzzer-no-link)
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
  CALL include ${CMAKE_SOURCE_DIR}/fuzz/Targets.cmake)
