# The fuzz targets, included into the top-level directory once every module
# folder has been added (see Fuzz.cmake); paths are absolute for that reason.
add_executable(audiosample_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/AudioSampleFuzzer.cpp)
target_link_libraries(audiosample_fuzzer PRIVATE vrl_audio)
target_link_options(audiosample_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(audiosample_fuzzer)

add_executable(pixmap_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/PixmapFuzz.cpp)
target_link_libraries(pixmap_fuzzer PRIVATE vrl_pixmaploaders)
target_link_options(pixmap_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(pixmap_fuzzer)

add_executable(font_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/FontFuzz.cpp)
target_link_libraries(font_fuzzer PRIVATE vrl_freetype)
target_link_options(font_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(font_fuzzer)

add_executable(httpheader_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/HttpHeaderFuzz.cpp)
target_link_libraries(httpheader_fuzzer PRIVATE vrl_net)
target_link_options(httpheader_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(httpheader_fuzzer)

add_executable(metadata_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/MetaDataFuzz.cpp)
target_link_libraries(metadata_fuzzer PRIVATE vrl_script)
target_link_options(metadata_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(metadata_fuzzer)

add_executable(rivo_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/RivoFuzz.cpp)
target_link_libraries(rivo_fuzzer PRIVATE vrl_rivo)
target_link_options(rivo_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(rivo_fuzzer)

add_executable(lua_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/LuaFuzz.cpp)
target_link_libraries(lua_fuzzer PRIVATE vrl_lua)
target_link_options(lua_fuzzer PRIVATE -fsanitize=fuzzer)
vrl_set_warnings(lua_fuzzer)
