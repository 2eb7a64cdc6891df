# Prints the stub's size and the size of each of its sections, and fails when
# the file exceeds the budget (a limit of 0: none, as for the x86_64 stub).
file(SIZE "${FILE}" size)
math(EXPR kib_tenths "${size} * 10 / 1024")
math(EXPR kib "${kib_tenths} / 10")
math(EXPR tenth "${kib_tenths} % 10")
if(LIMIT)
    message(STATUS "stub size (${LABEL}): ${size} bytes (${kib}.${tenth} KiB), limit ${LIMIT} bytes")
else()
    message(STATUS "stub size (${LABEL}): ${size} bytes (${kib}.${tenth} KiB), no limit")
endif()
if(OBJDUMP)
    execute_process(COMMAND "${OBJDUMP}" -h "${FILE}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
    if(NOT failed)
        # Lines such as "  0 .text  00006468  00401000  00401000  00000400  2**2":
        # the section's name and its size in bytes (the file rounds each
        # section up to 512 bytes).
        string(REGEX MATCHALL "\n +[0-9]+ +[^ ]+ +[0-9a-f]+" rows "${headers}")
        set(listing "")
        foreach(row ${rows})
            string(REGEX REPLACE "\n +[0-9]+ +([^ ]+) +([0-9a-f]+)" "\\1;\\2" fields "${row}")
            list(GET fields 0 name)
            list(GET fields 1 hex)
            math(EXPR bytes "0x${hex}")
            string(APPEND listing " ${name} ${bytes}")
        endforeach()
        # The stub has no initialised writable data; one such global brings
        # the section back, a whole 512 bytes of file.
        if(listing MATCHES " \\.data ")
            string(APPEND listing " (initialised data costs a section of its own: "
                "set such globals at start-up, see init_process_state)")
        endif()
        message(STATUS "stub sections (${LABEL}):${listing}")
    endif()
endif()
if(LIMIT AND size GREATER LIMIT)
    message(FATAL_ERROR "the ${LABEL} stub is ${size} bytes, above the limit of ${LIMIT}")
endif()
