#include "ConfigLogic.h"

#include "DriveSettingsRecord.h"
#include "TextFormat.h"

int RecommendationStringId(uint64_t freeBytes, uint64_t threshold, uint64_t capacity)
{
    if (freeBytes < VERY_LOW_FREE_BYTES)
        return IDS_RECOMMEND_VERY_LOW;
    if (threshold >= freeBytes)
        return freeBytes >= FifteenPercentOf(capacity) ? IDS_RECOMMEND_REDUCE_SETTING : IDS_RECOMMEND_DEFRAGMENT;
    if (freeBytes - threshold < NEAR_THRESHOLD_MARGIN)
        return IDS_RECOMMEND_NEAR_THRESHOLD;
    return RECOMMEND_NOTHING;
}

uint64_t ThresholdWithDefault(uint64_t threshold, uint64_t capacity)
{
    return threshold != 0 ? threshold : FifteenPercentOf(capacity);
}

uint32_t MegabyteFieldValue(uint64_t bytes)
{
    return static_cast<uint32_t>(bytes / BYTES_PER_MEGABYTE);
}

uint64_t BytesOfMegabytes(uint32_t megabytes)
{
    return static_cast<uint64_t>(megabytes) * BYTES_PER_MEGABYTE;
}

uint32_t ParseMegabyteField(const wchar_t* text)
{
    if (text == nullptr)
        return 0;
    while (*text == L' ' || *text == L'\t')
        ++text;
    if (*text < L'0' || *text > L'9')
        return 0;
    uint64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
        if (value > UINT32_MAX)
            return 0;
    }
    return static_cast<uint32_t>(value);
}

void ApplyColumnWidthResource(uint8_t (&factors)[DRIVE_LIST_COLUMN_COUNT], const uint8_t* data, size_t size)
{
    if (data == nullptr)
        return;
    for (size_t i = 0; i < size && i < DRIVE_LIST_COLUMN_COUNT; ++i)
        factors[i] = data[i];
}

unsigned AverageCharWidthOf(unsigned measuredWidth)
{
    return (measuredWidth + AVERAGE_WIDTH_SAMPLE_LENGTH / 2) / AVERAGE_WIDTH_SAMPLE_LENGTH;
}

int ColumnWidthPixels(uint8_t factor, unsigned averageCharWidth)
{
    return static_cast<int>(factor * averageCharWidth);
}

bool IsCheckBoxChange(uint32_t changedMask, uint32_t oldState, uint32_t newState)
{
    if ((changedMask & LIST_ITEM_STATE_CHANGED) == 0 || oldState == 0)
        return false;
    if ((newState & STATE_IMAGE_BITS) == 0)
        return false;
    return (newState & STATE_IMAGE_BITS) != (oldState & STATE_IMAGE_BITS);
}

uint8_t EnabledByteForStateImage(uint32_t state)
{
    return (state & STATE_IMAGE_BITS) == UNCHECKED_STATE_IMAGE ? 0 : 1;
}

size_t FormatSupportMailUrl(wchar_t* out, size_t capacity, const wchar_t* address, const wchar_t* internalName,
                            uint32_t versionMS, uint32_t versionLS)
{
    return FormatText(
        out, capacity, L"mailto:%s?subject=%s V%u.%u.%u.%u",
        { address, internalName, versionMS >> 16, versionMS & 0xFFFFu, versionLS >> 16, versionLS & 0xFFFFu });
}

bool IsLinkStaticStyle(uint32_t style)
{
    return (style & STATIC_NOTIFY_STYLE) != 0 && (style & 0xFFu) <= 2;
}

const wchar_t* HelpPageForLanguage(uint16_t languageId)
{
    // PRIMARYLANGID and SUBLANGID of winnt.h, and the language and
    // sub-language numbers of the pages' languages.
    const unsigned primary = languageId & 0x3FFu;
    const unsigned sub = languageId >> 10;
    switch (primary) {
    case 0x07: return L"Brimline.de.html";  // German
    case 0x0C: return L"Brimline.fr.html";  // French
    case 0x0A: return L"Brimline.es.html";  // Spanish
    case 0x11: return L"Brimline.ja.html";  // Japanese
    case 0x16:                              // Portuguese: Brazil
        return sub == 0x01 ? L"Brimline.pt-BR.html" : ENGLISH_HELP_PAGE;
    case 0x04:  // Chinese: neutral simplified (zh-Hans), PRC, Singapore
        return sub == 0x00 || sub == 0x02 || sub == 0x04 ? L"Brimline.zh-CN.html" : ENGLISH_HELP_PAGE;
    default: return ENGLISH_HELP_PAGE;
    }
}
