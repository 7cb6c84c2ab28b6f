// What BrimSet's verbs need to know of this machine before they write, and
// the texts that say what stops them: shared by BrimSet and the installer's
// check of the settings given at install (BrimSetCheck.dll), so that both
// take the same decision (VerbLogic.h) from the same facts and say it in the
// same words.
#pragma once

#include <windows.h>

#include "StringTable.h"
#include "VerbLogic.h"

// The fixed drives now, with the sizes the drive list shows: all bytes and
// all free bytes.
FixedDrives ReadFixedDrives();

// CheckVerbRequest over this machine's facts; `fixed` gets the drives it
// checked against (none unless the request sets drives), for the writes
// that follow: a drive that goes meanwhile never leaves a half-applied
// table.
VerbProblem CheckVerbsHere(const VerbRequest& request, FixedDrives& fixed);

// The longest line a verb writes (LoadFormattedString, StringTable.h).
constexpr int VERB_LINE_CAPACITY = 512;
