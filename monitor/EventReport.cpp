#include "EventReport.h"

#include <windows.h>

#include "BrimlineEvents.h"
#include "DriveQueries.h"
#include "Handles.h"
#include "MonitorLogic.h"
#include "ReportLogic.h"
#include "SignalEvents.h"
#include "TextFormat.h"

static_assert((MSG_DRIVE_LOW & 0xFFFF) == DRIVE_EVENT_LOW && (MSG_DRIVE_VERY_LOW & 0xFFFF) == DRIVE_EVENT_VERY_LOW &&
                  (MSG_DRIVE_RECOVERED & 0xFFFF) == DRIVE_EVENT_RECOVERED &&
                  (MSG_DRIVE_MUTED & 0xFFFF) == DRIVE_EVENT_MUTED &&
                  (MSG_DRIVE_FILLING_FAST & 0xFFFF) == DRIVE_EVENT_FILLING_FAST,
              "the scan's events are the message table's ids");

namespace {

const wchar_t EVENT_SOURCE_NAME[] = L"Brimline";

// The reporter's role and the record of what the log was told of each
// drive, in the Global namespace, so that the monitors of every session
// share them. Every monitor holds them open from its start to its end: the
// record outlives the reporter as long as any monitor runs, and when none
// runs, none needs it.
const wchar_t REPORT_ROLE_NAME[] = L"Global\\{F5F29E0E-0FC0-4F8E-8110-DE992233B8F5}.Reporter";
// A drive's part of the record, by part and letter ("...Low.D").
const wchar_t RECORD_NAME_TEMPLATE[] = L"Global\\{F5F29E0E-0FC0-4F8E-8110-DE992233B8F5}.%s.%c";
constexpr size_t RECORD_NAME_CAPACITY = 80;

// What each kind of object grants, and all the monitors do with it: wait
// for it (which takes the role), and change the record's state. The role
// is never released by hand: it goes with the process that holds it.
constexpr DWORD ROLE_ACCESS = SYNCHRONIZE;
constexpr DWORD BIT_ACCESS = SYNCHRONIZE | EVENT_MODIFY_STATE;
constexpr DWORD FORECAST_ACCESS = SYNCHRONIZE | TIMER_MODIFY_STATE;

// A drive's record: its two level bits (manual-reset events, set for 1; see
// LevelBitWrites), and the log's hearing of its fill (a manual-reset timer,
// not yet fired while that stands).
struct DriveRecordHandles {
    UniqueKernelHandle lowBit;
    UniqueKernelHandle veryLowBit;
    UniqueKernelHandle forecast;
};

// Held until the process ends, as the user's token information. The role
// is owned by the window thread once taken, and given up when the process
// ends (the next monitor finds it abandoned, which counts as free).
HANDLE EventSource = nullptr;
UniqueLocalMemory UserTokenInformation;
UniqueKernelHandle ReportRole;
DriveRecordHandles ToldRecord[DRIVE_COUNT];
ReportRoleState RoleState;
UINT_PTR RoleRetryTimer = 0;

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

// A descriptor whose DACL grants `access` to SYSTEM, the administrators and
// the interactive users (every logged-on user, whose monitor takes part),
// and nothing to anyone else: a network logon, a service account or an
// anonymous caller can neither open the objects to take the role nor
// block it. Returns the owner of the ACL; empty on failure.
UniqueLocalMemory BuildReportSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD access)
{
    const WELL_KNOWN_SID_TYPE accounts[] = { WinLocalSystemSid, WinBuiltinAdministratorsSid, WinInteractiveSid };
    return BuildGrantingSecurityDescriptor(descriptor, accounts, ARRAYSIZE(accounts), access);
}

// The security attributes of one kind of object; null when the descriptor
// could not be built, and the objects are then not made.
struct ObjectSecurity {
    SECURITY_DESCRIPTOR descriptor = {};
    UniqueLocalMemory acl;
    SECURITY_ATTRIBUTES attributes = {};

