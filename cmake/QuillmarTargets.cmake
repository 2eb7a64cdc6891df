# Helpers shared by the build trees.

function(qm_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# The stub: no C++ standard library, no C runtime, no exceptions, no RTTI.
# The compiler's own support library (libgcc) is linked last for the rare
# helper it may call. Link-time optimisation lets the size optimiser work
# across the stub's small modules (about 3 KiB less on i686). Arrays are
# aligned as the ABI asks, not to 32 bytes for vector code the stub never
# runs. The linker script keeps the file to few sections (see stub.ld).
#
# The objects are linked twice: NAME, and NAME-rebased at another image base,
# which the relocation test compares with NAME (every word that moves with
# the image base must have a base relocation).
function(qm_add_stub name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name}-objects OBJECT ${ARG_SOURCES})
    target_include_directories(${name}-objects PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${name}-objects PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-Os -ffreestanding -fno-exceptions -fno-rtti
        -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
        -fno-tree-loop-distribute-patterns -fno-threadsafe-statics
        -ffunction-sections -fno-ident -malign-data=abi -flto -Wall -Wextra>)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(entry _stub_entry)
        set(other_base 0x10000000)
        # Arguments are pushed rather than stored into space set aside in
        # every frame (about 2.4 KiB less). The compiler only does that
        # without stack probes; probes are needed for frames larger than a
        # stack page, which the stub therefore refuses to build: no frame
        # above 4000 bytes (the probe threshold), no variable-length arrays,
        # no alloca. Large buffers are static, as they already are.
        # The stack is kept aligned to 4 bytes, all that 32-bit Windows
        # promises (and all the stub's code needs: it has no vector code),
        # instead of padding it to 16 around every call (1.5 KiB less).
        set(frame_options -mno-stack-arg-probe -mno-accumulate-outgoing-args
            -Werror=frame-larger-than=4000 -Werror=vla -Werror=alloca
            -mpreferred-stack-boundary=2)
    else()
        set(entry stub_entry)
        set(other_base 0x180000000)
        set(frame_options "")
    endif()
    target_compile_options(${name}-objects PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${frame_options}>)
    foreach(target ${name} ${name}-rebased)
        add_executable(${target} WIN32 $<TARGET_OBJECTS:${name}-objects>)
        target_link_options(${target} PRIVATE ${frame_options} -flto -Os -nostdlib -nostartfiles -static -s
            -Wl,--subsystem,windows -Wl,-e,${entry} -Wl,--gc-sections -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub.ld)
        set_target_properties(${target} PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/stub.ld)
        foreach(lib ${ARG_LIBS})
            target_link_libraries(${target} PRIVATE -l${lib})
        endforeach()
        target_link_libraries(${target} PRIVATE -lgcc)
        # The libraries above are all it may use.
        set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
    endforeach()
    target_link_options(${name}-rebased PRIVATE -Wl,--image-base,${other_base})
endfunction()

# GoogleTest from the distribution's sources, built for this tree's target.
macro(qm_add_googletest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()

# A persistent wineserver and an Xvfb display for the tests of one ctest run.
function(qm_add_wine_fixture)
    if(NOT TEST wine_start)
        add_test(NAME wine_start COMMAND ${QM_WINE_SH} start ${QM_WINE_DIR})
        add_test(NAME wine_stop COMMAND ${QM_WINE_SH} stop ${QM_WINE_DIR})
        set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
        set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
    endif()
endfunction()

# Windows programs built here run under Wine with a time limit.
function(qm_wine_emulator target seconds)
    set_target_properties(${target} PROPERTIES
        CROSSCOMPILING_EMULATOR "${QM_WINE_SH};run;${QM_WINE_DIR};${seconds}")
endfunction()
