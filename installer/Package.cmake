# The Windows Installer package of a Windows build tree, built with wixl
# (Debian's msitools) from installer/Brimline.wxs:
#   <build>/Brimline-<version>-x64.msi   (64-bit toolchain)
#   <build>/Brimline-<version>-x86.msi   (32-bit toolchain)
# The version and maker come from common/Version.h, so the programs' version
# blocks and the package always agree. The package holds stripped copies of
# the programs (the updater among them) and the help page, laid out as
# installed in <build>/package/ (the release script takes them from there
# too), and beside them the package's own custom actions, BrimSetCheck.dll,
# which is not installed.
# Without wixl the build goes on without a package and says so.
#
# BRIM_SIGN_SCRIPT, when set, names a program that signs the files it is
# given in place and fails when it cannot (scripts/sign.sh, which
# scripts/release.sh passes when the maker gives a certificate). It signs
# each stripped copy before wixl packs it, so that the package installs
# signed programs and runs a signed DLL, and then the finished package.

if(NOT WIN32)
    return()
endif()

function(brim_version_macro out name)
    file(STRINGS "${PROJECT_SOURCE_DIR}/common/Version.h" line REGEX "^#define ${name} ")
    if(NOT line MATCHES "^#define ${name} L?\"([^\"]*)\"")
        message(FATAL_ERROR "common/Version.h has no text macro ${name}")
    endif()
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/common/Version.h")
brim_version_macro(BRIM_PACKAGE_VERSION BRIM_VERSION_TEXT)
brim_version_macro(BRIM_PACKAGE_MANUFACTURER BRIM_COMPANY_NAME)
brim_version_macro(BRIM_PACKAGE_PRODUCT BRIM_PRODUCT_NAME)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(BRIM_PACKAGE_ARCH x64)
else()
    set(BRIM_PACKAGE_ARCH x86)
endif()

find_program(BRIM_WIXL wixl)
if(NOT BRIM_WIXL)
    message(STATUS "wixl not found (Debian package wixl): no MSI package in this build")
    return()
endif()

set(BRIM_PACKAGE_SOURCE "${CMAKE_CURRENT_LIST_DIR}/Brimline.wxs")
set(BRIM_PACKAGE_DIR "${CMAKE_BINARY_DIR}/package")
set(BRIM_PACKAGE_FILE
    "${CMAKE_BINARY_DIR}/${BRIM_PACKAGE_PRODUCT}-${BRIM_PACKAGE_VERSION}-${BRIM_PACKAGE_ARCH}.msi")

# What wixl cannot write (an error action; public properties without a
# default among the secure ones; a key removed whole on uninstall), one
# query a line, each run on the package by msibuild, of the same msitools.
find_program(BRIM_MSIBUILD msibuild REQUIRED)
set(BRIM_PACKAGE_ACTIONS_FILE "${CMAKE_CURRENT_LIST_DIR}/package-actions.sql")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${BRIM_PACKAGE_ACTIONS_FILE}")
file(READ "${BRIM_PACKAGE_ACTIONS_FILE}" brim_package_queries)
string(REPLACE ";" "$<SEMICOLON>" brim_package_queries "${brim_package_queries}")
string(STRIP "${brim_package_queries}" brim_package_queries)
string(REPLACE "\n" ";" brim_package_queries "${brim_package_queries}")
set(BRIM_PACKAGE_ACTIONS "")
# The package is made under a temporary name and renamed when complete:
# whoever finds the package file (the other bitness's tests, built at the
# same time) finds all of it.
set(BRIM_PACKAGE_PARTIAL "${BRIM_PACKAGE_FILE}.partial")
foreach(query IN LISTS brim_package_queries)
    list(APPEND BRIM_PACKAGE_ACTIONS COMMAND "${BRIM_MSIBUILD}" "${BRIM_PACKAGE_PARTIAL}" -q "${query}")
endforeach()

set(BRIM_SIGN_SCRIPT "" CACHE FILEPATH
    "Program that signs the files it is given in place (scripts/sign.sh); empty: the package is not signed")
set(BRIM_SIGN_DEPENDS "")
set(BRIM_SIGN_PACKAGE "")
if(BRIM_SIGN_SCRIPT)
    message(STATUS "The package and the programs in it are signed by ${BRIM_SIGN_SCRIPT}")
    set(BRIM_SIGN_DEPENDS "${BRIM_SIGN_SCRIPT}")
    set(BRIM_SIGN_PACKAGE COMMAND "${BRIM_SIGN_SCRIPT}" "${BRIM_PACKAGE_PARTIAL}")
