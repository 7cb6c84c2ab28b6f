#include "EventReport.h"

#include <windows.h>

#include "BrimlineEvents.h"
#include "DriveQueries.h"
#include "Handles.h"
#include "TextFormat.h"

static_assert((MSG_DRIVE_LOW & 0xFFFF) == DRIVE_EVENT_LOW && (MSG_DRIVE_VERY_LOW & 0xFFFF) == DRIVE_EVENT_VERY_LOW &&
                  (MSG_DRIVE_RECOVERED & 0xFFFF) == DRIVE_EVENT_RECOVERED &&
                  (MSG_DRIVE_MUTED & 0xFFFF) == DRIVE_EVENT_MUTED &&
                  (MSG_DRIVE_FILLING_FAST & 0xFFFF) == DRIVE_EVENT_FILLING_FAST,
              "the scan's events are the message table's ids");

namespace {

const wchar_t EVENT_SOURCE_NAME[] = L"Brimline";

// Held until the process ends, as the user's token information.
HANDLE EventSource = nullptr;
UniqueLocalMemory UserTokenInformation;

PSID UserSid()
{
    return UserTokenInformation ? static_cast<TOKEN_USER*>(UserTokenInformation.Get())->User.Sid : nullptr;
}

void ReadUserSid()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    UniqueLocalMemory information(LocalAlloc(LMEM_FIXED, size));
    if (information && GetTokenInformation(token.Get(), TokenUser, information.Get(), size, &size))
        UserTokenInformation = std::move(information);
}

// The full message id and the log's event type of each event.
bool EventMessage(DriveEvent event, DWORD& messageId, WORD& type)
{
    switch (event) {
    case DRIVE_EVENT_LOW:
        messageId = MSG_DRIVE_LOW;
        type = EVENTLOG_WARNING_TYPE;
        return true;
    case DRIVE_EVENT_VERY_LOW:
        messageId = MSG_DRIVE_VERY_LOW;
        type = EVENTLOG_ERROR_TYPE;
        return true;
    case DRIVE_EVENT_RECOVERED:
        messageId = MSG_DRIVE_RECOVERED;
        type = EVENTLOG_INFORMATION_TYPE;
        return true;
    case DRIVE_EVENT_MUTED:
        messageId = MSG_DRIVE_MUTED;
        type = EVENTLOG_INFORMATION_TYPE;
        return true;
    case DRIVE_EVENT_FILLING_FAST:
        messageId = MSG_DRIVE_FILLING_FAST;
        type = EVENTLOG_WARNING_TYPE;
        return true;
    case DRIVE_EVENT_NONE: break;
    }
    return false;
}

}  // namespace

void OpenEventSource()
{
    EventSource = RegisterEventSourceW(nullptr, EVENT_SOURCE_NAME);
    ReadUserSid();
}

void ReportDriveEvent(DriveEvent event, int driveIndex, uint64_t freeBytes, uint64_t threshold, uint32_t minutes)
{
    DWORD messageId = 0;
    WORD type = 0;
    if (EventSource == nullptr || !IsDriveIndex(static_cast<uint64_t>(driveIndex)) ||
        !EventMessage(event, messageId, type))
        return;
    // The insertion strings of BrimlineEvents.mc: the drive, then free
    // space and threshold each as the shell writes sizes and in bytes, and
    // for a drive filling fast the minutes estimated.
    const wchar_t drive[] = { DriveLetter(driveIndex), L':', L'\0' };
    wchar_t freeText[BYTE_SIZE_TEXT_CAPACITY];
    wchar_t thresholdText[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(freeBytes, freeText);
    FormatByteSize(threshold, thresholdText);
    wchar_t freeBytesText[24];
    wchar_t thresholdBytesText[24];
    FormatText(freeBytesText, ARRAYSIZE(freeBytesText), L"%I64u", { freeBytes });
    FormatText(thresholdBytesText, ARRAYSIZE(thresholdBytesText), L"%I64u", { threshold });
    wchar_t minutesText[12];
    FormatText(minutesText, ARRAYSIZE(minutesText), L"%u", { minutes });
    const wchar_t* strings[] = { drive, freeText, freeBytesText, thresholdText, thresholdBytesText, minutesText };
    const WORD count = event == DRIVE_EVENT_FILLING_FAST ? 6 : 5;
    ReportEventW(EventSource, type, 0, messageId, UserSid(), count, 0, strings, nullptr);
}
