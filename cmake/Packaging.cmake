# Installs the programs and packs them: `cpack -G ZIP` in a Windows build
# gives Varndel-<version>-win64.zip. Windows builds link -static (see
# cmake/mingw-w64-x86_64.cmake), so the zip needs no DLLs beside the programs.
install(TARGETS Varndel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET varndel-inspect)
  install(TARGETS varndel-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME Varndel)
set(CPACK_PACKAGE_VENDOR Varndel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compiles 3-D models into .staticbin and .animbin files")
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
