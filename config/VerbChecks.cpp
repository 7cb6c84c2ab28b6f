#include "VerbChecks.h"

#include "DriveQueries.h"

// The verbs' exit codes are Windows error codes, copied by the pure header.
static_assert(VERB_MALFORMED == ERROR_INVALID_PARAMETER && VERB_NOT_FIXED == ERROR_INVALID_DRIVE &&
                  VERB_UNSUPPORTED == ERROR_NOT_SUPPORTED,
              "VerbLogic.h's exit codes are these Windows errors");

bool IsOsLowSpaceSwitchAvailable()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 1;
    version.wServicePackMajor = 3;
    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, conditions) !=
           FALSE;
}

FixedDrives ReadFixedDrives()
{
    FixedDrives fixed;
    WalkFixedDrives([&fixed](int drive, const wchar_t* root) {
        DriveSpaceFigures space;
        if (!QueryDriveSpace(root, space))
            return;
        fixed.Mask |= 1u << drive;
        fixed.Capacity[drive] = space.TotalBytes;
        fixed.Free[drive] = space.FreeBytes;
    });
    return fixed;
}

VerbProblem CheckVerbsHere(const VerbRequest& request, FixedDrives& fixed)
{
    // The drives are asked only when an assignment may need them.
    fixed = request.Set ? ReadFixedDrives() : FixedDrives();
    return CheckVerbRequest(request, fixed, IsOsLowSpaceSwitchAvailable());
}
