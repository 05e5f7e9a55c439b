#include "core/command_table.h"

namespace nxtka {

const char* commandName(int code) {
    switch (code) {
#define NXTKA_COMMAND_NAME(name, value, params, answer) \
    case value:                                         \
        return #name;
        NXTKA_COMMAND_LIST(NXTKA_COMMAND_NAME)
#undef NXTKA_COMMAND_NAME
    default:
        return nullptr;
    }
}

}  // namespace nxtka
