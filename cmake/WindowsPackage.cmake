# The Windows build's help file, its zip (quillon.exe, the compiled help file,
# the licence notice and a short readme, under one Quillon folder) and its
# installer (the same files into Program Files\Quillon). Both carry the
# executable stripped.

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

# The readme of the zip, with the line ends Notepad expects.
file(READ ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt _readme)
string(REPLACE "\n" "\r\n" _readme "${_readme}")
file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${_readme}")
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION Quillon)

# The installer, by wixl (Debian package wixl), from a stripped copy of the program;
# msibuild (Debian package msitools) gives quillon.exe its file version in the
# package, which wixl leaves empty: without it an upgrade would treat the
# program as an unversioned file.
find_program(QUILLON_WIXL wixl)
find_program(QUILLON_MSIBUILD msibuild)
if(QUILLON_WIXL AND QUILLON_MSIBUILD AND QUILLON_CHMCMD)
  set(_msi_build ${CMAKE_BINARY_DIR}/msi)
  file(MAKE_DIRECTORY ${_msi_build})
  # Windows Installer compares three fields of a version.
  string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" QUILLON_MSI_VERSION "${QUILLON_FILE_VERSION}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quillon.wxs.in ${_msi_build}/quillon.wxs @ONLY)
  set(_msi ${CMAKE_BINARY_DIR}/quillon-${QUILLON_FILE_VERSION}-win64.msi)
  # wixl takes the files by names relative to where it runs.
  add_custom_command(
    OUTPUT ${_msi}
    COMMAND ${CMAKE_STRIP} -o quillon.exe $<TARGET_FILE:quillon>
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/help/quillon.chm
            ${CMAKE_BINARY_DIR}/LICENCE.txt .
    COMMAND ${QUILLON_WIXL} -a x64 -o ${_msi} quillon.wxs
    COMMAND ${QUILLON_MSIBUILD} ${_msi} -q
            "UPDATE File SET Version = '${QUILLON_FILE_VERSION}' WHERE File = 'quillon.exe'"
    WORKING_DIRECTORY ${_msi_build} VERBATIM
    DEPENDS quillon quillon_help ${_msi_build}/quillon.wxs ${CMAKE_BINARY_DIR}/LICENCE.txt
    COMMENT "Building the installer quillon-${QUILLON_FILE_VERSION}-win64.msi")
  add_custom_target(quillon_msi ALL DEPENDS ${_msi})
else()
  message(WARNING "wixl (Debian package wixl), msibuild (msitools) or chmcmd not found: "
                  "no Windows installer")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Quillon)
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_VERSION ${QUILLON_FILE_VERSION})
set(CPACK_PACKAGE_FILE_NAME quillon-${QUILLON_FILE_VERSION}-win64)
# The files sit in the Quillon folder of the zip, which can be unpacked
# anywhere: the program opens the help file beside it when the installed one
# is not there.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
