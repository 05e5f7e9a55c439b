#include "library_failure.h"

#include "nxtka.h"

namespace nxtka_cli {

LibraryFailure lastLibraryFailure() {
    char text[200] = {};
    LibraryFailure failure;
    failure.code = NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    failure.text = text;
    return failure;
}

}  // namespace nxtka_cli
