#include "library_failure.h"

#include "nxtka.h"

namespace nxtka_cli {

std::string libraryReason() {
    char text[200] = {};
    NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    return text[0] != 0 ? text : "no reason given";
}

}  // namespace nxtka_cli
