#include "MonitorLogic.h"

#include "DriveSettingsRecord.h"
#include "VersionLogic.h"

bool HasRestartSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper)
{
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (SwitchLetter(argv[i], upper) == L'R')
            return true;
    }
    return false;
}

std::wstring DriveRootPath(int driveIndex)
{
    std::wstring root = L"A:\\";
    root[0] = DriveLetter(driveIndex);
    return root;
}

std::wstring CleanupToolParameters(int driveIndex)
{
    std::wstring parameters = L"/d";
    parameters += DriveLetter(driveIndex);
    return parameters;
}

std::wstring ExplorerParameters(int driveIndex)
{
    return L"/e," + DriveRootPath(driveIndex);
}

std::wstring ConfigProgramPath(const std::wstring& monitorPath)
{
    return ReplaceFileName(monitorPath, CONFIG_PROGRAM_FILE_NAME);
}
