// Text values convert exactly as the C library's formatted input with "%f"
// does in the "C" locale, also when the application runs in a locale whose
// decimal separator is a comma.
#include "stream/frame_parser.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale.h>
#include <string>
#include <thread>

namespace nxtka {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Row {
    const char* text;
    bool converts;
    float value;  // when it converts
};

// Expected values worked out from the rules of "%f": a sign, then decimal or
// 0x hexadecimal digits with an optional exponent, "inf", "infinity" or
// "nan"; the longest such prefix counts, nothing converts when a started
// hexadecimal number or "infinity" breaks off.
const Row kRows[] = {
    {"+1.5e3", true, 1500.0f},
    {"-0.25xyz", true, -0.25f},
    {"+.5", true, 0.5f},
    {"+1.5.5", true, 1.5f},
    {"+1,5", true, 1.0f},
    {"+1 5", true, 1.0f},
    {"+1e", true, 1.0f},
    {"+1e+", true, 1.0f},
    {"+0.1", true, 0.1f},
    {"+16777217", true, 16777216.0f},      // a tie: to the even neighbour
    {"+1234567890", true, 1234567936.0f},  // steps of 128 above 2^30
    {"+3.4028235e38", true, FLT_MAX},
    {"+1e99", true, kInf},
    {"-1e99", true, -kInf},
    {"+1e-50", true, 0.0f},
    {"+0x10", true, 16.0f},
    {"-0x1p3", true, -8.0f},
    {"+0X1P-2", true, 0.25f},
    {"+0x.8", true, 0.5f},
    {"+00x1", true, 0.0f},
    {"+inf", true, kInf},
    {"-infinity", true, -kInf},
    {"+INF", true, kInf},
    {"+nan", true, kNaN},
    {"+nanx", true, kNaN},
    {"+0x", false, 0},
    {"+0xg", false, 0},
    {"+infin", false, 0},
    {"+in", false, 0},
    {"+", false, 0},
    {"+.", false, 0},
    {"--1", false, 0},
    {"+-1", false, 0},
    {"+e5", false, 0},
};

void expectSame(float got, float want, const char* text) {
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << text;
    } else {
        EXPECT_EQ(got, want) << text;
        EXPECT_EQ(std::signbit(got), std::signbit(want)) << text;
    }
}

// Converts every row and checks it against the expectation.
void checkTable() {
    for (const Row& r : kRows) {
        float got = -7.0f;
        EXPECT_EQ(parseTextValue(r.text, got), r.converts) << r.text;
        if (r.converts) {
            expectSame(got, r.value, r.text);
        } else {
            EXPECT_EQ(got, -7.0f) << r.text << ": left alone";
        }
    }
}

TEST(TextValue, ConvertsLikeFormattedInput) {
    // The C library's own "%f" agrees with the expectations here (the test
    // program runs in the "C" locale)...
    for (const Row& r : kRows) {
        float ref = 0.0f;
        ASSERT_EQ(std::sscanf(r.text, "%f", &ref) == 1, r.converts) << r.text;
        if (r.converts) expectSame(ref, r.value, r.text);
    }
    // ... and so does the library.
    checkTable();
}

// A locale whose decimal separator is a comma: an installed one, or one made
// with localedef in a scratch directory. Empty with `why` set when neither
// can be had.
class CommaLocale {
public:
    CommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "fr_FR"}) {
            if (isComma(name)) {
                name_ = name;
                return;
            }
        }
        char dir[] = "/tmp/nxtka-locale.XXXXXX";
        if (mkdtemp(dir) == nullptr) {
            why = "no decimal-comma locale is installed and no scratch directory could be made";
            return;
        }
        dir_ = dir;
        const std::string cmd = "localedef -i de_DE -f ISO-8859-1 " + dir_ + "/de_DE.ISO-8859-1 >/dev/null 2>&1";
        const int rc = std::system(cmd.c_str());
        setenv("LOCPATH", dir_.c_str(), 1);
        if (rc == 0 && isComma("de_DE.ISO-8859-1")) {
            name_ = "de_DE.ISO-8859-1";
            return;
        }
        why = "no decimal-comma locale is installed, and localedef could not make de_DE";
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, "C");
        if (!dir_.empty()) {
            unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    const char* name() const { return name_.empty() ? nullptr : name_.c_str(); }
    std::string why;

private:
    static bool isComma(const char* name) {
        if (std::setlocale(LC_ALL, name) == nullptr) return false;
        const bool comma = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
        std::setlocale(LC_ALL, "C");
        return comma;
    }
    std::string name_;
    std::string dir_;
};

TEST(TextValue, ApplicationLocaleWithADecimalCommaChangesNothing) {
    CommaLocale comma;
    if (comma.name() == nullptr) GTEST_SKIP() << comma.why;

    // The whole process in the comma locale.
    ASSERT_NE(std::setlocale(LC_ALL, comma.name()), nullptr);
    float ref = 0.0f;
    ASSERT_EQ(std::sscanf("+1,5", "%f", &ref), 1);
    ASSERT_EQ(ref, 1.5f) << "the application's own formatted input takes the comma";
    checkTable();

    // Only the converting thread in the comma locale, the process in "C".
    const locale_t own = duplocale(LC_GLOBAL_LOCALE);
    ASSERT_NE(own, static_cast<locale_t>(0));
    std::setlocale(LC_ALL, "C");
    std::thread t([own] {
        uselocale(own);
        checkTable();
        float after = 0.0f;
        EXPECT_EQ(std::sscanf("+2,5", "%f", &after), 1);
        EXPECT_EQ(after, 2.5f) << "the thread's own locale is back after a conversion";
        uselocale(LC_GLOBAL_LOCALE);
    });
    t.join();
    freelocale(own);
}

}  // namespace
}  // namespace nxtka
