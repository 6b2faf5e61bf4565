// CoCreateGuid alone in its object file: a program that links another
// definition of it picks up only one of them from the static libraries.
#include "platform/core/guid.h"

HRESULT CoCreateGuid(GUID* out) {
  if (!out) return E_INVALIDARG;
  *out = platform::NewGuid();
  return S_OK;
}