    explicit ObjectSecurity(DWORD access) : acl(BuildReportSecurityDescriptor(&descriptor, access))
    {
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = &descriptor;
    }
    ObjectSecurity(const ObjectSecurity&) = delete;
    ObjectSecurity& operator=(const ObjectSecurity&) = delete;

    SECURITY_ATTRIBUTES* Get() { return acl ? &attributes : nullptr; }
};

void RecordName(wchar_t (&name)[RECORD_NAME_CAPACITY], const wchar_t* part, int driveIndex)
{
    FormatText(name, RECORD_NAME_CAPACITY, RECORD_NAME_TEMPLATE, { part, DriveLetter(driveIndex) });
}

bool IsSignalled(HANDLE object)
{
    return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
}

// Arms the drive's forecast timer for FORECAST_TOLD_SPAN when the log heard
// of its fill, or fires it at once (a time long past) when no fill stands.
void SetForecastTold(HANDLE timer, bool told)
{
    LARGE_INTEGER due = {};
    due.QuadPart = told ? -static_cast<LONGLONG>(FORECAST_TOLD_SPAN) * 10000 : 1;
    SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}

// Creates the role and the record, or opens them where another monitor made
// them first; the monitor then takes part. A name held by an object of
// another kind (ERROR_INVALID_HANDLE) or by one this monitor may not open
// (ERROR_ACCESS_DENIED) is not ours: the monitor then writes every event
// itself, since an event written twice is better than one never written.
// What no DACL can tell: an account that makes the role's name before any
// monitor runs, and lets the monitors open it, holds the role itself.
void OpenReportRole()
{
    ObjectSecurity roleSecurity(ROLE_ACCESS);
    ObjectSecurity bitSecurity(BIT_ACCESS);
    ObjectSecurity forecastSecurity(FORECAST_ACCESS);
    if (!roleSecurity.Get() || !bitSecurity.Get() || !forecastSecurity.Get())
        return;
    ReportRole.Reset(CreateMutexExW(roleSecurity.Get(), REPORT_ROLE_NAME, 0, ROLE_ACCESS));
    bool opened = static_cast<bool>(ReportRole);
    for (int index = 0; opened && index < DRIVE_COUNT; ++index) {
        DriveRecordHandles& record = ToldRecord[index];
        wchar_t name[RECORD_NAME_CAPACITY];
        RecordName(name, L"Low", index);
        record.lowBit.Reset(CreateEventExW(bitSecurity.Get(), name, CREATE_EVENT_MANUAL_RESET, BIT_ACCESS));
        RecordName(name, L"VeryLow", index);
        record.veryLowBit.Reset(CreateEventExW(bitSecurity.Get(), name, CREATE_EVENT_MANUAL_RESET, BIT_ACCESS));
        RecordName(name, L"Forecast", index);
        HANDLE timer =
            CreateWaitableTimerExW(forecastSecurity.Get(), name, CREATE_WAITABLE_TIMER_MANUAL_RESET, FORECAST_ACCESS);
        // A new timer has not fired, which would read as a fill the log heard of.
        if (timer != nullptr && GetLastError() != ERROR_ALREADY_EXISTS)
            SetForecastTold(timer, false);
        record.forecast.Reset(timer);
        opened = record.lowBit && record.veryLowBit && record.forecast;
    }
    if (!opened) {
        ReportRole.Reset();
        for (DriveRecordHandles& record : ToldRecord)
            record = DriveRecordHandles();
        return;
    }
    RoleState.standing = REPORT_STANDING_WAITING;
}

