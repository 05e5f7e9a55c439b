// `nxtka ports`: the serial ports, their stable names and who holds them.
#include "json_out.h"
#include "port_list.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

bool all = false;

void addOptions(CLI::App& cmd) {
    cmd.add_flag("-a,--all", all, "also pseudo-terminals whose other side a program holds (simulators)");
}

int run(Context& context) {
    const std::vector<PortInfo> ports = listPorts(all);
    if (context.json) {
        std::printf("%s\n", portsJson(ports).c_str());
        return 0;
    }
    if (ports.empty()) {
        std::printf("no serial ports found%s\n", all ? "" : " (ports --all also shows pseudo-terminals)");
        return 0;
    }
    for (const PortInfo& p : ports) {
        std::string line = p.device + "  " + p.transport;
        if (!p.usbId.empty()) line += " " + p.usbId;
        if (!p.serial.empty()) line += "  serial " + p.serial;
        if (!p.description.empty()) line += "  " + p.description;
        if (!p.holder.empty()) line += "  [in use: " + p.holder + "]";
        std::printf("%s\n", line.c_str());
        if (!p.byId.empty()) std::printf("    %s\n", p.byId.c_str());
    }
    return 0;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka ports                                  serial ports, their USB ids and who holds them\n"
    "  nxtka ports --all --json                     with the simulators' pseudo-terminals, for a script\n";

}  // namespace

extern const Subcommand kPortsCommand{
    "ports",   "the serial ports: stable by-id names, USB vendor:product, serial, who holds them",
    false,     true,
    kExamples, addOptions,
    run};

}  // namespace nxtka_cli
