# cmake -DFROM=file -DTO=file -P copy_if_exists.cmake: copies FROM to TO when
# FROM exists and differs; does nothing when FROM does not exist (yet).
if(EXISTS "${FROM}")
    file(COPY_FILE "${FROM}" "${TO}" ONLY_IF_DIFFERENT)
endif()
