// Fetching the update feed with WinHTTP, on a thread of its own.
//
// winhttp.dll is not one of the system's known DLLs on every version, so a
// static import could be satisfied by a file of that name beside the
// program. It is loaded from the system folder by hand instead, and its
// functions are looked up by name.
#include <windows.h>
#include <process.h>
#include <winhttp.h>

#include "Handles.h"
#include "SystemLibrary.h"
#include "Updater.h"
#include "Version.h"

namespace {

// The request carries nothing but this name besides what HTTP needs.
const wchar_t USER_AGENT[] = L"VelloranUpdater/" BRIM_VERSION_TEXT;
constexpr DWORD READ_CHUNK = 8192;
constexpr DWORD MAX_REDIRECTS = 10;

struct WinHttpFunctions {
    decltype(&WinHttpOpen) Open;
    decltype(&WinHttpCloseHandle) CloseHandle;
    decltype(&WinHttpCrackUrl) CrackUrl;
    decltype(&WinHttpConnect) Connect;
    decltype(&WinHttpOpenRequest) OpenRequest;
    decltype(&WinHttpSetOption) SetOption;
    decltype(&WinHttpSetTimeouts) SetTimeouts;
    decltype(&WinHttpSendRequest) SendRequest;
    decltype(&WinHttpReceiveResponse) ReceiveResponse;
    decltype(&WinHttpQueryHeaders) QueryHeaders;
    decltype(&WinHttpReadData) ReadData;
};

// Filled once by the check's thread, before any handle exists.
WinHttpFunctions WinHttp = {};

// What the thread found; read by others only after it has ended or sent
// WM_FEEDCHECKED.
FeedResponse CheckedResponse;

void CloseInternetHandle(HINTERNET handle)
{
    WinHttp.CloseHandle(handle);
}

using UniqueInternet = UniqueHandle<NullHandleTraits<HINTERNET, CloseInternetHandle>>;

bool LoadWinHttp()
{
    HMODULE module = LoadSystemLibrary(L"winhttp.dll");
    return FindSystemFunction(module, "WinHttpOpen", WinHttp.Open) &&
           FindSystemFunction(module, "WinHttpCloseHandle", WinHttp.CloseHandle) &&
           FindSystemFunction(module, "WinHttpCrackUrl", WinHttp.CrackUrl) &&
           FindSystemFunction(module, "WinHttpConnect", WinHttp.Connect) &&
           FindSystemFunction(module, "WinHttpOpenRequest", WinHttp.OpenRequest) &&
           FindSystemFunction(module, "WinHttpSetOption", WinHttp.SetOption) &&
           FindSystemFunction(module, "WinHttpSetTimeouts", WinHttp.SetTimeouts) &&
           FindSystemFunction(module, "WinHttpSendRequest", WinHttp.SendRequest) &&
           FindSystemFunction(module, "WinHttpReceiveResponse", WinHttp.ReceiveResponse) &&
           FindSystemFunction(module, "WinHttpQueryHeaders", WinHttp.QueryHeaders) &&
           FindSystemFunction(module, "WinHttpReadData", WinHttp.ReadData);
}

// What is left of the time limit, in milliseconds; 0 once it has passed.
int TimeLeft(ULONGLONG deadline)
{
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// Every wait of the request ends by the deadline: set again before each
// step with the time that is left.
bool LimitTo(HINTERNET request, ULONGLONG deadline)
{
    int left = TimeLeft(deadline);
    return left > 0 && WinHttp.SetTimeouts(request, left, left, left, left);
}

// Options that make the request safer but that an older system may not
// know: a failure to set one is not a failure of the check.
void SetOptionalDword(HINTERNET handle, DWORD option, DWORD value)
{
    WinHttp.SetOption(handle, option, &value, sizeof(value));
}

HINTERNET OpenSession()
{
    // The system's proxy settings; the automatic kind is known from
    // Windows 8.1 on, and refused as an invalid parameter before.
    HINTERNET session = WinHttp.Open(USER_AGENT, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        session = WinHttp.Open(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
    return session;
}

// The whole exchange; returns 0 or the Windows error of the step that
// failed. The body is read up to one byte past the feed's size limit.
DWORD FetchFeed(const std::wstring& address, ULONGLONG deadline, FeedResponse* response)
{
    if (!LoadWinHttp())
        return GetLastError();

    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttp.CrackUrl(address.c_str(), static_cast<DWORD>(address.size()), 0, &parts))
        return GetLastError();
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";

    UniqueInternet session(OpenSession());
    if (!session)
        return GetLastError();
    // WinHTTP follows redirects to http and https addresses only; never
    // from https down to http, and not endlessly.
    SetOptionalDword(session.Get(), WINHTTP_OPTION_REDIRECT_POLICY,
                     WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);
    SetOptionalDword(session.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, MAX_REDIRECTS);

    UniqueInternet connection(WinHttp.Connect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection)
        return GetLastError();
    DWORD flags = WINHTTP_FLAG_REFRESH | (parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    UniqueInternet request(WinHttp.OpenRequest(connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request)
        return GetLastError();
    // Neither cookies nor the user's logon credentials go with the request.
    SetOptionalDword(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_COOKIES);
    SetOptionalDword(request.Get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH);

    if (!LimitTo(request.Get(), deadline) ||
        !WinHttp.SendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !LimitTo(request.Get(), deadline) || !WinHttp.ReceiveResponse(request.Get(), nullptr))
        return TimeLeft(deadline) == 0 ? ERROR_WINHTTP_TIMEOUT : GetLastError();

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttp.QueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return GetLastError();
    response->httpStatus = status;
    if (status != 200)
        return 0;

    while (response->body.size() <= FEED_SIZE_LIMIT) {
        size_t before = response->body.size();
        response->body.resize(before + READ_CHUNK);
        DWORD read = 0;
        if (!LimitTo(request.Get(), deadline) ||
            !WinHttp.ReadData(request.Get(), response->body.data() + before, READ_CHUNK, &read))
            return TimeLeft(deadline) == 0 ? ERROR_WINHTTP_TIMEOUT : GetLastError();
        response->body.resize(before + read);
        if (read == 0)
            break;
    }
    if (response->body.size() > FEED_SIZE_LIMIT + 1)
        response->body.resize(FEED_SIZE_LIMIT + 1);
    return 0;
}

struct CheckJob {
    std::wstring address;
    HWND notify;
    ULONGLONG deadline;
};

unsigned __stdcall FeedCheckThread(void* parameter)
{
    CheckJob* job = static_cast<CheckJob*>(parameter);
    DWORD error = FetchFeed(job->address, job->deadline, &CheckedResponse);
    CheckedResponse.timedOut = error == ERROR_WINHTTP_TIMEOUT;
    CheckedResponse.systemError = CheckedResponse.timedOut ? 0 : error;
    if (job->notify != nullptr)
        PostMessageW(job->notify, WM_FEEDCHECKED, 0, 0);
    delete job;
    return 0;
}

}  // namespace

HANDLE StartFeedCheck(const std::wstring& address, HWND notify)
{
    CheckJob* job = new CheckJob{ address, notify, GetTickCount64() + UPDATE_CHECK_TIME_LIMIT };
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FeedCheckThread, job, 0, nullptr));
    if (thread == nullptr)
        delete job;
    return thread;
}

const FeedResponse& FinishedFeedResponse()
{
    return CheckedResponse;
}
