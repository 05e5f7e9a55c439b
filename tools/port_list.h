// The serial ports of this computer, as `nxtka ports` shows them. The
// enumeration comes from libserialport (the tool's dependency only; the
// library itself does not use it).
#pragma once

#include <string>
#include <vector>

namespace nxtka_cli {

struct PortInfo {
    std::string device;       // /dev/ttyUSB0
    std::string byId;         // its stable /dev/serial/by-id name, or empty
    std::string transport;    // usb, native, bluetooth, pseudo-terminal
    std::string usbId;        // "0403:6001", or empty
    std::string serial;       // USB serial number, or empty
    std::string description;  // product or driver text
    std::string holder;       // the process that has it open or locked, or empty
};

// Every serial port; with `pseudoTerminals` also /dev/pts/N whose master
// side a process holds (the simulator's among them), that process given as
// the description.
std::vector<PortInfo> listPorts(bool pseudoTerminals);

// "present: /dev/ttyUSB0, /dev/ttyS0" or "no serial ports are present".
std::string presentPortsText();

}  // namespace nxtka_cli
