// "LastUpdateCheck" as read back from the user's hive (any outcome, type
// and length) and the once-a-day rule over arbitrary times.
//
// Input: a flags byte (bit 0: the read succeeded; bit 1: use the real
// interval; bit 2: use the real binary type), the type (4 bytes), the value's
// length (1 byte) and bytes, then the current time, the interval and a
// second stored time (8 bytes each).
#include <cstring>

#include "FuzzInput.h"
#include "VersionLogic.h"

namespace {

typedef __int128 Wide;

// Due: nothing stored, or more than `interval` has passed since the stored
// time, counted without overflow.
bool ExpectedDue(bool present, int64_t stored, int64_t now, int64_t interval)
{
    return !present || static_cast<Wide>(now) - static_cast<Wide>(stored) > static_cast<Wide>(interval);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    const bool readOk = (flags & 1) != 0;
    uint32_t type = in.Integer<uint32_t>();
    if ((flags & 4) != 0)
        type = STORED_TYPE_BINARY;
    const size_t length = in.Byte() % 17;  // 0 to 16 bytes, as the registry may hold
    std::vector<uint8_t> value = in.Bytes(length);
    const int64_t now = in.Integer<int64_t>();
    int64_t interval = in.Integer<int64_t>();
    if ((flags & 2) != 0)
        interval = UpdateCheckInterval;
    const int64_t otherStored = in.Integer<int64_t>();

    // The bytes in a buffer of exactly their size.
    const size_t n = value.size();
    uint8_t* bytes = new uint8_t[n == 0 ? 1 : n];
    if (n != 0)
        std::memcpy(bytes, value.data(), n);

    const int64_t untouched = 0x5A5A5A5A5A5A5A5ALL;
    int64_t stored = untouched;
    const bool present = DecodeLastUpdateCheck(readOk, type, n == 0 ? nullptr : bytes, n, &stored);

    // Present only for a good read of exactly 8 binary bytes; otherwise the
    // out value is left alone.
    FUZZ_CHECK(present == (readOk && type == STORED_TYPE_BINARY && n == LAST_UPDATE_CHECK_SIZE));
    if (!present) {
        FUZZ_CHECK(stored == untouched);
    } else {
        // Round trip: the decoded time encodes back to the same 8 bytes.
        uint8_t encoded[LAST_UPDATE_CHECK_SIZE];
        EncodeLastUpdateCheck(stored, encoded);
        FUZZ_CHECK(std::memcmp(encoded, bytes, LAST_UPDATE_CHECK_SIZE) == 0);
        int64_t again = 0;
        FUZZ_CHECK(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, encoded, LAST_UPDATE_CHECK_SIZE, &again));
        FUZZ_CHECK(again == stored);
    }

    // Every time encodes and decodes to itself.
    uint8_t encoded[LAST_UPDATE_CHECK_SIZE];
    EncodeLastUpdateCheck(now, encoded);
    int64_t decodedNow = 0;
    FUZZ_CHECK(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, encoded, LAST_UPDATE_CHECK_SIZE, &decodedNow));
    FUZZ_CHECK(decodedNow == now);

    // The rule for the interval in use (never negative).
    if (interval >= 0) {
        FUZZ_CHECK(IsUpdateDue(present, stored, now, interval) == ExpectedDue(present, stored, now, interval));
        FUZZ_CHECK(IsUpdateDue(true, otherStored, now, interval) == ExpectedDue(true, otherStored, now, interval));
        // The boundary: exactly one interval later is not yet due, one more
        // 100-ns step is.
        const Wide edge = static_cast<Wide>(otherStored) + interval;
        if (edge < INT64_MAX) {
            FUZZ_CHECK(!IsUpdateDue(true, otherStored, static_cast<int64_t>(edge), interval));
            FUZZ_CHECK(IsUpdateDue(true, otherStored, static_cast<int64_t>(edge + 1), interval));
        }
    }
    // Whatever the interval: nothing stored is always due, and a stored time
    // at or after now is never due (the clock was set back).
    FUZZ_CHECK(IsUpdateDue(false, otherStored, now, interval));
    if (otherStored >= now)
        FUZZ_CHECK(!IsUpdateDue(true, otherStored, now, interval));

    // The stored time from a FILETIME: its distance from 1970, modulo 2^64.
    const uint64_t fileTime = static_cast<uint64_t>(now);
    FUZZ_CHECK(static_cast<uint64_t>(UpdateTimeFromFileTime(fileTime)) + UNIX_EPOCH_AS_FILETIME == fileTime);

    delete[] bytes;
    return 0;
}
