# The installed framework: the umbrella target vrl::vrl, the exported
# targets with a package configuration for find_package(vrl), and vrl.pc
# for pkg-config. Included once every module folder has been added, since it
# reads the modules they declared.

include(CMakePackageConfigHelpers)

get_property(vrl_modules GLOBAL PROPERTY VRL_EXPORTED_MODULES)
get_property(vrl_dependencies GLOBAL PROPERTY VRL_CONFIG_DEPENDENCIES)
get_property(vrl_pkgconfig_requires GLOBAL PROPERTY VRL_PKGCONFIG_REQUIRES)
list(REMOVE_DUPLICATES vrl_dependencies)
list(REMOVE_DUPLICATES vrl_pkgconfig_requires)

# Every framework module at once.
add_library(vrl INTERFACE)
add_library(vrl::vrl ALIAS vrl)
target_link_libraries(vrl INTERFACE ${vrl_modules})
install(TARGETS vrl EXPORT vrlTargets)

set(vrl_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vrl)
install(EXPORT vrlTargets NAMESPACE vrl:: DESTINATION ${vrl_cmake_dir} COMPONENT devel)
string(JOIN "\n" VRL_CONFIG_DEPENDENCIES ${vrl_dependencies})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/templates/vrlConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vrlConfig.cmake INSTALL_DESTINATION ${vrl_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vrlConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vrlConfig.cmake ${PROJECT_BINARY_DIR}/vrlConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake
  DESTINATION ${vrl_cmake_dir} COMPONENT devel)

# The static libraries in link order: a module before those it uses, and
# they were declared bottom layer first.
set(VRL_PC_LIBS "")
foreach(module IN LISTS vrl_modules)
  set(VRL_PC_LIBS "-l${module} ${VRL_PC_LIBS}")
endforeach()
string(JOIN " " VRL_PC_REQUIRES ${vrl_pkgconfig_requires})
string(REGEX REPLACE "[^/]+" ".." VRL_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/vrl.pc.in ${PROJECT_BINARY_DIR}/vrl.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vrl.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT devel)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY.md
              ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT devel)

# make package: one Debian package with the libraries, the headers and the
# card; the libraries it needs at run time are found by dpkg-shlibdeps, the
# headers' own dependencies are declared.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrl)
set(CPACK_PACKAGE_VENDOR "The vrl authors")
set(CPACK_PACKAGE_CONTACT "The vrl authors <vrl@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "2D multimedia framework in C++, with the snowcard greeting card")
set(CPACK_PACKAGE_DESCRIPTION "vrl is a 2D multimedia framework for C++20: windows, OpenGL drawing \
of images, text and shapes, sound, input, streams, and picture, sound and font loaders. The package \
holds its static libraries, headers, CMake and pkg-config files, and snowcard, an animated winter \
greeting card built on it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libsdl2-dev, libgl-dev, libpng-dev, libjpeg-dev, libfreetype-dev, libvorbis-dev, liblua5.1-0-dev, libenet-dev, libopenal-dev, pkg-config")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libopenal1")
include(CPack)
