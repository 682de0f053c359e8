# Every option of the build is declared here and nowhere else, next to what it changes.
option(OSTROVE_BUILD_TESTS "Build the tests" ON)
option(OSTROVE_BUILD_BENCHMARKS "Build the benchmarks" OFF)
option(OSTROVE_WERROR "Treat warnings as errors (CI)" OFF)
option(OSTROVE_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(OSTROVE_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(OSTROVE_STATIC_SQLITE "Link SQLite into the programs, for a faster start (cmake/StartupLinking.cmake)" ON)

# Settings every target of ours links to; third-party code does not.
add_library(ostrove_options INTERFACE)
target_compile_definitions(ostrove_options INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(ostrove_options INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
elseif(MSVC)
    target_compile_options(ostrove_options INTERFACE /W4 /permissive- /utf-8)
endif()
# Debian's hardening for what we ship: stack guards, checked string and memory calls (they need
# optimisation, so not in Debug), and relocations read-only from the start. The sanitizers bring
# checks of their own and do not mix with the checked calls.
if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT OSTROVE_SANITIZE
   AND NOT OSTROVE_FUZZ)
    target_compile_options(ostrove_options INTERFACE -fstack-protector-strong)
    target_compile_definitions(ostrove_options INTERFACE
        $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    target_link_options(ostrove_options INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()
if(OSTROVE_WERROR)
    target_compile_options(ostrove_options INTERFACE $<IF:$<CXX_COMPILER_ID:MSVC>,/WX,-Werror>)
endif()
if(OSTROVE_SANITIZE)
    target_compile_options(ostrove_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(ostrove_options INTERFACE -fsanitize=address,undefined)
    # Every test runs with these, however it is started (ctest, the check target, CI): any
    # report fails it. The libraries in the suppressions keep caches for the process's life.
    set(OSTROVE_SANITIZER_ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
if(OSTROVE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "OSTROVE_FUZZ needs clang (libFuzzer): configure with CXX=clang++")
    endif()
    target_compile_options(ostrove_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(ostrove_options INTERFACE -fsanitize=address,undefined)
endif()
