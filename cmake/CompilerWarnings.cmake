# The framework's warnings, set per target and never globally, so a project
# that adds the framework with add_subdirectory keeps its own flags.
#
#   vrl_set_warnings(target [CONVERSION])
#
# CONVERSION adds -Wconversion, for the targets that are clean under it.
# Warnings become errors only when VRL_WERROR is ON (CI turns it on; a
# newer compiler's new warnings never break a user's build).
option(VRL_WERROR "Treat the framework's warnings as errors" OFF)

function(vrl_set_warnings target)
  cmake_parse_arguments(ARG "CONVERSION" "" "" ${ARGN})
  set(flags
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wsuggest-override -Wimplicit-fallthrough -Wold-style-cast)
  if(ARG_CONVERSION)
    list(APPEND flags -Wconversion)
  endif()
  if(VRL_WERROR)
    list(APPEND flags -Werror)
  endif()
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${flags}>)
endfunction()
