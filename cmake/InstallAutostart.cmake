# Run by `cmake --install`: writes the tray program's XDG autostart entry where desktop sessions
# read it. For the /usr and /usr/local prefixes that is /etc/xdg/autostart (the default of
# XDG_CONFIG_DIRS); any other prefix gets <prefix>/etc/xdg/autostart, read once that folder's
# parent is listed in XDG_CONFIG_DIRS.
set(OSTROVE_TRAY_PROGRAM "${CMAKE_INSTALL_PREFIX}/${OSTROVE_PROGRAM_DIR}/OstroveTray")
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
    set(autostart_dir /etc/xdg/autostart)
else()
    set(autostart_dir "${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart")
endif()
configure_file("${OSTROVE_AUTOSTART_TEMPLATE}" "${OSTROVE_AUTOSTART_BUILT}" @ONLY)
file(INSTALL DESTINATION "${autostart_dir}" TYPE FILE FILES "${OSTROVE_AUTOSTART_BUILT}")