// Writes one event to the log; false when it could not.
bool WriteToLog(DriveEvent event, int driveIndex, const EventFigures& figures)
{
    DWORD messageId = 0;
    WORD type = 0;
    if (!EventMessage(event, messageId, type))
        return false;
    // The insertion strings of BrimlineEvents.mc: the drive, then free
    // space and threshold each as the shell writes sizes and in bytes, and
    // for a drive filling fast the minutes estimated.
    const wchar_t drive[] = { DriveLetter(driveIndex), L':', L'\0' };
    wchar_t freeText[BYTE_SIZE_TEXT_CAPACITY];
    wchar_t thresholdText[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(figures.freeBytes, freeText);
    FormatByteSize(figures.threshold, thresholdText);
    wchar_t freeBytesText[24];
    wchar_t thresholdBytesText[24];
    FormatText(freeBytesText, ARRAYSIZE(freeBytesText), L"%I64u", { figures.freeBytes });
    FormatText(thresholdBytesText, ARRAYSIZE(thresholdBytesText), L"%I64u", { figures.threshold });
    wchar_t minutesText[12];
    FormatText(minutesText, ARRAYSIZE(minutesText), L"%u", { figures.minutes });
    const wchar_t* strings[] = { drive, freeText, freeBytesText, thresholdText, thresholdBytesText, minutesText };
    const WORD count = event == DRIVE_EVENT_FILLING_FAST ? 6 : 5;
    return ReportEventW(EventSource, type, 0, messageId, UserSid(), count, 0, strings, nullptr) != FALSE;
}

void CALLBACK OnRoleRetryTimer(HWND, UINT, UINT_PTR, DWORD);

// The role, the record and the log, as ReportLogic.h sees them.
struct MachineLog {
    bool TakeRole()
    {
        const DWORD result = WaitForSingleObject(ReportRole.Get(), 0);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }

    ToldDrive ReadTold(int driveIndex)
    {
        const DriveRecordHandles& record = ToldRecord[driveIndex];
        ToldDrive told;
        told.level = LevelOfBits(IsSignalled(record.lowBit.Get()), IsSignalled(record.veryLowBit.Get()));
        told.forecastTold = WaitForSingleObject(record.forecast.Get(), 0) == WAIT_TIMEOUT;
        return told;
    }

    void WriteTold(int driveIndex, const ToldDrive& told)
    {
        const DriveRecordHandles& record = ToldRecord[driveIndex];
        LevelBitWrite writes[2];
        LevelBitWrites(told.level, writes);
        for (const LevelBitWrite& write : writes) {
            HANDLE bit = write.veryLowBit ? record.veryLowBit.Get() : record.lowBit.Get();
            if (write.set)
                SetEvent(bit);
            else
                ResetEvent(bit);
        }
        SetForecastTold(record.forecast.Get(), told.forecastTold);
    }

    bool WriteEvent(int driveIndex, DriveEvent event, const EventFigures& figures)
    {
        return WriteToLog(event, driveIndex, figures);
    }

    void AdoptLevels(const DriveLevelArray& levels) { AdoptReportedLevels(levels); }

    // A thread timer, dispatched by the window thread's message loop: one
    // try each scan period, the reporter's own pass coming within one.
    void RetryLater(bool retry)
    {
        if (retry && RoleRetryTimer == 0) {
            RoleRetryTimer = SetTimer(nullptr, 0, SCAN_PERIOD, OnRoleRetryTimer);
        } else if (!retry && RoleRetryTimer != 0) {
            KillTimer(nullptr, RoleRetryTimer);
            RoleRetryTimer = 0;
        }
    }

    uint32_t Now() { return GetTickCount(); }
};

void CALLBACK OnRoleRetryTimer(HWND, UINT, UINT_PTR, DWORD)
{
    MachineLog machine;
    RetryReportRole(RoleState, machine);
}

}  // namespace

void OpenEventSource()
{
    EventSource = RegisterEventSourceW(nullptr, EVENT_SOURCE_NAME);
    ReadUserSid();
    // A monitor that cannot write to the log takes no part in its reports.
    if (EventSource != nullptr)
        OpenReportRole();
}

void ReportDriveEvent(DriveEvent event, int driveIndex, uint64_t freeBytes, uint64_t threshold, uint32_t minutes)
{
    if (EventSource == nullptr || !IsDriveIndex(static_cast<uint64_t>(driveIndex)))
        return;
    MachineLog machine;
    TellDriveEvent(RoleState, driveIndex, event, { freeBytes, threshold, minutes }, machine);
}
