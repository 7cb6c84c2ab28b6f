# The pure logic of the programs: plain C++ without Windows headers, one
# static library per folder, built for every target. The main tree links it
# into the programs and the native tests; the fuzz project (tests/fuzz)
# includes this file as well and links the same libraries, instrumented.
# The global property BRIM_LOGIC_LIBRARIES names them all.
get_filename_component(BRIM_LOGIC_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

add_library(brim_common_logic STATIC
    ${BRIM_LOGIC_ROOT}/common/DriveSettingsRecord.cpp
    ${BRIM_LOGIC_ROOT}/common/TextFormat.cpp
    ${BRIM_LOGIC_ROOT}/common/CommandLine.cpp
    ${BRIM_LOGIC_ROOT}/common/VersionLogic.cpp)
target_include_directories(brim_common_logic PUBLIC ${BRIM_LOGIC_ROOT}/common)

add_library(brim_monitor_logic STATIC
    ${BRIM_LOGIC_ROOT}/monitor/ScanLogic.cpp
    ${BRIM_LOGIC_ROOT}/monitor/MonitorLogic.cpp
    ${BRIM_LOGIC_ROOT}/monitor/ReportLogic.cpp)
target_include_directories(brim_monitor_logic PUBLIC ${BRIM_LOGIC_ROOT}/monitor)
target_link_libraries(brim_monitor_logic PUBLIC brim_common_logic)

add_library(brim_config_logic STATIC
    ${BRIM_LOGIC_ROOT}/config/ConfigLogic.cpp
    ${BRIM_LOGIC_ROOT}/config/VerbLogic.cpp)
target_include_directories(brim_config_logic PUBLIC ${BRIM_LOGIC_ROOT}/config)
target_link_libraries(brim_config_logic PUBLIC brim_common_logic)

add_library(brim_updater_logic STATIC
    ${BRIM_LOGIC_ROOT}/updater/UpdaterLogic.cpp)
target_include_directories(brim_updater_logic PUBLIC ${BRIM_LOGIC_ROOT}/updater)
target_link_libraries(brim_updater_logic PUBLIC brim_common_logic)

add_library(brim_installer_logic STATIC
    ${BRIM_LOGIC_ROOT}/installer/InstallLogic.cpp)
target_include_directories(brim_installer_logic PUBLIC ${BRIM_LOGIC_ROOT}/installer)
target_link_libraries(brim_installer_logic PUBLIC brim_common_logic)

set_property(GLOBAL PROPERTY BRIM_LOGIC_LIBRARIES
    brim_common_logic brim_monitor_logic brim_config_logic brim_updater_logic brim_installer_logic)
