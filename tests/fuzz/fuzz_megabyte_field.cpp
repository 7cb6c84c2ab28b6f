// The threshold field as the user types it, of any length and content, and
// the megabyte arithmetic around it.
//
// Input: a number (4 bytes) for the round trips, a byte count (8 bytes),
// then the field's text as UTF-16 code units up to the first NUL.
#include <string>

#include "ConfigLogic.h"
#include "DriveSettingsRecord.h"
#include "FuzzInput.h"

namespace {

// The field's value read the plain way: blanks, then a decimal run; no
// digit or a value above 32 bits is 0.
uint32_t ExpectedValue(const std::wstring& text)
{
    size_t i = text.find_first_not_of(L" \t");
    if (i == std::wstring::npos)
        return 0;
    size_t end = i;
    while (end < text.size() && text[end] >= L'0' && text[end] <= L'9')
        ++end;
    std::wstring digits = text.substr(i, end - i);
    if (digits.empty())
        return 0;
    size_t first = digits.find_first_not_of(L'0');
    if (first == std::wstring::npos)
        return 0;
    digits = digits.substr(first);
    if (digits.size() > 10)
        return 0;
    unsigned long long value = std::stoull(digits);
    return value > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint32_t number = in.Integer<uint32_t>();
    const uint64_t bytes = in.Integer<uint64_t>();
    std::wstring text = in.WideString(512);
    text = text.substr(0, text.find(L'\0'));

    // The text in a block of exactly its length and terminator.
    std::vector<wchar_t> field(text.begin(), text.end());
    field.push_back(L'\0');
    FUZZ_CHECK(ParseMegabyteField(field.data()) == ExpectedValue(text));

    // Whatever follows the digits is ignored.
    const uint32_t value = ParseMegabyteField(field.data());
    FUZZ_CHECK(ParseMegabyteField((std::to_wstring(value) + text).c_str()) ==
               ExpectedValue(std::to_wstring(value) + text));

    // Round trips: a number shown in the field reads back as itself, with or
    // without blanks before it; whole megabytes survive bytes and back.
    FUZZ_CHECK(ParseMegabyteField(std::to_wstring(number).c_str()) == number);
    FUZZ_CHECK(ParseMegabyteField((L" \t " + std::to_wstring(number) + L" MB").c_str()) == number);
    FUZZ_CHECK(MegabyteFieldValue(BytesOfMegabytes(number)) == number);
    FUZZ_CHECK(BytesOfMegabytes(number) == static_cast<uint64_t>(number) * BYTES_PER_MEGABYTE);

    // A byte count shows as its whole megabytes (low 32 bits), never more
    // than it holds when the quotient fits.
    const uint64_t megabytes = bytes / BYTES_PER_MEGABYTE;
    FUZZ_CHECK(MegabyteFieldValue(bytes) == static_cast<uint32_t>(megabytes));
    if (megabytes <= 0xFFFFFFFFull)
        FUZZ_CHECK(BytesOfMegabytes(MegabyteFieldValue(bytes)) <= bytes &&
                   bytes - BytesOfMegabytes(MegabyteFieldValue(bytes)) < BYTES_PER_MEGABYTE);

    // The default threshold of a drive without one is 15 % of it, rounded
    // down; a drive with one keeps it.
    FUZZ_CHECK(ThresholdWithDefault(0, bytes) == FifteenPercentOf(bytes));
    if (number != 0)
        FUZZ_CHECK(ThresholdWithDefault(number, bytes) == number);
    if (bytes <= UINT64_MAX / 15)
        FUZZ_CHECK(static_cast<unsigned __int128>(FifteenPercentOf(bytes)) * 100 <=
                       static_cast<unsigned __int128>(bytes) * 15 &&
                   static_cast<unsigned __int128>(FifteenPercentOf(bytes) + 1) * 100 >
                       static_cast<unsigned __int128>(bytes) * 15);
    return 0;
}
