# The event log's message table: the message compiler makes a resource
# script, its binary and a header of the message ids from a .mc file (the
# same command line for MSVC's mc and binutils' windmc, which lies beside the
# windres of the toolchain). The target gets the resource and the header.
#
#   brim_add_event_messages(<target> <file.mc>)
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
    add_custom_command(
        OUTPUT ${out}/${name}.h ${out}/${name}.rc ${out}/MSG00409.bin
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
        COMMAND ${CMAKE_MC_COMPILER} -h ${out} -r ${out} ${source}
        DEPENDS ${source}
        VERBATIM)
    target_sources(${target} PRIVATE ${out}/${name}.rc ${out}/${name}.h)
    set_source_files_properties(${out}/${name}.rc PROPERTIES OBJECT_DEPENDS ${out}/MSG00409.bin)
    target_include_directories(${target} PRIVATE ${out})
endfunction()
