// Text values and the conversion of records to measured values.
//
// The text of a text frame must convert exactly as the C library's "%f" does
// in the "C" locale, whatever the process's locale: the process runs in a
// locale with a decimal comma, and the reference conversion switches this
// thread to "C" for itself. A record of any kind
// must convert as the scale defines it: the factors are 1.05 times a power
// of two, so a binary value is one product with std::ldexp(1.05, -k).
//
// Input: flags, norm (8 bytes), display flags, raw value (4 bytes), text.
#include "fuzz_input.h"
#include "stream/frame_parser.h"
#include "stream/value_conversion.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <string>

namespace {

using namespace nxtka;

locale_t cLocale = static_cast<locale_t>(0);

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// "%f" in the "C" locale, on this thread only.
bool referenceScan(const char* text, float& out) {
    const locale_t previous = uselocale(cLocale);
    const int items = std::sscanf(text, "%f", &out);
    uselocale(previous);
    return items == 1;
}

void checkText(const char* text) {
    float expected = 0.0f;
    const bool converts = referenceScan(text, expected);
    const float untouched = -7.25f;
    float got = untouched;
    FUZZ_CHECK(parseTextValue(text, got) == converts);
    if (converts) {
        FUZZ_CHECK(std::memcmp(&got, &expected, sizeof got) == 0);
    } else {
        FUZZ_CHECK(std::memcmp(&got, &untouched, sizeof got) == 0);
    }
}

void checkRecord(std::uint8_t kind, std::uint32_t raw, bool bipolar, double norm, int displayFlags) {
    SampleRecord r{raw, 0, kind, 0};
    if (kind == ',') r.value = raw & 0xFFFFFF;
    if (kind == 0xA5) r.value = raw & 0xFFFF;
    const double v = convertRecord(r, bipolar, norm, displayFlags);
    const auto code = static_cast<double>(r.value);
    if (kind == ',' || kind == 0xA5) {
        const int bits = kind == ',' ? 24 : 16;
        const double middle = std::ldexp(1.0, bits - 1);
        const double expected =
            bipolar ? (code - middle) * std::ldexp(1.05, 1 - bits) : code * std::ldexp(1.05, -bits);
        FUZZ_CHECK(sameBits(v, expected));
        FUZZ_CHECK(v >= (bipolar ? -1.05 : 0.0) && v < 1.05);
        FUZZ_CHECK((v == 0.0) == (bipolar ? code == middle : code == 0.0));
        return;
    }
    float f;
    std::memcpy(&f, &r.value, sizeof f);
    const double quotient = static_cast<double>(f) / norm;
    const bool inverted = bipolar && displayFlags == 0x31;
    if (std::isnan(quotient)) {
        FUZZ_CHECK(std::isnan(v));
    } else {
        FUZZ_CHECK(sameBits(v, inverted ? -quotient : quotient));
    }
}

bool enterCommaLocale(const char* name) {
    if (std::setlocale(LC_ALL, name) == nullptr) return false;
    if (std::strcmp(std::localeconv()->decimal_point, ",") == 0) return true;
    std::setlocale(LC_ALL, "C");
    return false;
}

std::string scratchLocales;

void removeScratchLocales() { std::filesystem::remove_all(scratchLocales); }

}  // namespace

// The process runs in a locale with a decimal comma: an installed one, or one
// made with localedef in a scratch directory.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    FUZZ_CHECK(cLocale != static_cast<locale_t>(0));
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"}) {
        if (enterCommaLocale(name)) {
            std::fprintf(stderr, "text_value: the process runs in %s (decimal comma)\n", name);
            return 0;
        }
    }
    char dir[] = "/tmp/nxtka-fuzz-locale.XXXXXX";
    if (mkdtemp(dir) != nullptr) {
        scratchLocales = dir;
        std::atexit(removeScratchLocales);
        const std::string make = "localedef -i de_DE -f ISO-8859-1 " + scratchLocales + "/de_DE >/dev/null 2>&1";
        setenv("LOCPATH", dir, 1);
        if (std::system(make.c_str()) == 0 && enterCommaLocale("de_DE")) {
            std::fprintf(stderr, "text_value: the process runs in de_DE made by localedef (decimal comma)\n");
            return 0;
        }
    }
    std::fprintf(stderr, "text_value: no decimal-comma locale could be had, the process runs in \"C\"\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const double norm = (flags & 0x80) != 0 ? in.anyDouble() : in.number();
    const int displayFlags = in.byte();
    const std::uint32_t raw = in.u32();
    const std::uint8_t kinds[] = {',', 0xA5, '+', '-'};
    const std::uint8_t kind = (flags & 0x40) != 0 ? static_cast<std::uint8_t>(raw >> 24) : kinds[flags & 3];
    checkRecord(kind, raw, (flags & 4) != 0, norm, displayFlags);

    // Any text up to 23 bytes; a frame hands over at most 11.
    char text[24] = {};
    std::size_t len = 0;
    while (len < sizeof text - 1 && in.left() != 0) {
        const auto c = static_cast<char>(in.byte());
        if (c == '\0') break;
        text[len++] = c;
    }
    checkText(text);
    return 0;
}
