#include "VersionLogic.h"

#include "TextFormat.h"

namespace {

bool IsHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

size_t ChooseVersionTranslation(const uint16_t* languages, size_t count, uint16_t userLanguage)
{
    // The primary language is the low 10 bits of a language id.
    constexpr uint16_t PRIMARY_LANGUAGE_BITS = 0x3FF;
    for (size_t i = 0; i < count; ++i) {
        if (languages[i] == userLanguage)
            return i;
    }
    for (size_t i = 0; i < count; ++i) {
        if ((languages[i] & PRIMARY_LANGUAGE_BITS) == (userLanguage & PRIMARY_LANGUAGE_BITS))
            return i;
    }
    return 0;
}

int64_t PackFileVersion(uint32_t versionMS, uint32_t versionLS)
{
    return static_cast<int64_t>((static_cast<uint64_t>(versionMS) << 32) | versionLS);
}

std::wstring FormatVersionNumbers(uint32_t versionMS, uint32_t versionLS)
{
    wchar_t text[64];
    FormatText(text, 64, L"%u.%u.%u.%u",
               { versionMS >> 16, versionMS & 0xFFFFu, versionLS >> 16, versionLS & 0xFFFFu });
    return text;
}

std::wstring FileNameOfPath(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ReplaceFileName(const std::wstring& path, const std::wstring& fileName)
{
    size_t slash = path.find_last_of(L"\\/");
    std::wstring directory = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    if (slash == std::wstring::npos && !path.empty())
        directory = path + L"\\";
    return directory + fileName;
}

std::wstring FormatUpdaterParameters(const std::wstring& fileName, int64_t packedVersion, int origin)
{
    // The numbers first, with an empty name, to learn what is left for it.
    wchar_t tail[UPDATER_PARAMETERS_CAPACITY];
    size_t tailLength = FormatText(tail, UPDATER_PARAMETERS_CAPACITY, UPDATER_PARAMETER_TEMPLATE,
                                   { L"", packedVersion, static_cast<int32_t>(origin) });
    size_t room = UPDATER_PARAMETERS_CAPACITY - 1 - tailLength;
    // A shortened name never ends in half a character: a cut between the two
    // units of a surrogate pair drops the pair's first unit as well.
    if (room < fileName.size() && room > 0 && IsHighSurrogate(fileName[room - 1]) && IsLowSurrogate(fileName[room]))
        --room;
    std::wstring name = fileName.substr(0, room);

    wchar_t text[UPDATER_PARAMETERS_CAPACITY];
    FormatText(text, UPDATER_PARAMETERS_CAPACITY, UPDATER_PARAMETER_TEMPLATE,
               { name.c_str(), packedVersion, static_cast<int32_t>(origin) });
    return text;
}

int64_t UpdateTimeFromFileTime(uint64_t fileTime)
{
    return static_cast<int64_t>(fileTime - UNIX_EPOCH_AS_FILETIME);
}

bool DecodeLastUpdateCheck(bool readOk, uint32_t type, const uint8_t* data, size_t size, int64_t* stored)
{
    if (!readOk || type != STORED_TYPE_BINARY || size != LAST_UPDATE_CHECK_SIZE || data == nullptr)
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < LAST_UPDATE_CHECK_SIZE; ++i)
        v |= static_cast<uint64_t>(data[i]) << (8 * i);
    if (stored != nullptr)
        *stored = static_cast<int64_t>(v);
    return true;
}

bool IsUpdateDue(bool storedPresent, int64_t stored, int64_t now, int64_t interval)
{
    if (!storedPresent)
        return true;
    // A stored time in the future (the clock was set back) is not due yet.
    if (stored >= now)
        return false;
    // now > stored: the unsigned difference is exact even where the signed
    // one would overflow (a corrupt, far-past stored time is simply due).
    uint64_t elapsed = static_cast<uint64_t>(now) - static_cast<uint64_t>(stored);
    return interval < 0 || elapsed > static_cast<uint64_t>(interval);
}

void EncodeLastUpdateCheck(int64_t time, uint8_t (&bytes)[LAST_UPDATE_CHECK_SIZE])
{
    uint64_t v = static_cast<uint64_t>(time);
    for (size_t i = 0; i < LAST_UPDATE_CHECK_SIZE; ++i)
        bytes[i] = static_cast<uint8_t>(v >> (8 * i));
}
