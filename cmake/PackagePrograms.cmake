# Run by CPack on the staged files before it packs them: drops the compilers' version notes
# (.comment) from the stripped programs, as Debian's own packages do.
file(GLOB programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/usr/lib/ostrove/*")
foreach(program IN LISTS programs)
    if(NOT program MATCHES "\\.lng$")
        execute_process(COMMAND "${CPACK_OBJCOPY}" --remove-section=.comment "${program}"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
