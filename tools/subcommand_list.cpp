#include "subcommand.h"

namespace nxtka_cli {

#if NXTKA_CLI_DEMO
extern const Subcommand kDemoCommand;
#endif
#if NXTKA_CLI_MQTT
extern const Subcommand kPublishCommand, kSubscribeCommand;
#endif
extern const Subcommand kInfoCommand, kMonitorCommand, kSendCommand, kGetCommand, kSetCommand, kListCommand,
    kPortsCommand, kAdjustCommand, kRangesCommand, kMemoryCommand, kLinearCommand,
    kRecordCommand;

namespace {

const Subcommand* const kSubcommands[] = {
#if NXTKA_CLI_DEMO
    &kDemoCommand,
#endif
    &kInfoCommand,  &kMonitorCommand, &kSendCommand,   &kGetCommand,    &kSetCommand,    &kListCommand,
    &kPortsCommand, &kAdjustCommand,  &kRangesCommand, &kMemoryCommand, &kLinearCommand,
    &kRecordCommand,
#if NXTKA_CLI_MQTT
    &kPublishCommand, &kSubscribeCommand,
#endif
};

}  // namespace

std::span<const Subcommand* const> subcommands() { return kSubcommands; }

}  // namespace nxtka_cli
