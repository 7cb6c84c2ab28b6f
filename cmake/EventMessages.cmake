# The event log's message table: the message compiler makes a resource
# script, its binaries and a header of the message ids from a .mc file (MSVC's
# mc, or binutils' windmc, which lies beside the windres of the toolchain).
# The target gets the resource and the header.
#
#   brim_add_event_messages(<target> <file.mc>)
#
# The compiler writes one binary per language, named in the file's
# LanguageNames (English=0x409:MSG00409 ...): the list is read from the file,
# so that a language added there is built without a change here.
function(brim_add_event_messages target mc_file)
    if(NOT CMAKE_MC_COMPILER)
        get_filename_component(rc_name "${CMAKE_RC_COMPILER}" NAME)
        get_filename_component(rc_dir "${CMAKE_RC_COMPILER}" DIRECTORY)
        string(REPLACE "windres" "windmc" mc_name "${rc_name}")
        find_program(CMAKE_MC_COMPILER NAMES ${mc_name} mc HINTS ${rc_dir} REQUIRED)
    endif()
    get_filename_component(name "${mc_file}" NAME_WE)
    get_filename_component(source "${mc_file}" ABSOLUTE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-events)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} mc_text)
    string(REGEX MATCH "LanguageNames=\\([^)]*\\)" language_names "${mc_text}")
    string(REGEX MATCHALL "=0x[0-9A-Fa-f]+:[A-Za-z0-9_]+" languages "${language_names}")
    set(binaries)
    foreach(language IN LISTS languages)
        string(REGEX REPLACE "^=0x[0-9A-Fa-f]+:" "" binary "${language}")
        list(APPEND binaries ${out}/${binary}.bin)
    endforeach()
    # The file is UTF-8: windmc is told so, its default being code page 1252.
    get_filename_component(mc_program "${CMAKE_MC_COMPILER}" NAME)
    set(encoding)
    if(mc_program MATCHES "windmc")
        set(encoding -C 65001)
    endif()
    add_custom_command(
        OUTPUT ${out}/${name}.h ${out}/${name}.rc ${binaries}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
        COMMAND ${CMAKE_MC_COMPILER} ${encoding} -h ${out} -r ${out} ${source}
        DEPENDS ${source}
        VERBATIM)
    target_sources(${target} PRIVATE ${out}/${name}.rc ${out}/${name}.h)
    set_source_files_properties(${out}/${name}.rc PROPERTIES OBJECT_DEPENDS "${binaries}")
    target_include_directories(${target} PRIVATE ${out})
endfunction()
