#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ConfigLogic.h"
#include "DriveSettingsRecord.h"

namespace {

constexpr uint64_t MB = 1048576;
constexpr uint64_t GB = 1024 * MB;

}  // namespace

TEST(Recommendation, VeryLowBelowOneMegabyteWhateverTheThreshold)
{
    EXPECT_EQ(RecommendationStringId(1048575, 0, 16 * MB), IDS_RECOMMEND_VERY_LOW);
    EXPECT_EQ(RecommendationStringId(1048575, 1, 16 * MB), IDS_RECOMMEND_VERY_LOW);
    EXPECT_EQ(RecommendationStringId(0, 0, 0), IDS_RECOMMEND_VERY_LOW);
    EXPECT_NE(RecommendationStringId(1048576, 0, 16 * MB), IDS_RECOMMEND_VERY_LOW);
}

TEST(Recommendation, NearThresholdWithinTwoMegabytes)
{
    const uint64_t freeBytes = 10 * GB;
    EXPECT_EQ(RecommendationStringId(freeBytes, freeBytes - 2097151, 100 * GB), IDS_RECOMMEND_NEAR_THRESHOLD);
    EXPECT_EQ(RecommendationStringId(freeBytes, freeBytes - 1, 100 * GB), IDS_RECOMMEND_NEAR_THRESHOLD);
    EXPECT_EQ(RecommendationStringId(freeBytes, freeBytes - 2097152, 100 * GB), RECOMMEND_NOTHING);
    EXPECT_EQ(RecommendationStringId(freeBytes, 0, 100 * GB), RECOMMEND_NOTHING);
    // Just above 1 MB free with no threshold is still within 2 MB of it.
    EXPECT_EQ(RecommendationStringId(1048576, 0, 16 * MB), IDS_RECOMMEND_NEAR_THRESHOLD);
}

TEST(Recommendation, ThresholdAtOrAboveFreeDependsOnFifteenPercentOfCapacity)
{
    const uint64_t capacity = 100 * GB;
    const uint64_t fifteen = FifteenPercentOf(capacity);
    // At or above 15 % free: the setting is the thing to change.
    EXPECT_EQ(RecommendationStringId(fifteen, fifteen, capacity), IDS_RECOMMEND_REDUCE_SETTING);
    EXPECT_EQ(RecommendationStringId(50 * GB, 50 * GB, capacity), IDS_RECOMMEND_REDUCE_SETTING);
    EXPECT_EQ(RecommendationStringId(50 * GB, 60 * GB, capacity), IDS_RECOMMEND_REDUCE_SETTING);
    // Below 15 % free: too little room to defragment.
    EXPECT_EQ(RecommendationStringId(fifteen - 1, fifteen - 1, capacity), IDS_RECOMMEND_DEFRAGMENT);
    EXPECT_EQ(RecommendationStringId(2 * MB, 3 * MB, capacity), IDS_RECOMMEND_DEFRAGMENT);
}

TEST(DefaultThreshold, FifteenPercentRoundedDownOnlyWhenUnset)
{
    EXPECT_EQ(ThresholdWithDefault(0, 16 * MB), 2516582u);  // 16777216 * 15 / 100 = 2516582.4
    EXPECT_EQ(ThresholdWithDefault(0, 99), 14u);
    EXPECT_EQ(ThresholdWithDefault(0, 0), 0u);
    EXPECT_EQ(ThresholdWithDefault(5, 16 * MB), 5u);
    EXPECT_EQ(ThresholdWithDefault(0, 100000000000ULL), 15000000000ULL);
}

TEST(Megabytes, FieldShowsWholeMegabytesRoundedDown)
{
    EXPECT_EQ(MegabyteFieldValue(5000000), 4u);
    EXPECT_EQ(MegabyteFieldValue(15000000000ULL), 14305u);
    EXPECT_EQ(MegabyteFieldValue(MB - 1), 0u);
    EXPECT_EQ(MegabyteFieldValue(5120 * MB), 5120u);
    // Only the low 32 bits of the quotient fit the field.
    EXPECT_EQ(MegabyteFieldValue((uint64_t{ 1 } << 52) + 7 * MB), 7u);
}

TEST(Megabytes, BytesComputedIn64Bits)
{
    EXPECT_EQ(BytesOfMegabytes(14305), 14999879680ULL);
    EXPECT_EQ(BytesOfMegabytes(4294967295u), 4503599626321920ULL);
    EXPECT_EQ(BytesOfMegabytes(5120), 5368709120ULL);
    EXPECT_EQ(BytesOfMegabytes(0), 0u);
}

