# make docs: the API reference from the headers' interface comments (the
# `///` blocks), written to <build>/docs/html. Warnings are errors, so a
# broken comment cannot slip into the reference.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  return()
endif()

set(docs_inputs ${PROJECT_SOURCE_DIR}/README.md)
foreach(dir IN LISTS VRL_MODULE_DIRS)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt AND NOT dir STREQUAL "app")
    list(APPEND docs_inputs ${PROJECT_SOURCE_DIR}/${dir})
  endif()
endforeach()

set(DOXYGEN_PROJECT_NAME vrl)
set(DOXYGEN_PROJECT_NUMBER ${PROJECT_VERSION})
set(DOXYGEN_PROJECT_BRIEF "${PROJECT_DESCRIPTION}")
set(DOXYGEN_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/docs)
set(DOXYGEN_FILE_PATTERNS *.h)
set(DOXYGEN_RECURSIVE NO)  # each module folder is listed on its own
set(DOXYGEN_EXCLUDE_PATTERNS */testing/*)
set(DOXYGEN_USE_MDFILE_AS_MAINPAGE ${PROJECT_SOURCE_DIR}/README.md)
set(DOXYGEN_STRIP_FROM_PATH ${PROJECT_SOURCE_DIR})
set(DOXYGEN_STRIP_FROM_INC_PATH ${PROJECT_SOURCE_DIR})
set(DOXYGEN_EXTRACT_ALL YES)
set(DOXYGEN_EXTRACT_STATIC YES)
set(DOXYGEN_JAVADOC_AUTOBRIEF YES)
set(DOXYGEN_GENERATE_LATEX NO)
set(DOXYGEN_HAVE_DOT NO)
set(DOXYGEN_QUIET YES)
set(DOXYGEN_WARN_IF_UNDOCUMENTED NO)
set(DOXYGEN_WARN_AS_ERROR FAIL_ON_WARNINGS)
# The class macro opens a public section; the reference needs no more of it.
set(DOXYGEN_MACRO_EXPANSION YES)
set(DOXYGEN_EXPAND_ONLY_PREDEF YES)
set(DOXYGEN_PREDEFINED "VRL_CLASS(Name,Base)=public:")
doxygen_add_docs(docs ${docs_inputs} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference in ${PROJECT_BINARY_DIR}/docs/html")
