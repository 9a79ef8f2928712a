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
