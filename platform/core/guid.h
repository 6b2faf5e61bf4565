// GUIDs: the braced text form, parsing, and CoCreateGuid with a deterministic
// mode for reproducible runs.
//
// Text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, with Data1,
// Data2 and Data3 as numbers and Data4 as bytes in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/types.h"

using CLSID = GUID;
using IID = GUID;
using REFGUID = const GUID&;
using REFCLSID = const GUID&;
using REFIID = const GUID&;
using LPOLESTR = WCHAR*;
using LPCOLESTR = const WCHAR*;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);

namespace platform {

std::u16string GuidToString(const GUID& guid);
// Accepts the 36-character form with or without braces, in any case.
// Returns false (leaving *out alone) for anything else.
bool ParseGuid(std::u16string_view text, GUID* out);

// From now on CoCreateGuid draws from a generator seeded with seed: the same
// seed gives the same sequence.
void SetGuidSeed(uint64_t seed);
// Back to random GUIDs from the host's entropy source.
void UseRandomGuids();
// A new version-4 GUID (random or seeded, as set above).
GUID NewGuid();

}  // namespace platform

// Writes the braced form and its terminator; returns the characters written
// including the terminator (39), or 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int max_chars);
HRESULT CoCreateGuid(GUID* out);
// The braced form only, as the platform requires; CO_E_CLASSSTRING otherwise.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out);
// E_INVALIDARG for text that is not a braced GUID.
HRESULT IIDFromString(LPCOLESTR text, IID* out);