endif()

# Stripped copies of the programs and the package's DLL: symbols do not ship.
set(BRIM_PACKAGE_PROGRAMS "")
foreach(program_target BrimWatch BrimSet VelloranUpdater BrimSetCheck)
    get_target_property(program_type ${program_target} TYPE)
    if(program_type STREQUAL "MODULE_LIBRARY")
        set(copy "${BRIM_PACKAGE_DIR}/${program_target}${CMAKE_SHARED_MODULE_SUFFIX}")
    else()
        set(copy "${BRIM_PACKAGE_DIR}/${program_target}${CMAKE_EXECUTABLE_SUFFIX}")
    endif()
    # A copy to be signed is made under a temporary name and takes its own
    # once signed: a failed signing leaves no unsigned copy that the next
    # build would take as done.
    set(made "${copy}")
    if(BRIM_SIGN_SCRIPT)
        set(made "${copy}.unsigned")
    endif()
    if(CMAKE_STRIP)
        set(copy_command "${CMAKE_STRIP}" --strip-all -o "${made}" "$<TARGET_FILE:${program_target}>")
    else()
        set(copy_command "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${program_target}>" "${made}")
    endif()
    if(BRIM_SIGN_SCRIPT)
        list(APPEND copy_command COMMAND "${BRIM_SIGN_SCRIPT}" "${made}"
                                 COMMAND "${CMAKE_COMMAND}" -E rename "${made}" "${copy}")
    endif()
    add_custom_command(OUTPUT "${copy}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${BRIM_PACKAGE_DIR}"
        COMMAND ${copy_command}
        DEPENDS ${program_target} ${BRIM_SIGN_DEPENDS}
        COMMENT "Stripped copy of ${program_target} for the package"
        VERBATIM)
    list(APPEND BRIM_PACKAGE_PROGRAMS "${copy}")
endforeach()

# The help pages, English and every translation, each a component of
# Brimline.wxs, and their style sheet beside the English page.
file(GLOB BRIM_PACKAGE_HELP_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/Brimline*.html")
list(APPEND BRIM_PACKAGE_HELP_SOURCES "${PROJECT_SOURCE_DIR}/docs/Brimline.css")
set(BRIM_PACKAGE_HELP_PAGES)
foreach(source IN LISTS BRIM_PACKAGE_HELP_SOURCES)
    get_filename_component(name "${source}" NAME)
    add_custom_command(OUTPUT "${BRIM_PACKAGE_DIR}/docs/${name}"
        COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${BRIM_PACKAGE_DIR}/docs/${name}"
        DEPENDS "${source}"
        VERBATIM)
    list(APPEND BRIM_PACKAGE_HELP_PAGES "${BRIM_PACKAGE_DIR}/docs/${name}")
endforeach()

# wixl finds the files relative to its working folder: the package folder,
# laid out as installed.
add_custom_command(OUTPUT "${BRIM_PACKAGE_FILE}"
    COMMAND "${BRIM_WIXL}" -a ${BRIM_PACKAGE_ARCH}
        -D Arch=${BRIM_PACKAGE_ARCH}
        -D ProductVersion=${BRIM_PACKAGE_VERSION}
        -D Manufacturer=${BRIM_PACKAGE_MANUFACTURER}
        -D ProductName=${BRIM_PACKAGE_PRODUCT}
        -o "${BRIM_PACKAGE_PARTIAL}" "${BRIM_PACKAGE_SOURCE}"
    ${BRIM_PACKAGE_ACTIONS}
    ${BRIM_SIGN_PACKAGE}
    COMMAND "${CMAKE_COMMAND}" -E rename "${BRIM_PACKAGE_PARTIAL}" "${BRIM_PACKAGE_FILE}"
    WORKING_DIRECTORY "${BRIM_PACKAGE_DIR}"
    DEPENDS "${BRIM_PACKAGE_SOURCE}" "${BRIM_PACKAGE_ACTIONS_FILE}" ${BRIM_PACKAGE_PROGRAMS} ${BRIM_PACKAGE_HELP_PAGES}
            ${BRIM_SIGN_DEPENDS}
    COMMENT "Windows Installer package ${BRIM_PACKAGE_PRODUCT}-${BRIM_PACKAGE_VERSION}-${BRIM_PACKAGE_ARCH}.msi"
    VERBATIM)
add_custom_target(package_msi ALL DEPENDS "${BRIM_PACKAGE_FILE}")
