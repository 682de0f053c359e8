# Targets that check the code rather than build it:
#   format        clang-format in place over the C++ files git tracks
#   format-check  the same as a dry run that fails on any difference
#   tidy          clang-tidy with .clang-tidy over our sources in this build (scripts/tidy.sh)
#   check         format-check, tidy, the whole build and ctest: what CI runs in the test build
# A missing tool makes its target fail saying so; configuring never fails for it.
find_program(CLANG_FORMAT_EXECUTABLE NAMES clang-format clang-format-14)
find_program(CLANG_TIDY_EXECUTABLE NAMES clang-tidy clang-tidy-14)
find_program(BASH_EXECUTABLE NAMES bash)
find_package(Git QUIET)

function(ostrove_missing_tool target tool)
    message(STATUS "${tool} not found: the ${target} target will say so")
    add_custom_target(${target}
        COMMAND ${CMAKE_COMMAND} -E echo
            "${target}: ${tool} was not found. Install it (scripts/dependencies.sh lists the packages) and configure again."
        COMMAND ${CMAKE_COMMAND} -E false
        VERBATIM)
endfunction()

if(NOT CLANG_FORMAT_EXECUTABLE)
    ostrove_missing_tool(format clang-format)
    ostrove_missing_tool(format-check clang-format)
elseif(NOT GIT_EXECUTABLE)
    ostrove_missing_tool(format git)
    ostrove_missing_tool(format-check git)
else()
    set(ostrove_run_clang_format ${CMAKE_COMMAND} -DCLANG_FORMAT=${CLANG_FORMAT_EXECUTABLE}
        -DGIT=${GIT_EXECUTABLE} -DSOURCE_DIR=${PROJECT_SOURCE_DIR})
    add_custom_target(format
        COMMAND ${ostrove_run_clang_format} -P ${CMAKE_CURRENT_LIST_DIR}/RunClangFormat.cmake
        COMMENT "clang-format over the tracked sources"
        USES_TERMINAL VERBATIM)
    add_custom_target(format-check
        COMMAND ${ostrove_run_clang_format} -DCHECK=ON
            -P ${CMAKE_CURRENT_LIST_DIR}/RunClangFormat.cmake
        COMMENT "Checking the formatting of the tracked sources"
        USES_TERMINAL VERBATIM)
endif()

if(NOT CLANG_TIDY_EXECUTABLE)
    ostrove_missing_tool(tidy clang-tidy)
elseif(NOT BASH_EXECUTABLE)
    ostrove_missing_tool(tidy bash)
else()
    add_custom_target(tidy
        COMMAND ${CMAKE_COMMAND} -E env CLANG_TIDY=${CLANG_TIDY_EXECUTABLE}
            ${BASH_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/tidy.sh ${CMAKE_BINARY_DIR}
        USES_TERMINAL VERBATIM)
    # The sources include the files moc writes; the global autogen target writes them all.
    set(CMAKE_GLOBAL_AUTOGEN_TARGET ON)
    add_dependencies(tidy autogen)
endif()

# Every target the default build makes, in this folder and below.
function(ostrove_default_targets out folder)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    set(built)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        get_target_property(excluded ${target} EXCLUDE_FROM_ALL)
        if(NOT type MATCHES "^(INTERFACE_LIBRARY|UTILITY)$" AND NOT excluded)
            list(APPEND built ${target})
        endif()
    endforeach()
    get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    foreach(subfolder IN LISTS subfolders)
        ostrove_default_targets(below ${subfolder})
        list(APPEND built ${below})
    endforeach()
    set(${out} ${built} PARENT_SCOPE)
endfunction()

function(ostrove_add_check_target)
    ostrove_default_targets(targets ${PROJECT_SOURCE_DIR})
    add_custom_target(check
        COMMAND ${CMAKE_CTEST_COMMAND} --output-on-failure -j2
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        COMMENT "Running the tests"
        USES_TERMINAL VERBATIM)
    add_dependencies(check format-check tidy ${targets})
endfunction()
# Once the whole project is read, wherever this file is included: every target exists then.
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL ostrove_add_check_target)
