# The fuzz targets, one per parser, declared in two ways from the same
# sources:
# - in the clang build of scripts/fuzz.sh (through Fuzz.cmake, once every
#   module folder has been added): NAME_fuzzer, a libFuzzer program;
# - in every normal build (through tests/fuzz/, VRL_FUZZ_REPLAY set):
#   NAME_replay, the same target under the small main of Replay.cpp, and the
#   test fuzz.NAME, which replays the committed seed corpus corpus/NAME/ and
#   the inputs of past findings in regressions/NAME/.
# A target whose libraries this build does not have is left out.
set(VRL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

function(vrl_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;DEFINES" ${ARGN})
  foreach(dep IN LISTS ARG_DEPS)
    if(NOT TARGET ${dep})
      return()
    endif()
  endforeach()
  list(TRANSFORM ARG_SOURCES PREPEND ${VRL_FUZZ_DIR}/)
  if(VRL_FUZZ_REPLAY)
    set(exe ${name}_replay)
    add_executable(${exe} ${ARG_SOURCES} ${VRL_FUZZ_DIR}/Replay.cpp)
  else()
    set(exe ${name}_fuzzer)
    add_executable(${exe} ${ARG_SOURCES})
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
  endif()
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS})
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR})
  if(ARG_DEFINES)
    target_compile_definitions(${exe} PRIVATE ${ARG_DEFINES})
  endif()
  vrl_set_warnings(${exe})
  if(VRL_FUZZ_REPLAY)
    set(dirs ${VRL_FUZZ_DIR}/corpus/${name})
    if(EXISTS ${VRL_FUZZ_DIR}/regressions/${name})
      list(APPEND dirs ${VRL_FUZZ_DIR}/regressions/${name})
    endif()
    add_test(NAME fuzz.${name} COMMAND ${exe} ${dirs})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  endif()
endfunction()

# Pictures: each loader alone, then the whole chain.
vrl_fuzz_target(tga SOURCES PixmapFuzz.cpp DEPS vrl_pixmaploaders DEFINES FUZZ_ONLY_LOADER=tgaloader)
vrl_fuzz_target(bmp SOURCES PixmapFuzz.cpp DEPS vrl_pixmaploaders DEFINES FUZZ_ONLY_LOADER=bmploader)
vrl_fuzz_target(png SOURCES PixmapFuzz.cpp DEPS vrl_pixmaploaders DEFINES FUZZ_ONLY_LOADER=pngloader)
vrl_fuzz_target(jpeg SOURCES PixmapFuzz.cpp DEPS vrl_pixmaploaders DEFINES FUZZ_ONLY_LOADER=jpgloader)
vrl_fuzz_target(pixmap SOURCES PixmapFuzz.cpp DEPS vrl_pixmaploaders)

# Samples: each loader alone, then the whole chain.
vrl_fuzz_target(wav SOURCES AudioSampleFuzzer.cpp DEPS vrl_audio DEFINES FUZZ_ONLY_LOADER=wavloader)
vrl_fuzz_target(ogg SOURCES AudioSampleFuzzer.cpp DEPS vrl_audio DEFINES FUZZ_ONLY_LOADER=oggloader)
vrl_fuzz_target(audiosample SOURCES AudioSampleFuzzer.cpp DEPS vrl_audio)

# Text.
vrl_fuzz_target(text SOURCES TextFuzz.cpp DEPS vrl_stream)
vrl_fuzz_target(string SOURCES StringFuzz.cpp DEPS vrl_runtime)

vrl_fuzz_target(font SOURCES FontFuzz.cpp DEPS vrl_freetype)
vrl_fuzz_target(httpheader SOURCES HttpHeaderFuzz.cpp DEPS vrl_net)
vrl_fuzz_target(metadata SOURCES MetaDataFuzz.cpp DEPS vrl_script)
vrl_fuzz_target(rivo SOURCES RivoFuzz.cpp DEPS vrl_rivo)
vrl_fuzz_target(lua SOURCES LuaFuzz.cpp DEPS vrl_lua)