TEST(Megabytes, FieldParsing)
{
    EXPECT_EQ(ParseMegabyteField(L""), 0u);
    EXPECT_EQ(ParseMegabyteField(nullptr), 0u);
    EXPECT_EQ(ParseMegabyteField(L"0"), 0u);
    EXPECT_EQ(ParseMegabyteField(L"5120"), 5120u);
    EXPECT_EQ(ParseMegabyteField(L"4294967295"), 4294967295u);
    EXPECT_EQ(ParseMegabyteField(L"4294967296"), 0u);
    EXPECT_EQ(ParseMegabyteField(L"99999999999999999999999999"), 0u);
    // Leading zeros are no overflow.
    EXPECT_EQ(ParseMegabyteField(L"000000000000000000000000000042"), 42u);
    EXPECT_EQ(ParseMegabyteField(L"   12"), 12u);
    EXPECT_EQ(ParseMegabyteField(L"12 MB"), 12u);
    EXPECT_EQ(ParseMegabyteField(L"MB"), 0u);
    EXPECT_EQ(ParseMegabyteField(L"-5"), 0u);
}

TEST(ColumnWidths, ResourceReplacesLeadingFactorsOnly)
{
    uint8_t factors[DRIVE_LIST_COLUMN_COUNT];
    std::memcpy(factors, DEFAULT_COLUMN_WIDTH_FACTORS, sizeof(factors));
    const uint8_t shipped[] = { 0x0F, 0x09, 0x0A, 0x09, 0x14 };
    ApplyColumnWidthResource(factors, shipped, sizeof(shipped));
    EXPECT_EQ(0, std::memcmp(factors, DEFAULT_COLUMN_WIDTH_FACTORS, sizeof(factors)));

    const uint8_t three[] = { 1, 2, 3 };
    ApplyColumnWidthResource(factors, three, sizeof(three));
    const uint8_t afterThree[] = { 1, 2, 3, 9, 20 };
    EXPECT_EQ(0, std::memcmp(factors, afterThree, sizeof(factors)));

    const uint8_t seven[] = { 30, 31, 32, 33, 34, 35, 36 };
    ApplyColumnWidthResource(factors, seven, sizeof(seven));
    const uint8_t afterSeven[] = { 30, 31, 32, 33, 34 };
    EXPECT_EQ(0, std::memcmp(factors, afterSeven, sizeof(factors)));

    ApplyColumnWidthResource(factors, nullptr, 5);
    ApplyColumnWidthResource(factors, seven, 0);
    EXPECT_EQ(0, std::memcmp(factors, afterSeven, sizeof(factors)));
}

TEST(ColumnWidths, AverageCharWidthRoundsToNearestPixel)
{
    EXPECT_EQ(AverageCharWidthOf(364), 7u);  // exactly 7
    EXPECT_EQ(AverageCharWidthOf(389), 7u);  // 7.48
    EXPECT_EQ(AverageCharWidthOf(390), 8u);  // 7.5 rounds up
    EXPECT_EQ(AverageCharWidthOf(25), 0u);
    EXPECT_EQ(AverageCharWidthOf(26), 1u);
    EXPECT_EQ(ColumnWidthPixels(15, 7), 105);
    EXPECT_EQ(ColumnWidthPixels(255, 40), 10200);
}

TEST(CheckBoxRule, OnlyAChangedCheckImageCounts)
{
    const uint32_t selected = 0x0002, focused = 0x0001;
    // A click on the check box.
    EXPECT_TRUE(IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, UNCHECKED_STATE_IMAGE, CHECKED_STATE_IMAGE));
    EXPECT_TRUE(
        IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, CHECKED_STATE_IMAGE | selected, UNCHECKED_STATE_IMAGE | selected));
    // Selection or focus moving over a row carries the same check image.
    EXPECT_FALSE(
        IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, CHECKED_STATE_IMAGE, CHECKED_STATE_IMAGE | selected | focused));
    EXPECT_FALSE(
        IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, UNCHECKED_STATE_IMAGE | selected | focused, UNCHECKED_STATE_IMAGE));
    // The first state of a new row, and changes of other fields.
    EXPECT_FALSE(IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, 0, CHECKED_STATE_IMAGE));
    EXPECT_FALSE(IsCheckBoxChange(0x0004 /* item data */, UNCHECKED_STATE_IMAGE, CHECKED_STATE_IMAGE));
    EXPECT_FALSE(IsCheckBoxChange(LIST_ITEM_STATE_CHANGED, CHECKED_STATE_IMAGE, selected));

    EXPECT_EQ(EnabledByteForStateImage(UNCHECKED_STATE_IMAGE), 0);
    EXPECT_EQ(EnabledByteForStateImage(UNCHECKED_STATE_IMAGE | selected | focused), 0);
    EXPECT_EQ(EnabledByteForStateImage(CHECKED_STATE_IMAGE), 1);
    EXPECT_EQ(EnabledByteForStateImage(CHECKED_STATE_IMAGE | selected), 1);
}

