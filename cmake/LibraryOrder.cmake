# At start the dynamic loader resolves every imported symbol by walking the loaded libraries in
# the order the executable names them, and Qt's own libraries resolve thousands more through the
# same list. Naming Qt and the C and C++ runtimes first, as a plain Qt program does, spares each of
# those lookups the tables of SQLite, X11 and systemd, which this program names too (about
# 1.3 million instructions at each start of OstroveConf).
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
