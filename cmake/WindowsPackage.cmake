# The Windows build's help file and its zip: quillon.exe, the compiled help file
# and the licence notice, under one Quillon folder.

# The help pages compiled into one .chm file for the system's help viewer.
find_program(QUILLON_CHMCMD chmcmd)
if(QUILLON_CHMCMD)
  set(_help_build ${CMAKE_BINARY_DIR}/help)
  file(MAKE_DIRECTORY ${_help_build})
  file(GLOB _help_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/*)
  add_custom_command(
    OUTPUT ${_help_build}/quillon.chm
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs/help ${_help_build}
    COMMAND ${QUILLON_CHMCMD} --no-html-scan quillon.hhp
    WORKING_DIRECTORY ${_help_build}
    DEPENDS ${_help_pages}
    COMMENT "Compiling the help file quillon.chm")
  add_custom_target(quillon_help ALL DEPENDS ${_help_build}/quillon.chm)
  install(FILES ${_help_build}/quillon.chm DESTINATION Quillon)
else()
  message(WARNING "chmcmd (Debian package fp-utils) not found: the Windows build has no help file")
endif()

# The licence, as the About window sums it up, with Windows line ends.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _licence)
string(REPLACE "\n" "\r\n" _licence "${_licence}")
file(WRITE ${CMAKE_BINARY_DIR}/LICENCE.txt "${_licence}")
install(FILES ${CMAKE_BINARY_DIR}/LICENCE.txt DESTINATION Quillon)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quillon)
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_VERSION ${QUILLON_FILE_VERSION})
set(CPACK_PACKAGE_FILE_NAME quillon-${QUILLON_FILE_VERSION}-win64)
# The files sit in the Quillon folder of the zip: unpacked into
# C:\Program Files it puts the help file where the program looks for it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
