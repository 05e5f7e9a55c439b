// Formatted input of a float in the "C" locale, on POSIX.
#include "platform/platform.h"

#include <clocale>
#include <cstdio>
#include <locale.h>

namespace nxtka::platform {
namespace {

locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

}  // namespace

bool scanFloat(const char* text, float& out) {
    const locale_t c = cLocale();
    if (c == static_cast<locale_t>(0)) return false;
    // The locale of this thread only, and only for this call.
    const locale_t previous = uselocale(c);
    float v = 0.0f;
    const int items = std::sscanf(text, "%f", &v);
    uselocale(previous);
    if (items != 1) return false;
    out = v;
    return true;
}

}  // namespace nxtka::platform
