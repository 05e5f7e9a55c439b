#include "port_list.h"

#include "device_check.h"

#include <libserialport.h>

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace nxtka_cli {
namespace {

std::string text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

std::string canonical(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

// Canonical device path -> its /dev/serial/by-id link.
std::map<std::string, std::string> byIdLinks() {
    std::map<std::string, std::string> links;
    const std::string dir = "/dev/serial/by-id";
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return links;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = dir + "/" + e->d_name;
        links.emplace(canonical(link), link);
    }
    ::closedir(d);
    return links;
}

std::string transportName(sp_transport t) {
    switch (t) {
        case SP_TRANSPORT_USB: return "usb";
        case SP_TRANSPORT_BLUETOOTH: return "bluetooth";
        default: return "native";
    }
}

bool numericName(const char* name) {
    if (*name == '\0') return false;
    for (const char* c = name; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

void addPseudoTerminals(std::vector<PortInfo>& out) {
    DIR* d = ::opendir("/dev/pts");
    if (d == nullptr) return;
    std::vector<int> numbers;
    while (const dirent* e = ::readdir(d))
        if (numericName(e->d_name)) numbers.push_back(std::atoi(e->d_name));
    ::closedir(d);
    std::sort(numbers.begin(), numbers.end());
    for (int n : numbers) {
        PortInfo p;
        p.device = "/dev/pts/" + std::to_string(n);
        const std::string farEnd = pseudoTerminalFarEnd(p.device);
        if (farEnd.empty()) continue;
        p.transport = "pseudo-terminal";
        p.description = "pseudo-terminal of " + farEnd;
        const std::vector<std::string> users = deviceUsers(p.device);
        if (!users.empty()) p.holder = users.front();
        out.push_back(std::move(p));
    }
}

}  // namespace

std::vector<PortInfo> listPorts(bool pseudoTerminals) {
    std::vector<PortInfo> out;
    const auto links = byIdLinks();
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) == SP_OK && ports != nullptr) {
        for (sp_port** p = ports; *p != nullptr; ++p) {
            PortInfo info;
            info.device = text(sp_get_port_name(*p));
            const auto link = links.find(canonical(info.device));
            if (link != links.end()) info.byId = link->second;
            const sp_transport t = sp_get_port_transport(*p);
            info.transport = transportName(t);
            info.description = text(sp_get_port_description(*p));
            if (t == SP_TRANSPORT_USB) {
                int vid = 0, pid = 0;
                if (sp_get_port_usb_vid_pid(*p, &vid, &pid) == SP_OK) {
                    char id[16];
                    std::snprintf(id, sizeof id, "%04x:%04x", vid & 0xFFFF, pid & 0xFFFF);
                    info.usbId = id;
                }
                info.serial = text(sp_get_port_usb_serial(*p));
            }
            info.holder = deviceHolder(info.device);
            out.push_back(std::move(info));
        }
        sp_free_port_list(ports);
    }
    std::sort(out.begin(), out.end(), [](const PortInfo& a, const PortInfo& b) { return a.device < b.device; });
    if (pseudoTerminals) addPseudoTerminals(out);
    return out;
}

std::string presentPortsText() {
    const std::vector<PortInfo> ports = listPorts(false);
    if (ports.empty()) return "no serial ports are present";
    std::string s = "present: ";
    for (std::size_t i = 0; i < ports.size(); ++i) s += (i ? ", " : "") + ports[i].device;
    return s;
}

}  // namespace nxtka_cli
