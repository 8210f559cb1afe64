# Installation, the CMake package (find_package(Varndel CONFIG)) and the
# packages: `cpack -G DEB` on Linux, `cpack -G ZIP` in a Windows build, which
# gives Varndel-<version>-win64.zip. Windows builds link -static (see
# cmake/mingw-w64-x86_64.cmake), so the zip needs no DLLs beside the programs.
include(CMakePackageConfigHelpers)

set(VARNDEL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Varndel")

set(varndel_installed_targets Varndel varndel-edge varndel_reader varndel_anim varndel_optimize varndel-opt)
if(TARGET varndel-inspect)
  list(APPEND varndel_installed_targets varndel-inspect)
  set_target_properties(varndel-inspect PROPERTIES EXPORT_NAME inspect)
endif()
# The build step is no command for people: it lives in libexec.
install(TARGETS varndel-edge EXPORT VarndelTargets RUNTIME DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/varndel")
list(REMOVE_ITEM varndel_installed_targets varndel-edge)
install(TARGETS ${varndel_installed_targets} EXPORT VarndelTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/varndel" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  FILES_MATCHING PATTERN "*.h")
install(EXPORT VarndelTargets NAMESPACE Varndel:: DESTINATION "${VARNDEL_CMAKE_DIR}")

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/VarndelConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/VarndelConfig.cmake" INSTALL_DESTINATION "${VARNDEL_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/VarndelConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/VarndelConfig.cmake"
  "${PROJECT_BINARY_DIR}/VarndelConfigVersion.cmake"
  "${CMAKE_CURRENT_LIST_DIR}/VarndelModels.cmake"
  DESTINATION "${VARNDEL_CMAKE_DIR}")
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB varndel_doc_files "${PROJECT_SOURCE_DIR}/docs/*.md" "${PROJECT_SOURCE_DIR}/docs/*.png")
install(FILES ${varndel_doc_files} DESTINATION "${CMAKE_INSTALL_DOCDIR}/docs")

set(CPACK_PACKAGE_NAME varndel)
set(CPACK_PACKAGE_VENDOR "Varndel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Model compiler for a 3-D engine, its reader library and CMake package")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varndel developers <varndel@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Runtime libraries (Assimp, libstdc++, ...) come from dpkg-shlibdeps; CMake
# users of varndel_add_models also need CMake.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cmake (>= 3.20)")
if(VARNDEL_PYTHON)
  # The module is built for one Python ABI (python/), and its arrays are numpy's.
  math(EXPR varndel_python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), \
python3 (<< ${Python3_VERSION_MAJOR}.${varndel_python_next}), python3-numpy")
endif()
if(WIN32)
  unset(CPACK_PACKAGING_INSTALL_PREFIX)  # the zip unpacks to bin/, include/, lib/
  set(CPACK_PACKAGE_NAME Varndel)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  endif()
endif()
include(CPack)
