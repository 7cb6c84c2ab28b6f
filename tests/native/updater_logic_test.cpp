#include <gtest/gtest.h>

#include <string>

#include "CommandLine.h"
#include "UpdaterLogic.h"
#include "Version.h"

namespace {

constexpr uint64_t V2410 = 562967133356032;  // 2.4.1.0

std::optional<UpdateFeed> Feed(const std::string& text)
{
    return ParseUpdateFeed(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

StoredValue Dword(uint32_t value, uint32_t type = STORED_TYPE_DWORD)
{
    return { true, type, { uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24) } };
}

StoredValue String(const std::wstring& text, uint32_t type = STORED_TYPE_STRING)
{
    StoredValue value{ true, type, {} };
    for (wchar_t c : text + L'\0') {
        value.data.push_back(uint8_t(c));
        value.data.push_back(uint8_t(c >> 8));
    }
    return value;
}

CheckResult Found(uint64_t version)
{
    CheckResult result;
    result.feed.version = version;
    return result;
}

}  // namespace

TEST(UpdaterParameters, ReadsWhatTheLauncherWrites)
{
    // (The fuzz target checks the round trip from FormatUpdaterParameters.)
    // A renamed program with spaces in its name, and a version whose major
    // part sets the sign bit of the signed number.
    UpdaterRequest request = ParseUpdaterParameters(L"My Brim Set.exe 0 -9223372036854775808 0");
    EXPECT_TRUE(request.wellFormed);
    EXPECT_EQ(request.callerName, L"My Brim Set.exe");
    EXPECT_EQ(request.installedVersion, uint64_t{ 1 } << 63);
    EXPECT_EQ(request.origin, UPDATE_ORIGIN_USER);
    // The process's own command line, program token first.
    EXPECT_EQ(std::wstring(SkipProgramToken(L"\"C:\\Program Files\\U.exe\"  BrimSet.exe 0 1 0")), L"BrimSet.exe 0 1 0");
    EXPECT_EQ(std::wstring(SkipProgramToken(L"U.exe\tx")), L"x");
}

TEST(UpdaterParameters, AnythingElseIsTheUserAskingWithNoVersionKnown)
{
    for (const wchar_t* bad :
         { L"", L"BrimSet.exe", L"0 562967133356032 1", L"BrimSet.exe 1 562967133356032 1",
           L"BrimSet.exe 0 562967133356032 2", L"BrimSet.exe 0 5629x 1", L"BrimSet.exe 0 9223372036854775808 1",
           L"BrimSet.exe 0 - 1", L"BrimSet.exe 0 562967133356032 1 extra", L"BrimSet.exe 0 +5 1" }) {
        UpdaterRequest request = ParseUpdaterParameters(bad);
        EXPECT_FALSE(request.wellFormed) << bad;
        EXPECT_EQ(request.origin, UPDATE_ORIGIN_USER) << bad;
        EXPECT_EQ(request.installedVersion, 0u) << bad;
    }
}

TEST(UpdaterVersions, DottedFourPartsOfSixteenBits)
{
    EXPECT_EQ(ParseDottedVersion(L"2.4.1.0"), V2410);
    EXPECT_EQ(ParseDottedVersion(L"65535.0.0.65535"), 0xFFFF00000000FFFFull);
    EXPECT_EQ(ParseDottedVersion(L"02.004.1.0"), V2410);
    for (const wchar_t* bad : { L"2.4.1", L"2.4.1.0.0", L"2.4.1.65536", L"2.4..0", L"2.4.1.0 ", L"-2.4.1.0",
                                L"v2.4.1.0", L"2.4.1.99999999999", L"" })
        EXPECT_FALSE(ParseDottedVersion(bad)) << bad;
    EXPECT_EQ(FormatPackedVersion(V2410), L"2.4.1.0");
    // Packed versions order as their parts do.
    EXPECT_LT(*ParseDottedVersion(L"2.4.1.0"), *ParseDottedVersion(L"2.4.1.1"));
    EXPECT_LT(*ParseDottedVersion(L"2.4.65535.65535"), *ParseDottedVersion(L"2.5.0.0"));
}

TEST(UpdaterAddresses, OnlyHttpAndHttpsWithAHost)
{
    for (const wchar_t* good : { L"http://127.0.0.1:8080/feed.txt", L"HTTPS://example.com", L"https://h?q=1" })
        EXPECT_TRUE(IsWebAddress(good)) << good;
    for (const wchar_t* bad : { L"file:///C:/x.exe", L"ftp://example.com/", L"http:/example.com", L"https://",
                                L"http:///path", L"https://a b", L"https://a\"b", L"https://a\tb",
                                L"javascript:alert(1)", L" https://example.com", L"\\\\server\\share" })
        EXPECT_FALSE(IsWebAddress(bad)) << bad;
    EXPECT_TRUE(IsWebAddress(L"https://e/" + std::wstring(WEB_ADDRESS_MAX_LENGTH - 10, L'a')));
    EXPECT_FALSE(IsWebAddress(L"https://e/" + std::wstring(WEB_ADDRESS_MAX_LENGTH - 9, L'a')));
    EXPECT_TRUE(IsWebAddress(BRIM_UPDATE_FEED_URL));
}

TEST(UpdaterPolicy, OnlyValuesOfTheirOwnTypeCount)
{
    const StoredValue absent;
    EXPECT_TRUE(DecodeUpdatePolicy(Dword(0), absent).checkDisabled);
    EXPECT_FALSE(DecodeUpdatePolicy(Dword(1), absent).checkDisabled);
    EXPECT_FALSE(DecodeUpdatePolicy(Dword(0x100), absent).checkDisabled);
    EXPECT_FALSE(DecodeUpdatePolicy(Dword(0, STORED_TYPE_STRING), absent).checkDisabled);
    StoredValue qword{ true, 11, std::vector<uint8_t>(8, 0) };
    EXPECT_FALSE(DecodeUpdatePolicy(qword, absent).checkDisabled);
    StoredValue failedRead = Dword(0);
    failedRead.present = false;
    EXPECT_FALSE(DecodeUpdatePolicy(failedRead, absent).checkDisabled);

    EXPECT_EQ(DecodeUpdatePolicy(absent, String(L"http://127.0.0.1/f")).feedAddress, L"http://127.0.0.1/f");
    EXPECT_EQ(DecodeUpdatePolicy(absent, String(L"http://a", 2)).feedAddress, L"");  // REG_EXPAND_SZ
    StoredValue unterminated = String(L"http://a");
    unterminated.data.resize(unterminated.data.size() - 1);  // an odd byte, no NUL
    EXPECT_EQ(DecodeUpdatePolicy(absent, unterminated).feedAddress, L"http://a");
}

TEST(UpdaterPolicy, PlanContactsOnlyWhatThePolicyAllows)
{
    const std::wstring maker = BRIM_UPDATE_FEED_URL;
    CheckPlan plan = PlanUpdateCheck(UpdatePolicy{}, maker);
    EXPECT_TRUE(plan.contactFeed);
    EXPECT_EQ(plan.address, maker);
    plan = PlanUpdateCheck(UpdatePolicy{ false, L"http://127.0.0.1:1/f" }, maker);
    EXPECT_EQ(plan.address, L"http://127.0.0.1:1/f");
    // Switched off wins over any address; a bad address is not swapped for
    // the maker's.
    plan = PlanUpdateCheck(UpdatePolicy{ true, L"http://127.0.0.1:1/f" }, maker);
    EXPECT_FALSE(plan.contactFeed);
    EXPECT_TRUE(plan.managed);
    plan = PlanUpdateCheck(UpdatePolicy{ false, L"file://c:/feed.txt" }, maker);
    EXPECT_FALSE(plan.contactFeed);
    EXPECT_FALSE(plan.managed);
    EXPECT_EQ(plan.result.failure, CHECK_BAD_FEED_ADDRESS);

    UpdaterRequest schedule = ParseUpdaterParameters(L"BrimWatch.exe 0 1 1");
    UpdaterRequest user = ParseUpdaterParameters(L"BrimSet.exe 0 1 0");
    EXPECT_EQ(ChooseViewWithoutContact(schedule, PlanUpdateCheck(UpdatePolicy{ true, L"" }, maker)), VIEW_NONE);
    EXPECT_EQ(ChooseViewWithoutContact(user, PlanUpdateCheck(UpdatePolicy{ true, L"" }, maker)), VIEW_MANAGED);
    EXPECT_EQ(ChooseViewWithoutContact(user, plan), VIEW_FAILED);
    EXPECT_EQ(ChooseViewWithoutContact(schedule, plan), VIEW_NONE);
}

TEST(UpdateFeed, ReadsVersionAndPage)
{
    std::optional<UpdateFeed> feed = Feed("\xEF\xBB\xBFVersion=2.4.1.0\r\n# comment\n Page = https://e/dl\nNews=x=y\n");
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->version, V2410);
    EXPECT_EQ(feed->page, L"https://e/dl");
    feed = Feed("page=http://e/\xC3\xA9\xF0\x9F\x98\x80\nVERSION=3.0.0.0");  // no final line end
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->version, uint64_t{ 3 } << 48);
    EXPECT_EQ(feed->page, std::wstring(L"http://e/") + wchar_t(0xE9) + wchar_t(0xD83D) + wchar_t(0xDE00));
}

