// The update feed as any server might send it: the parser never fails
// unsafely, accepts only what it promises, and reads its own output back.
//
// Input: the feed's bytes, as the fetch hands them over.
#include <string>

#include "FuzzInput.h"
#include "UpdaterLogic.h"

namespace {

// UTF-16 code units back to UTF-8; false for a lone surrogate.
bool EncodeUtf8(const std::wstring& text, std::string* out)
{
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

std::optional<UpdateFeed> Parse(const std::string& text)
{
    return ParseUpdateFeed(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The decoder is strict: what it accepts encodes back to the same bytes.
    if (std::optional<std::wstring> text = DecodeUtf8(data, size)) {
        std::string again;
        FUZZ_CHECK(EncodeUtf8(*text, &again));
        FUZZ_CHECK(again == std::string(reinterpret_cast<const char*>(data), size));
    }

    std::optional<UpdateFeed> feed = ParseUpdateFeed(data, size);
    if (!feed)
        return 0;
    FUZZ_CHECK(size <= FEED_SIZE_LIMIT);
    // Only a web address is ever offered, and the version reads back.
    FUZZ_CHECK(IsWebAddress(feed->page));
    FUZZ_CHECK(ParseDottedVersion(FormatPackedVersion(feed->version)) == feed->version);

    // The feed written out plainly means the same; so does a copy with
    // CR LF line ends, a byte-order mark and lines of other names.
    std::string page;
    FUZZ_CHECK(EncodeUtf8(feed->page, &page));
    std::string version;
    FUZZ_CHECK(EncodeUtf8(FormatPackedVersion(feed->version), &version));
    for (const std::string& text : { "Version=" + version + "\nPage=" + page,
                                     "\xEF\xBB\xBFNews=1\r\n page = " + page + "\r\nVERSION=" + version + "\r\n" }) {
        std::optional<UpdateFeed> again = Parse(text);
        FUZZ_CHECK(again && again->version == feed->version && again->page == feed->page);
    }
    // A second Version line, whatever it says, spoils the feed.
    FUZZ_CHECK(!Parse(std::string(reinterpret_cast<const char*>(data), size) + "\nVersion=" + version));
    return 0;
}
