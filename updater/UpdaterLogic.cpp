#include "UpdaterLogic.h"

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

std::wstring Trim(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

wchar_t AsciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool EqualsAsciiNoCase(const std::wstring& text, size_t offset, const wchar_t* word)
{
    for (size_t i = 0; word[i] != L'\0'; ++i) {
        if (offset + i >= text.size() || AsciiLower(text[offset + i]) != word[i])
            return false;
    }
    return true;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// A signed decimal 64-bit number, the whole text.
std::optional<int64_t> ParseSignedDecimal(const std::wstring& text)
{
    size_t i = 0;
    bool negative = text.size() > 1 && text[0] == L'-';
    if (negative)
        i = 1;
    if (i >= text.size())
        return std::nullopt;
    const uint64_t limit = negative ? uint64_t{ 1 } << 63 : (uint64_t{ 1 } << 63) - 1;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        uint64_t digit = static_cast<uint64_t>(text[i] - L'0');
        if (value > (limit - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

// The last white-space-separated token of text[0, end): its start.
size_t LastTokenStart(const std::wstring& text, size_t end)
{
    size_t start = end;
    while (start > 0 && !IsBlank(text[start - 1]))
        --start;
    return start;
}

size_t SkipBlanksBackwards(const std::wstring& text, size_t end)
{
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return end;
}

void AppendUtf16(std::wstring& out, uint32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<wchar_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
}

}  // namespace

UpdaterRequest ParseUpdaterParameters(const std::wstring& parameters)
{
    const UpdaterRequest malformed;
    size_t end = SkipBlanksBackwards(parameters, parameters.size());
    size_t originStart = LastTokenStart(parameters, end);
    std::wstring origin = parameters.substr(originStart, end - originStart);

    end = SkipBlanksBackwards(parameters, originStart);
    size_t versionStart = LastTokenStart(parameters, end);
    std::optional<int64_t> version = ParseSignedDecimal(parameters.substr(versionStart, end - versionStart));

    end = SkipBlanksBackwards(parameters, versionStart);
    size_t zeroStart = LastTokenStart(parameters, end);
    std::wstring zero = parameters.substr(zeroStart, end - zeroStart);

    std::wstring name = Trim(parameters.substr(0, zeroStart));
    if (name.empty() || zero != L"0" || !version || (origin != L"0" && origin != L"1"))
        return malformed;

    UpdaterRequest request;
    request.callerName = name;
    request.installedVersion = static_cast<uint64_t>(*version);
    request.origin = origin == L"1" ? UPDATE_ORIGIN_SCHEDULE : UPDATE_ORIGIN_USER;
    request.wellFormed = true;
    return request;
}

std::optional<uint64_t> ParseDottedVersion(const std::wstring& text)
{
    uint64_t packed = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != L'.')
                return std::nullopt;
            ++i;
        }
        size_t digits = 0;
        uint32_t value = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
            value = value * 10 + static_cast<uint32_t>(text[i] - L'0');
            if (value > 0xFFFF)
                return std::nullopt;
        }
        if (digits == 0)
            return std::nullopt;
        packed = (packed << 16) | value;
    }
    if (i != text.size())
        return std::nullopt;
    return packed;
}

std::wstring FormatPackedVersion(uint64_t packed)
{
    return FormatVersionNumbers(static_cast<uint32_t>(packed >> 32), static_cast<uint32_t>(packed));
}

bool IsWebAddress(const std::wstring& address)
{
    if (address.size() > WEB_ADDRESS_MAX_LENGTH)
        return false;
    size_t hostStart = 0;
    if (EqualsAsciiNoCase(address, 0, L"http://"))
        hostStart = 7;
    else if (EqualsAsciiNoCase(address, 0, L"https://"))
        hostStart = 8;
    else
        return false;
    // A host: something before the path, query or fragment begins.
    if (hostStart >= address.size() || address.find_first_of(L"/?#", hostStart) == hostStart)
        return false;
    for (wchar_t c : address) {
        if (c <= L' ' || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == L'"')
            return false;
    }
    return true;
}

bool IsSecureWebAddress(const std::wstring& address)
{
    return IsWebAddress(address) && EqualsAsciiNoCase(address, 0, L"https://");
}

UpdatePolicy DecodeUpdatePolicy(const StoredValue& updateCheck, const StoredValue& feedUrl)
{
    UpdatePolicy policy;
    if (updateCheck.present && updateCheck.type == STORED_TYPE_DWORD && updateCheck.data.size() == 4) {
        const std::vector<uint8_t>& d = updateCheck.data;
        policy.checkDisabled = (d[0] | d[1] | d[2] | d[3]) == 0;
    }
    if (feedUrl.present && feedUrl.type == STORED_TYPE_STRING) {
        // UTF-16 little-endian, up to the first NUL; an odd last byte is no
        // character.
        std::wstring address;
        for (size_t i = 0; i + 1 < feedUrl.data.size(); i += 2) {
            wchar_t c = static_cast<wchar_t>(feedUrl.data[i] | (feedUrl.data[i + 1] << 8));
            if (c == L'\0')
                break;
            address.push_back(c);
        }
        policy.feedAddress = address;
    }
    return policy;
}

