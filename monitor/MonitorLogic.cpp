#include "MonitorLogic.h"

#include "DriveRoots.h"
#include "DriveSettingsRecord.h"
#include "VersionLogic.h"

bool HasRestartSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper)
{
    return HasSwitch(argc, argv, L'R', upper);
}

std::wstring CleanupToolParameters(int driveIndex)
{
    std::wstring parameters = L"/d";
    parameters += DriveLetter(driveIndex);
    return parameters;
}

std::wstring ExplorerParameters(int driveIndex)
{
    return std::wstring(L"/e,") + DriveRoot(driveIndex).Text;
}

std::wstring ConfigProgramPath(const std::wstring& monitorPath)
{
    return ReplaceFileName(monitorPath, CONFIG_PROGRAM_FILE_NAME);
}
