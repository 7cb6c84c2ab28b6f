// The configuration program's decisions and arithmetic, apart from the
// Win32 calls that gather their inputs and carry them out. No Windows
// headers: tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resource.h"  // the recommendation texts' string ids

constexpr int RECOMMEND_NOTHING = 0;  // the cell is cleared

constexpr uint64_t NEAR_THRESHOLD_MARGIN = 2097152;  // within 2 MB of the threshold

// The recommendation for a drive with `freeBytes` free (below
// VERY_LOW_FREE_BYTES, DriveSettingsRecord.h, it is very low), alarm threshold
// `threshold` and `capacity` total bytes: one of the IDS_RECOMMEND_ string
// ids, or RECOMMEND_NOTHING.
int RecommendationStringId(uint64_t freeBytes, uint64_t threshold, uint64_t capacity);

// The threshold a listed drive ends up with: its own, or 15 % of its
// capacity (rounded down) when it has none.
uint64_t ThresholdWithDefault(uint64_t threshold, uint64_t capacity);

// What the threshold field shows for a byte count: whole megabytes,
// rounded down, low 32 bits of the quotient.
uint32_t MegabyteFieldValue(uint64_t bytes);

// Bytes of a whole number of megabytes, in 64 bits (no overflow for any
// 32-bit count).
uint64_t BytesOfMegabytes(uint32_t megabytes);

// Reads the threshold field the way dialog integer fields are read: leading
// blanks skipped, then decimal digits up to the first other character. No
// digit at all, or a number above 4294967295, gives 0.
uint32_t ParseMegabyteField(const wchar_t* text);

// The list's columns and their built-in width factors.
constexpr int DRIVE_LIST_COLUMN_COUNT = 5;
constexpr uint8_t DEFAULT_COLUMN_WIDTH_FACTORS[DRIVE_LIST_COLUMN_COUNT] = { 15, 9, 10, 9, 20 };

// Replaces the leading factors with the bytes of the column-width resource:
// only the first min(size, column count) bytes count.
void ApplyColumnWidthResource(uint8_t (&factors)[DRIVE_LIST_COLUMN_COUNT], const uint8_t* data, size_t size);

// The 52 letters whose measured extent gives the average character width.
constexpr char AVERAGE_WIDTH_SAMPLE[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int AVERAGE_WIDTH_SAMPLE_LENGTH = 52;

// The average width of one of the 52 letters, rounded to the nearest pixel.
unsigned AverageCharWidthOf(unsigned measuredWidth);

// The width of a column in pixels.
int ColumnWidthPixels(uint8_t factor, unsigned averageCharWidth);

// List-view state bits the check-box rule looks at.
constexpr uint32_t LIST_ITEM_STATE_CHANGED = 0x0008;  // LVIF_STATE in the changed mask
constexpr uint32_t STATE_IMAGE_BITS = 0xF000;         // LVIS_STATEIMAGEMASK
constexpr uint32_t UNCHECKED_STATE_IMAGE = 0x1000;    // state image 1
constexpr uint32_t CHECKED_STATE_IMAGE = 0x2000;      // state image 2

// Whether a list item's state-change notification changes the row's check
// box: the state changed, the item had a state before, and the check image
// of the new state differs from that of the old one. A change of selection
// or focus alone, which carries the same check image in both states, is no
// change of the settings.
bool IsCheckBoxChange(uint32_t changedMask, uint32_t oldState, uint32_t newState);

// The Enabled byte for a row's state image: 0 when unchecked, 1 otherwise.
uint8_t EnabledByteForStateImage(uint32_t state);

// The support mail link: "mailto:<address>?subject=<name> V<a>.<b>.<c>.<d>"
// with the file version's four parts, bounded to `capacity` characters
// (terminator included). Returns the length written.
constexpr size_t SUPPORT_MAIL_URL_CAPACITY = 100;
size_t FormatSupportMailUrl(wchar_t* out, size_t capacity, const wchar_t* address, const wchar_t* internalName,
                            uint32_t versionMS, uint32_t versionLS);

// Whether a static control's style makes it one of the About box's links:
// SS_NOTIFY set and plain left, centred or right text (low style byte 0 to 2).
constexpr uint32_t STATIC_NOTIFY_STYLE = 0x0100;  // SS_NOTIFY
bool IsLinkStaticStyle(uint32_t style);

// The help pages, in the folder "docs" beside the program: the English page,
// and one per translation named by its language tag. Every language without
// a page of its own, and every one whose page is missing, gets the English
// page.
constexpr wchar_t ENGLISH_HELP_PAGE[] = L"Brimline.html";

// The page for a user-interface language (a LANGID: primary language in the
// low 10 bits, sub-language above). Each translated language's page serves
// every country of it, except where its words differ by country: Portuguese
// is written for Brazil only, Chinese in simplified characters (China,
// Singapore, and the neutral simplified tag) only.
const wchar_t* HelpPageForLanguage(uint16_t languageId);
