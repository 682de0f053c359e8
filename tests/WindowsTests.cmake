# The Windows build's tests. ctest starts each .exe through CMAKE_CROSSCOMPILING_EMULATOR (Wine)
# in one Wine prefix made fresh for the run: the first test makes it, the last stops its
# wineserver. The registry is the whole machine's, so tests that change it never run together.
get_target_property(OSTROVE_TEST_QT_DLL Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT OSTROVE_TEST_QT_DLL)
    get_target_property(OSTROVE_TEST_QT_DLL Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(OSTROVE_TEST_QT_BIN "${OSTROVE_TEST_QT_DLL}" DIRECTORY)
set(OSTROVE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix")
# Qt's DLLs are found through Wine's PATH; Wine hands QT_* variables on only when named WINEQT_*.
string(REPLACE "/" "\\\\" OSTROVE_TEST_QT_BIN_WINDOWS "Z:${OSTROVE_TEST_QT_BIN}")
set(OSTROVE_WINE_ENVIRONMENT
    "WINEPREFIX=${OSTROVE_WINE_PREFIX}"
    "WINEPATH=${OSTROVE_TEST_QT_BIN_WINDOWS}"
    "WINEDLLOVERRIDES=winemenubuilder.exe=d"
    "TMPDIR=${OSTROVE_WINE_PREFIX}/tmp"
    "WINEQT_QPA_PLATFORM=minimal"
    "WINEQT_FORCE_STDERR_LOGGING=1"
    "LC_ALL=C.UTF-8")

add_test(NAME wine_prefix
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${OSTROVE_WINE_PREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
# Ends the prefix's background programs; a server that has already gone is as good.
add_test(NAME wine_prefix_stop COMMAND sh -c "wineserver -k 2>/dev/null; wineserver -w; exit 0")
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine
                     ENVIRONMENT "WINEPREFIX=${OSTROVE_WINE_PREFIX}")

add_library(ostrove_store_test_support STATIC
    support/RecordingPrompts.h support/RecordingPrompts.cpp
    support/StoreUnderTest.h support/StoreUnderTest_windows.cpp)
target_include_directories(ostrove_store_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(ostrove_store_test_support PUBLIC ostrove_core Qt6::Test
    PRIVATE advapi32 ostrove_options)

function(ostrove_add_windows_test name)
    qt_add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE ostrove_store_test_support ostrove_options)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${OSTROVE_WINE_ENVIRONMENT}"
        FIXTURES_REQUIRED wine
        RESOURCE_LOCK registry
        TIMEOUT 120)
endfunction()

ostrove_add_windows_test(tst_storebehaviour core/tst_storebehaviour.cpp)

# The tests' own peers of the monitor programs: a service and a tray window.
add_executable(test_service platform/test_service_windows.cpp)
target_link_libraries(test_service PRIVATE advapi32)
add_executable(fake_tray WIN32 platform/fake_tray_windows.cpp)

# The pages with the real parts. Wine reports Windows 2000 to this test alone, a system where
# the service can be installed from the page.
ostrove_add_windows_test(tst_windowspages gui/tst_windowspages.cpp)
target_link_libraries(tst_windowspages PRIVATE ostrove_gui)
add_dependencies(tst_windowspages test_service fake_tray)
add_test(NAME wine_reports_windows_2000
         COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} reg add "HKCU\\Software\\Wine\\AppDefaults\\tst_windowspages.exe"
                 /v Version /d win2k /f)
set_tests_properties(wine_reports_windows_2000 PROPERTIES
    ENVIRONMENT "${OSTROVE_WINE_ENVIRONMENT}" FIXTURES_REQUIRED wine FIXTURES_SETUP win2k)
set_tests_properties(tst_windowspages PROPERTIES FIXTURES_REQUIRED "wine;win2k")
