# Prints the stub's size and fails when it exceeds the budget.
file(SIZE "${FILE}" size)
math(EXPR kib_tenths "${size} * 10 / 1024")
math(EXPR kib "${kib_tenths} / 10")
math(EXPR tenth "${kib_tenths} % 10")
message(STATUS "stub size (${LABEL}): ${size} bytes (${kib}.${tenth} KiB), limit ${LIMIT} bytes")
if(size GREATER LIMIT)
    message(FATAL_ERROR "the ${LABEL} stub is ${size} bytes, above the limit of ${LIMIT}")
endif()