TEST(UpdateFeed, AnythingElseIsMalformed)
{
    const std::string good = "Version=2.4.1.0\nPage=https://e/\n";
    EXPECT_TRUE(Feed(good));
    for (const std::string& bad :
         { std::string(""), std::string("Version=2.4.1.0\n"), std::string("Page=https://e/\n"),
           good + "Version=2.4.1.0\n", good + "Page=https://e/\n", std::string("Version=2.4.1\nPage=https://e/\n"),
           std::string("Version=2.4.1.0\nPage=file:///c:/x.exe\n"),
           std::string("Version=2.4.1.0\nPage=https://e/\xC0\xAF\n"),      // overlong '/'
           std::string("Version=2.4.1.0\nPage=https://e/\xED\xA0\x80\n"),  // a surrogate
           good + std::string("\0", 1), std::string("<html>404</html>") })
        EXPECT_FALSE(Feed(bad)) << bad;
    // At most 64 KiB: filler lines up to the limit are fine, one byte more
    // is not.
    std::string padded = good + std::string(FEED_SIZE_LIMIT - good.size(), '\n');
    EXPECT_TRUE(Feed(padded));
    EXPECT_FALSE(Feed(padded + "\n"));
}

TEST(UpdateCheck, JudgesTheAnswerAndTheScheduleShowsOnlyALaterVersion)
{
    FeedResponse response{ 0, false, 200, {} };
    EXPECT_EQ(JudgeFeedResponse(response).failure, CHECK_MALFORMED_FEED);  // an empty body
    const std::string text = "Version=9.0.0.0\nPage=https://e/";
    response.body.assign(text.begin(), text.end());
    EXPECT_EQ(JudgeFeedResponse(response).feed.version, uint64_t{ 9 } << 48);
    // A page that is not https is a failed check, never an offer.
    for (const std::string page : { "http://e/", "HTTP://e/" }) {
        const std::string insecure = "Version=9.0.0.0\nPage=" + page;
        FeedResponse plain{ 0, false, 200, std::vector<uint8_t>(insecure.begin(), insecure.end()) };
        EXPECT_EQ(JudgeFeedResponse(plain).failure, CHECK_INSECURE_PAGE);
        EXPECT_EQ(ChooseView(ParseUpdaterParameters(L"BrimSet.exe 0 562967133356032 0"), JudgeFeedResponse(plain)),
                  VIEW_FAILED);
    }
    EXPECT_TRUE(IsSecureWebAddress(L"HTTPS://e/"));
    response.httpStatus = 404;
    EXPECT_EQ(JudgeFeedResponse(response).code, 404u);
    response.systemError = 12029;  // before the status: there is none
    EXPECT_EQ(JudgeFeedResponse(response).failure, CHECK_SYSTEM_ERROR);
    EXPECT_EQ(JudgeFeedResponse(response).code, 12029u);

    const UpdaterRequest schedule = ParseUpdaterParameters(L"BrimWatch.exe 0 562967133356032 1");
    const UpdaterRequest user = ParseUpdaterParameters(L"BrimSet.exe 0 562967133356032 0");
    const CheckResult failed = JudgeFeedResponse(response);
    const struct {
        CheckResult result;
        UpdaterView schedule, user;
    } cases[] = { { Found(V2410 + 1), VIEW_OFFER, VIEW_OFFER },
                  { Found(V2410), VIEW_NONE, VIEW_LATEST },
                  { Found(V2410 - 1), VIEW_NONE, VIEW_LATEST },
                  { failed, VIEW_NONE, VIEW_FAILED } };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseView(schedule, c.result), c.schedule) << c.result.feed.version;
        EXPECT_EQ(ChooseView(user, c.result), c.user) << c.result.feed.version;
    }
    EXPECT_EQ(ChooseView(ParseUpdaterParameters(L"garbage"), Found(1)), VIEW_OFFER_UNKNOWN);
    // The monitor of a program without a version block never nags.
    EXPECT_EQ(ChooseView(ParseUpdaterParameters(L"BrimWatch.exe 0 0 1"), Found(V2410)), VIEW_NONE);
}