TEST(SupportMail, SubjectCarriesNameAndVersion)
{
    wchar_t url[SUPPORT_MAIL_URL_CAPACITY];
    size_t length = FormatSupportMailUrl(url, SUPPORT_MAIL_URL_CAPACITY, L"support@velloran.example", L"BrimSet",
                                         0x00020004, 0x00010000);
    EXPECT_EQ(std::wstring(url), L"mailto:support@velloran.example?subject=BrimSet V2.4.1.0");
    EXPECT_EQ(length, std::wstring(url).size());
}

TEST(SupportMail, BoundedToItsBuffer)
{
    wchar_t buffer[SUPPORT_MAIL_URL_CAPACITY + 4];
    for (wchar_t& c : buffer)
        c = L'#';
    std::wstring longName(300, L'n');
    size_t length = FormatSupportMailUrl(buffer, SUPPORT_MAIL_URL_CAPACITY, L"a@b.example", longName.c_str(),
                                         0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(length, SUPPORT_MAIL_URL_CAPACITY - 1);
    EXPECT_EQ(buffer[SUPPORT_MAIL_URL_CAPACITY - 1], L'\0');
    EXPECT_EQ(buffer[SUPPORT_MAIL_URL_CAPACITY], L'#');
}

TEST(AboutLinks, OnlyNotifyingTextStaticsAreLinks)
{
    EXPECT_TRUE(IsLinkStaticStyle(0x50030300));  // left text, notify, centred image
    EXPECT_TRUE(IsLinkStaticStyle(0x50030100));
    EXPECT_TRUE(IsLinkStaticStyle(0x0102));       // right-aligned text
    EXPECT_FALSE(IsLinkStaticStyle(0x50020000));  // plain label
    EXPECT_FALSE(IsLinkStaticStyle(0x0103));      // an icon, even with notify
    EXPECT_FALSE(IsLinkStaticStyle(0x010B));      // left, no word wrap
}

TEST(HelpPage, EachTranslatedLanguageGetsItsPageInEveryCountry)
{
    EXPECT_STREQ(HelpPageForLanguage(0x0407), L"Brimline.de.html");  // Germany
    EXPECT_STREQ(HelpPageForLanguage(0x0807), L"Brimline.de.html");  // Switzerland
    EXPECT_STREQ(HelpPageForLanguage(0x0C07), L"Brimline.de.html");  // Austria
    EXPECT_STREQ(HelpPageForLanguage(0x040C), L"Brimline.fr.html");  // France
    EXPECT_STREQ(HelpPageForLanguage(0x0C0C), L"Brimline.fr.html");  // Canada
    EXPECT_STREQ(HelpPageForLanguage(0x0C0A), L"Brimline.es.html");  // Spain, modern sort
    EXPECT_STREQ(HelpPageForLanguage(0x080A), L"Brimline.es.html");  // Mexico
    EXPECT_STREQ(HelpPageForLanguage(0x0411), L"Brimline.ja.html");
}

TEST(HelpPage, PortugueseAndChineseOnlyWhereThePageIsWrittenFor)
{
    EXPECT_STREQ(HelpPageForLanguage(0x0416), L"Brimline.pt-BR.html");  // Brazil
    EXPECT_STREQ(HelpPageForLanguage(0x0816), ENGLISH_HELP_PAGE);       // Portugal
    EXPECT_STREQ(HelpPageForLanguage(0x0804), L"Brimline.zh-CN.html");  // PRC
    EXPECT_STREQ(HelpPageForLanguage(0x1004), L"Brimline.zh-CN.html");  // Singapore
    EXPECT_STREQ(HelpPageForLanguage(0x0004), L"Brimline.zh-CN.html");  // simplified, no country
    EXPECT_STREQ(HelpPageForLanguage(0x0404), ENGLISH_HELP_PAGE);       // Taiwan
    EXPECT_STREQ(HelpPageForLanguage(0x0C04), ENGLISH_HELP_PAGE);       // Hong Kong
    EXPECT_STREQ(HelpPageForLanguage(0x1404), ENGLISH_HELP_PAGE);       // Macao
    EXPECT_STREQ(HelpPageForLanguage(0x7C04), ENGLISH_HELP_PAGE);       // traditional, no country
}

TEST(HelpPage, EveryOtherLanguageGetsTheEnglishPage)
{
    EXPECT_STREQ(ENGLISH_HELP_PAGE, L"Brimline.html");
    for (uint16_t language : { 0x0409, 0x0809, 0x040B, 0x0410, 0x0413, 0x0419, 0x0412, 0x0000, 0x0400, 0xFFFF })
        EXPECT_STREQ(HelpPageForLanguage(language), ENGLISH_HELP_PAGE) << std::hex << language;
}
