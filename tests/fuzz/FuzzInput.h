// Shared helpers of the fuzz targets: a reader that takes typed values off
// the front of the fuzzer's bytes, and a check that stops the run with a
// message when a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

// Takes values off the front of the input; once it is used up, every value
// reads as zero and every string as empty.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Left() const { return size_ - offset_; }

    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

    bool Bool() { return (Byte() & 1) != 0; }

    template <typename T>
    T Integer()
    {
        uint64_t v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        return static_cast<T>(v);
    }

    // Up to `count` raw bytes (fewer when the input runs out).
    std::vector<uint8_t> Bytes(size_t count)
    {
        size_t n = count < Left() ? count : Left();
        std::vector<uint8_t> bytes(data_ + offset_, data_ + offset_ + n);
        offset_ += n;
        return bytes;
    }

    std::vector<uint8_t> Rest() { return Bytes(Left()); }

    // A wide string of `length` UTF-16 code units (as Windows passes them),
    // two bytes each; a NUL code unit is replaced by `nulReplacement` unless
    // that is itself 0.
    std::wstring WideString(size_t length, wchar_t nulReplacement = 0)
    {
        std::wstring text;
        for (size_t i = 0; i < length && Left() > 0; ++i) {
            wchar_t c = static_cast<wchar_t>(Integer<uint16_t>());
            if (c == 0 && nulReplacement != 0)
                c = nulReplacement;
            text.push_back(c);
        }
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};
