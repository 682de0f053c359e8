# `cpack -G DEB` in a Release build folder: the Debian package ostrove_<version>_amd64.deb of
# what `cmake --install` puts in place, installed under /usr. Its runtime dependencies are read
# from the programs by dpkg-shlibdeps (package dpkg-dev).

# The manual pages, gzipped as Debian wants them: -n keeps the package reproducible.
set(OSTROVE_MAN_PAGES OstroveConf OstroveService OstroveTray ostrove-reg)
find_program(OSTROVE_GZIP gzip)
set(man_built)
foreach(page IN LISTS OSTROVE_MAN_PAGES)
    set(source ${PROJECT_SOURCE_DIR}/resources/man/${page}.1)
    set(built ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${built}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${OSTROVE_GZIP} -9n -c ${source} > ${built}
        DEPENDS ${source} VERBATIM)
    list(APPEND man_built ${built})
endforeach()
add_custom_target(ostrove_man_pages ALL DEPENDS ${man_built})
install(FILES ${man_built} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(OSTROVE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ostrove)
install(FILES packaging/copyright DESTINATION ${OSTROVE_DOC_DIR})
# Without a Debian revision the package is native, so its changelog is changelog.gz.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${OSTROVE_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(ostrove_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${OSTROVE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrove)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zel Software")
set(CPACK_PACKAGE_CONTACT "Zel Software <ostrove@zel-software.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "POP3 mail monitor that removes unwanted mail on the server")
set(CPACK_PACKAGE_DESCRIPTION
    "Ostrove checks POP3 mailboxes at a set interval and removes, on the server, the\n"
    "mail that its filter lists describe: senders, subject words, body words and\n"
    "attachment names with a size range. Mail is removed only after a whole session\n"
    "succeeded, so a failure never loses a message.\n"
    "\n"
    "The package holds the configuration program OstroveConf, the monitor as a\n"
    "systemd service (OstroveService) and as a tray program of the desktop session\n"
    "(OstroveTray, with its autostart entry), and ostrove-reg, which moves the\n"
    "settings in and out of Windows registry files.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The autostart entry goes to /etc/xdg/autostart and the links into bin name paths under the
# final prefix: the rules install into DESTDIR with the real prefix, not into a staging prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackagePrograms.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ostrove.zel-software.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load at run time beyond what they link: Qt's TLS backend (in
# libqt6network6) opens libssl by name, and certificates verify against the system's
# authorities. The X11 platform plugin is in libqt6gui6, which the programs link.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, ca-certificates")
# The "Open log" and Statistics items hand the log to xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd")
set(conffiles ${PROJECT_BINARY_DIR}/packaging/conffiles)
file(WRITE ${conffiles} "/etc/xdg/autostart/ostrove-tray.desktop\n")
# Removal stops and disables the monitor service that /install set up (packaging/prerm), and a
# purge takes what the package's programs left for root (packaging/postrm).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${conffiles} ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
