# clang-format over the C++ files git tracks: in place, or with CHECK on as a dry run that fails
# on any change it would make. The format and format-check targets run it:
#   cmake -DCLANG_FORMAT=... -DGIT=... -DSOURCE_DIR=... [-DCHECK=ON] -P cmake/RunClangFormat.cmake
execute_process(COMMAND "${GIT}" ls-files -- "*.cpp" "*.h"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    OUTPUT_VARIABLE files
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "git ls-files failed in ${SOURCE_DIR}: the formatting covers the "
                        "files git tracks, so it needs a git checkout")
endif()
string(REPLACE "\n" ";" files "${files}")

if(CHECK)
    set(mode --dry-run -Werror)
else()
    set(mode -i)
endif()
execute_process(COMMAND "${CLANG_FORMAT}" ${mode} ${files}
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    if(CHECK)
        message(FATAL_ERROR "The formatting differs from .clang-format (above); the format "
                            "target fixes it")
    endif()
    message(FATAL_ERROR "clang-format failed")
endif()
