# brim_add_program: one Windows program of the product, built as every one
# of them is built (BrimWatch, BrimSet, VelloranUpdater), or,
# with MODULE, a DLL that another program loads (the installer's check).
#
#   brim_add_program(<name> [MODULE]
#       SOURCES <file>...          the C++ sources; a DLL's .def file of
#                                  exports among them
#       RESOURCE_SCRIPT <file>     the .rc, which embeds the manifest and
#                                  includes resource.h and the version block
#       MANIFEST <file>            the manifest the script embeds (none for
#                                  a DLL)
#       RESOURCE_FILES <file>...   what else the script pulls in (icons, data,
#                                  included scripts); the texts in lang/,
#                                  English and each translation, are found
#                                  there by themselves
#       LIBRARIES <library>...)
#
# Paths are relative to the calling folder, which holds the program's
# resource.h. The script is compiled again whenever one of its inputs
# changes, the shared headers of common/ included. The runtime is linked
# statically for every Windows target of the tree (root CMakeLists.txt), so
# that a program needs no DLL beyond the system's.
#
# Every program and the DLL are hardened, as software that runs with
# administrator rights should be: a relocatable image loaded at a random
# address (high-entropy on 64-bit), data that cannot run as code, and
# programs that declare themselves aware of terminal-server sessions, so that
# a Remote Desktop server redirects none of their file and registry use.
# MSVC's linker does all of this by default, and its compiler adds stack
# cookies (/GS) to every function; the linker flags are named below anyway,
# so that no default of another toolchain can drop them.
#
# GCC's stack protector goes into every object of the tree, the shared code
# and the logic libraries that the programs link included, so it is set in
# the compiler flags of this folder and those below it (CMake takes those
# variables as they stand at the end of the folder). Its run-time part comes
# from GCC's libssp, linked statically like the rest of the runtime; it asks
# advapi32, which every program imports anyway, for the random guard value.
if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    string(APPEND CMAKE_C_FLAGS " -fstack-protector-strong")
    string(APPEND CMAKE_CXX_FLAGS " -fstack-protector-strong")
endif()

function(brim_add_program name)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "MODULE" "RESOURCE_SCRIPT;MANIFEST" "SOURCES;RESOURCE_FILES;LIBRARIES")
    if(ARG_MODULE)
        add_library(${name} MODULE ${ARG_SOURCES} ${ARG_RESOURCE_SCRIPT})
        # BrimSetCheck.dll, not the "lib" MinGW's CMake would put first.
        set_target_properties(${name} PROPERTIES PREFIX "")
        if(MINGW)
            # The .def file names the exports as callers look them up; a
            # 32-bit build decorates WINAPI names (CheckSettings@4), which
            # the linker matches to them.
            target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
        endif()
    else()
        add_executable(${name} WIN32 ${ARG_SOURCES} ${ARG_RESOURCE_SCRIPT})
    endif()
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})

    set(script_inputs resource.h ${ARG_MANIFEST} ${ARG_RESOURCE_FILES})
    list(TRANSFORM script_inputs PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    # A language is added as files in lang/, which the script includes: they
    # are found by name, so that a new or changed one rebuilds the script
    # without a change here.
    file(GLOB translations CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/lang/*.rc)
    list(APPEND script_inputs ${translations})
    foreach(shared IN ITEMS SharedResource.h Version.h VersionBlock.rc)
        list(APPEND script_inputs ${PROJECT_SOURCE_DIR}/common/${shared})
    endforeach()
    set_source_files_properties(${ARG_RESOURCE_SCRIPT} PROPERTIES OBJECT_DEPENDS "${script_inputs}")

    if(MSVC)
        # The manifest comes from the resource script alone.
        target_link_options(${name} PRIVATE /MANIFEST:NO /DYNAMICBASE /NXCOMPAT)
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            target_link_options(${name} PRIVATE /HIGHENTROPYVA)
        endif()
        if(NOT ARG_MODULE)
            target_link_options(${name} PRIVATE /TSAWARE)
        endif()
    elseif(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # The programs catch no exceptions; with GCC's static runtime
        # (libstdc++) they take the library's throw helpers and terminate
        # handler from this file, which keeps the demangler and the
        # standard exception classes out.
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/common/MinGwLeanRuntime.cpp)
    endif()
    if(MINGW)
        # The PE linker of binutils; --high-entropy-va exists for 64-bit
        # images only.
        target_link_options(${name} PRIVATE LINKER:--dynamicbase LINKER:--nxcompat)
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            target_link_options(${name} PRIVATE LINKER:--high-entropy-va)
        endif()
        if(NOT ARG_MODULE)
            target_link_options(${name} PRIVATE LINKER:--tsaware)
        endif()
    endif()
endfunction()
