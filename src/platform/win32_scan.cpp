// Formatted input of a float in the "C" locale, on Windows.
#include "platform/platform.h"

#include <locale.h>
#include <stdio.h>

namespace nxtka::platform {
namespace {

_locale_t cLocale() {
    static const _locale_t c = _create_locale(LC_ALL, "C");
    return c;
}

}  // namespace

bool scanFloat(const char* text, float& out) {
    const _locale_t c = cLocale();
    if (c == nullptr) return false;
    float v = 0.0f;
    if (_sscanf_l(text, "%f", c, &v) != 1) return false;
    out = v;
    return true;
}

}  // namespace nxtka::platform
