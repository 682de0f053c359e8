# The Windows folder: `cmake --install build-windows --prefix DIR` puts the two programs, the
# language file and what Qt needs to run beside them, as a person unpacks it anywhere. Qt 6.4's
# qtbase has no windeployqt, so the DLLs and plug-ins are named here; scripts/windows-folder.sh
# strips the result and zips it.
install(TARGETS OstroveConf ostrove-reg RUNTIME DESTINATION .)
install(FILES resources/Ostrove.lng DESTINATION .)

get_target_property(OSTROVE_QT_CORE_DLL Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT OSTROVE_QT_CORE_DLL)
    get_target_property(OSTROVE_QT_CORE_DLL Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(OSTROVE_QT_BIN "${OSTROVE_QT_CORE_DLL}" DIRECTORY)
get_filename_component(OSTROVE_QT_PLUGINS "${OSTROVE_QT_BIN}/../plugins" ABSOLUTE)

# Qt's DLLs import the GCC runtime that built them; a MSVC-built Qt has none of these files.
foreach(dll Qt6Core Qt6Gui Qt6Widgets libstdc++-6 libgcc_s_seh-1 libwinpthread-1)
    if(EXISTS "${OSTROVE_QT_BIN}/${dll}.dll")
        install(FILES "${OSTROVE_QT_BIN}/${dll}.dll" DESTINATION .)
    endif()
endforeach()
# The windows platform and the native style; the icon and GIF readers. The programs use no
# network, so neither Qt6Network nor the TLS back-ends that need it.
install(FILES "${OSTROVE_QT_PLUGINS}/platforms/qwindows.dll" DESTINATION platforms)
install(FILES "${OSTROVE_QT_PLUGINS}/styles/qwindowsvistastyle.dll" DESTINATION styles)
install(DIRECTORY "${OSTROVE_QT_PLUGINS}/imageformats/" DESTINATION imageformats
        FILES_MATCHING PATTERN "*.dll" PATTERN "*d.dll" EXCLUDE)
