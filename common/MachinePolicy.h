// The administrator's machine policies for Brimline, under one key:
// UpdateCheck and UpdateFeedUrl (the updater), ForecastMinutes (the
// monitor). Read in the native registry view whatever the reader's own
// bitness, since policy tools write there; the templates in docs/policy
// describe the same key and values.
#pragma once

#include <windows.h>

#include <cstdint>

extern const wchar_t BRIMLINE_POLICY_KEY[];  // "Software\Policies\Velloran\Brimline"
constexpr REGSAM BRIMLINE_POLICY_VIEW = KEY_WOW64_64KEY;

// A policy value that counts only as a 4-byte REG_DWORD: false when it is
// absent or of another shape.
bool ReadPolicyNumber(const wchar_t* name, uint32_t& value);
