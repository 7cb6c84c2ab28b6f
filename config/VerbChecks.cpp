#include "VerbChecks.h"

#include "DriveQueries.h"
#include "OsLowSpaceSwitchRecord.h"

// The verbs' exit codes are Windows error codes, copied by the pure header.
static_assert(VERB_MALFORMED == ERROR_INVALID_PARAMETER && VERB_NOT_FIXED == ERROR_INVALID_DRIVE &&
                  VERB_UNSUPPORTED == ERROR_NOT_SUPPORTED,
              "VerbLogic.h's exit codes are these Windows errors");

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
