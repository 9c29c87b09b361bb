# Debian packages (cpack -G DEB in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does both):
#   quillon         the program, its ICMP helper and its manual page, without
#                   the window toolkit
#   quillon-window  the window module, its menu entry, icon and help pages
# Library dependencies are found by dpkg-shlibdeps.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quillon")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "The Quillon developers <developers@quillon.example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillon.example.org/")
# The packaging's own revision: its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The paths the build fixes (help pages) and the module's place must be those
# the packages install to.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program)
if(QUILLON_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME "quillon")
# setcap, for the postinst that gives the ICMP helper its one capability.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "quillon-window")
# The maintainer scripts that give the helper its capability and take it away
# again before dpkg replaces or removes the file.
set(_scripts)
foreach(_script preinst postinst prerm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${_script}.in
                 ${PROJECT_BINARY_DIR}/packaging/${_script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  list(APPEND _scripts ${PROJECT_BINARY_DIR}/packaging/${_script})
endforeach()
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_EXTRA ${_scripts})
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The first line of a description is the package's synopsis.
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "route tracer for the terminal and the desktop
Quillon finds the route to a host hop by hop with ICMP echo requests, looks up
the name of every hop and shows each hop's address, name and time. This
package traces in the terminal; quillon-window adds the desktop window.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME "quillon-window")
set(CPACK_COMPONENT_WINDOW_DEPENDS program)
# Help opens the pages with the desktop's opener.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "desktop window of the Quillon route tracer
The Qt window that quillon opens when a display is there, with its menu
entry, icon and help pages.")

# Each package carries the licence, the packaging's changelog and its lintian overrides.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          > ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(quillon_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
foreach(_component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${_component} _upper)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
                ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${_upper}_PACKAGE_NAME}
          COMPONENT ${_component})
  # The tags lintian is told to expect, each with its reason.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian/${CPACK_DEBIAN_${_upper}_PACKAGE_NAME}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${_component})
endforeach()

include(CPack)
