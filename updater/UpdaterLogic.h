// The updater's decisions, apart from the calls that carry them out: its
// command line, the administrator's policy, the update feed, the judgement
// of the feed's answer and what the user is shown. No Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VersionLogic.h"

// ------------------------------------------------------------ command line

// What the calling program said about itself. The launcher's parameters are
// "<file name> 0 <packed version> <origin>" (UPDATER_PARAMETER_TEMPLATE).
struct UpdaterRequest {
    std::wstring callerName;        // the calling program's file name
    uint64_t installedVersion = 0;  // major << 48 | minor << 32 | build << 16 | revision; 0: not known
    int origin = UPDATE_ORIGIN_USER;
    bool wellFormed = false;
};

// Reads the parameters (the command line after the program token). The
// file name is not quoted and may hold spaces, so the three numbers are
// taken from the end. Anything else is malformed: origin 0 (the user
// asked, so a window tells what happened), version 0 (not known).
UpdaterRequest ParseUpdaterParameters(const std::wstring& parameters);

// ------------------------------------------------------------ versions

// "a.b.c.d": four decimal numbers of 0 to 65535, digits only.
std::optional<uint64_t> ParseDottedVersion(const std::wstring& text);

// "a.b.c.d" of a packed version.
std::wstring FormatPackedVersion(uint64_t packed);

// ------------------------------------------------------------ addresses

constexpr size_t WEB_ADDRESS_MAX_LENGTH = 2048;

// An absolute http:// or https:// address (scheme in any case) with a host,
// no white space, control character or quote, at most
// WEB_ADDRESS_MAX_LENGTH characters. The only addresses the updater ever
// fetches or opens.
bool IsWebAddress(const std::wstring& address);

// A web address whose scheme is https: the only kind of page the updater
// offers. A plain http page could be swapped by anyone on the way, and
// the user would open it under our name.
bool IsSecureWebAddress(const std::wstring& address);

// ------------------------------------------------------------ policy

// A registry value as read: whether the read succeeded, its type and bytes.
struct StoredValue {
    bool present = false;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

constexpr uint32_t STORED_TYPE_STRING = 1;  // REG_SZ
constexpr uint32_t STORED_TYPE_DWORD = 4;   // REG_DWORD

struct UpdatePolicy {
    bool checkDisabled = false;  // UpdateCheck = 0: the feed is never contacted
    std::wstring feedAddress;    // UpdateFeedUrl; empty: the maker's feed
};

// UpdateCheck counts only as a 4-byte REG_DWORD, UpdateFeedUrl only as a
// non-empty REG_SZ (read up to its first NUL); anything else is ignored.
UpdatePolicy DecodeUpdatePolicy(const StoredValue& updateCheck, const StoredValue& feedUrl);

// ------------------------------------------------------------ the feed

// The feed is read up to this size; a larger one is malformed.
constexpr size_t FEED_SIZE_LIMIT = 64 * 1024;

struct UpdateFeed {
    uint64_t version = 0;  // packed
    std::wstring page;     // the download page, an http or https address (only https is offered)
};

// A feed: UTF-8 text (a byte-order mark allowed) of "Name=Value" lines
// ended by LF or CR LF. Names are matched without regard to case, and white
// space around names and values is dropped. "Version" (a.b.c.d) and "Page"
// (IsWebAddress) must each appear exactly once; lines without '=' and
// other names are ignored. Invalid UTF-8, a NUL, a size over the limit or a
// missing, repeated or invalid required value make the feed malformed.
std::optional<UpdateFeed> ParseUpdateFeed(const uint8_t* data, size_t size);

// Text as UTF-16 code units (what Windows uses) from strict UTF-8: no
// overlong forms, surrogates or values past U+10FFFF.
std::optional<std::wstring> DecodeUtf8(const uint8_t* data, size_t size);

// ------------------------------------------------------------ the check

// The whole check, contact and answer, must end within this time.
constexpr uint32_t UPDATE_CHECK_TIME_LIMIT = 15000;  // ms

enum CheckFailure {
    CHECK_OK,
    CHECK_BAD_FEED_ADDRESS,  // the policy's address is not an http or https address
    CHECK_SYSTEM_ERROR,      // the request failed; code: the Windows error
    CHECK_HTTP_STATUS,       // the server answered other than 200; code: the status
    CHECK_MALFORMED_FEED,
    CHECK_TIMED_OUT,
    CHECK_INSECURE_PAGE,  // the feed's page is not an https address: not offered
};

// What the fetch brought back: an error, or a status and the body (at most
// FEED_SIZE_LIMIT + 1 bytes are kept, so that a longer one shows).
struct FeedResponse {
    uint32_t systemError = 0;
    bool timedOut = false;
    uint32_t httpStatus = 0;
    std::vector<uint8_t> body;
};

struct CheckResult {
    CheckFailure failure = CHECK_OK;
    uint32_t code = 0;  // the error or status of a failure
    UpdateFeed feed;    // when CHECK_OK
};

CheckResult JudgeFeedResponse(const FeedResponse& response);

// Before any contact: what the policy allows. When the feed may be
// contacted, `address` is where; otherwise `result` says why not.
struct CheckPlan {
    bool contactFeed = false;
    std::wstring address;
    bool managed = false;  // the administrator switched checks off
    CheckResult result;    // when neither contacting nor managed: the failure
};

CheckPlan PlanUpdateCheck(const UpdatePolicy& policy, const std::wstring& defaultAddress);

// ------------------------------------------------------------ what is shown

enum UpdaterView {
    VIEW_NONE,           // no window: end at once
    VIEW_CHECKING,       // the check runs (origin 0 only)
    VIEW_MANAGED,        // checks are switched off by the administrator
    VIEW_OFFER,          // a later version: open its page, or later
    VIEW_OFFER_UNKNOWN,  // the feed's version, the installed one not known
    VIEW_LATEST,         // the installed version is the latest
    VIEW_FAILED,         // the check failed, in words
};

// The schedule (origin 1) shows a window only for a later version than a
// known installed one; the user (origin 0) always gets one.
UpdaterView ChooseView(const UpdaterRequest& request, const CheckResult& result);

// The schedule shows nothing when checks are switched off or cannot start.
UpdaterView ChooseViewWithoutContact(const UpdaterRequest& request, const CheckPlan& plan);
