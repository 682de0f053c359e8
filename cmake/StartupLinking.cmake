# How the programs are linked so that they start fast. Both measures concern the dynamic loader,
# which resolves every imported symbol at start by walking the loaded libraries in order.

# SQLite linked into the programs (OSTROVE_STATIC_SQLITE): Debian's shared libsqlite3 is bound
# at load and calls even its own functions through the symbol tables, about 1,400 lookups at
# every start before a single key is read (about 1.8 million instructions of OstroveConf's start).
# Every target here that uses SQLite, tests and benchmarks included, then links the same copy.
function(ostrove_use_static_sqlite)
    if(NOT OSTROVE_STATIC_SQLITE OR NOT TARGET SQLite::SQLite3)
        return()
    endif()
    find_library(OSTROVE_SQLITE3_ARCHIVE NAMES libsqlite3.a REQUIRED)
    find_package(Threads REQUIRED)
    set_target_properties(SQLite::SQLite3 PROPERTIES
        IMPORTED_LOCATION "${OSTROVE_SQLITE3_ARCHIVE}"
        INTERFACE_LINK_LIBRARIES "m;Threads::Threads;${CMAKE_DL_LIBS}")
endfunction()

# Naming Qt and the C and C++ runtimes first among a program's libraries, as a plain Qt program
# does, spares each lookup (the program's own and Qt's, thousands of them) the tables of the
# other libraries it names, X11 and systemd (about 1.3 million instructions of OstroveConf's
# start).
function(ostrove_name_runtime_first target)
    # Sanitizer runtimes must come first themselves; other toolchains order differently.
    if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
       OR OSTROVE_SANITIZE OR OSTROVE_FUZZ)
        return()
    endif()
    target_link_options(${target} PRIVATE
        "LINKER:--push-state,--no-as-needed"
        "$<TARGET_LINKER_FILE:Qt6::Widgets>" "$<TARGET_LINKER_FILE:Qt6::Gui>"
        "$<TARGET_LINKER_FILE:Qt6::Core>"
        "LINKER:-l:libstdc++.so.6,-l:libgcc_s.so.1,-l:libc.so.6"
        "LINKER:--pop-state")
endfunction()