std::optional<std::wstring> DecodeUtf8(const uint8_t* data, size_t size)
{
    std::wstring text;
    size_t i = 0;
    while (i < size) {
        uint8_t lead = data[i];
        if (lead < 0x80) {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        // The lead byte gives the length, its payload bits and the least
        // value that needs that length.
        size_t length = 4;
        uint32_t codePoint = lead & 0x07u;
        uint32_t minimum = 0x10000;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1Fu;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0Fu;
            minimum = 0x800;
        } else if ((lead & 0xF8) != 0xF0) {
            return std::nullopt;
        }
        if (size - i < length)
            return std::nullopt;
        for (size_t k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            codePoint = (codePoint << 6) | (data[i + k] & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return std::nullopt;
        AppendUtf16(text, codePoint);
        i += length;
    }
    return text;
}

std::optional<UpdateFeed> ParseUpdateFeed(const uint8_t* data, size_t size)
{
    if (size > FEED_SIZE_LIMIT || (data == nullptr && size != 0))
        return std::nullopt;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        size -= 3;
    }
    std::optional<std::wstring> text = DecodeUtf8(data, size);
    if (!text || text->find(L'\0') != std::wstring::npos)
        return std::nullopt;

    std::optional<uint64_t> version;
    std::optional<std::wstring> page;
    bool valid = true;
    size_t start = 0;
    while (valid && start <= text->size()) {
        size_t end = text->find(L'\n', start);
        if (end == std::wstring::npos)
            end = text->size();
        std::wstring line = text->substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        start = end + 1;

        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            continue;
        std::wstring name = Trim(line.substr(0, equals));
        std::wstring value = Trim(line.substr(equals + 1));
        if (name.size() == 7 && EqualsAsciiNoCase(name, 0, L"version")) {
            valid = !version.has_value();
            version = ParseDottedVersion(value);
            valid = valid && version.has_value();
        } else if (name.size() == 4 && EqualsAsciiNoCase(name, 0, L"page")) {
            valid = !page.has_value() && IsWebAddress(value);
            page = value;
        }
    }
    if (!valid || !version || !page)
        return std::nullopt;
    return UpdateFeed{ *version, *page };
}

CheckResult JudgeFeedResponse(const FeedResponse& response)
{
    CheckResult result;
    if (response.timedOut) {
        result.failure = CHECK_TIMED_OUT;
    } else if (response.systemError != 0) {
        result.failure = CHECK_SYSTEM_ERROR;
        result.code = response.systemError;
    } else if (response.httpStatus != 200) {
        result.failure = CHECK_HTTP_STATUS;
        result.code = response.httpStatus;
    } else if (std::optional<UpdateFeed> feed = ParseUpdateFeed(response.body.data(), response.body.size())) {
        result.feed = *feed;
        if (!IsSecureWebAddress(feed->page))
            result.failure = CHECK_INSECURE_PAGE;
    } else {
        result.failure = CHECK_MALFORMED_FEED;
    }
    return result;
}

CheckPlan PlanUpdateCheck(const UpdatePolicy& policy, const std::wstring& defaultAddress)
{
    CheckPlan plan;
    if (policy.checkDisabled) {
        plan.managed = true;
        return plan;
    }
    // An address the administrator set but that is no web address is not
    // replaced by the maker's: the administrator meant another server.
    const std::wstring& address = policy.feedAddress.empty() ? defaultAddress : policy.feedAddress;
    if (!IsWebAddress(address)) {
        plan.result.failure = CHECK_BAD_FEED_ADDRESS;
        return plan;
    }
    plan.contactFeed = true;
    plan.address = address;
    return plan;
}

UpdaterView ChooseView(const UpdaterRequest& request, const CheckResult& result)
{
    const bool user = request.origin != UPDATE_ORIGIN_SCHEDULE;
    if (result.failure != CHECK_OK)
        return user ? VIEW_FAILED : VIEW_NONE;
    if (request.installedVersion == 0)
        return user ? VIEW_OFFER_UNKNOWN : VIEW_NONE;
    if (result.feed.version > request.installedVersion)
        return VIEW_OFFER;
    return user ? VIEW_LATEST : VIEW_NONE;
}

UpdaterView ChooseViewWithoutContact(const UpdaterRequest& request, const CheckPlan& plan)
{
    if (request.origin == UPDATE_ORIGIN_SCHEDULE)
        return VIEW_NONE;
    return plan.managed ? VIEW_MANAGED : VIEW_FAILED;
}
