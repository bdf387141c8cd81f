// Linux: the devices of sysfs's tty class that have a device behind them, with the USB device's
// attributes found by walking up from the tty's device, and the stable names of /dev/serial/by-id.

#include "platform/SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// One line of a sysfs attribute, without its line end; empty when there is none.
AnsiString Attribute(const fs::path& file) {
    std::ifstream in(file);
    AnsiString line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The name of what a link points at ("usb-serial" for .../bus/usb-serial); empty without the link.
AnsiString LinkName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::canonical(link, error);
    return error ? AnsiString() : target.filename().string();
}

void DescribeUsb(const fs::path& device, const AnsiString& subsystem, TSerialPortInfo& port) {
    // usb-serial (ftdi_sio, pl2303, cp210x): the tty's device sits under the USB interface; the
    // ACM and other USB class drivers: the tty's device is the interface. The USB device is its parent.
    fs::path interface;
    if (subsystem == "usb-serial")
        interface = device.parent_path();
    else if (subsystem == "usb")
        interface = device;
    else
        return;
    const fs::path usb = interface.parent_path();
    port.VendorId = Attribute(usb / "idVendor");
    port.ProductId = Attribute(usb / "idProduct");
    port.Vendor = Attribute(usb / "manufacturer");
    port.Product = Attribute(usb / "product");
    port.Serial = Attribute(usb / "serial");
    if (port.Product.empty())
        port.Product = Attribute(interface / "interface");
}

} // namespace

std::vector<TSerialPortInfo> ListSerialPorts(const AnsiString& root) {
    const fs::path base = root.empty() ? fs::path("/") : fs::path(root);
    const fs::path dev = base / "dev";
    std::error_code error;

    // The devices: every tty with a device behind it, except the slots of a platform's legacy ports
    // (ttyS0 to ttyS31 exist whether or not a UART is there).
    std::map<AnsiString, TSerialPortInfo> byNode; // by the device node's canonical path
    for (const fs::directory_entry& entry : fs::directory_iterator(base / "sys/class/tty", error)) {
        const AnsiString name = entry.path().filename().string();
        const fs::path device = fs::canonical(entry.path() / "device", error);
        if (error) {
            error.clear();
            continue; // a virtual terminal, a pseudo-terminal: no device
        }
        // Newer kernels put a port device and its controller (bus serial-base, driver "port") between
        // the tty and the hardware: the hardware says what the port is.
        fs::path hardware = device;
        while (LinkName(hardware / "subsystem") == "serial-base" && hardware.has_relative_path())
            hardware = hardware.parent_path();
        const AnsiString subsystem = LinkName(hardware / "subsystem");
        if (subsystem == "platform")
            continue;
        TSerialPortInfo port;
        port.Device = (dev / name).string();
        port.Path = port.Device;
        port.Driver = LinkName(hardware / "driver");
        DescribeUsb(hardware, subsystem, port);
        const fs::path node = fs::weakly_canonical(dev / name, error);
        byNode[error ? port.Device : node.string()] = port;
        error.clear();
    }

    // Stable names first: each by-id link that points at one of the devices gives it its name.
    std::vector<TSerialPortInfo> ports;
    std::vector<fs::path> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(dev / "serial/by-id", error))
        links.push_back(entry.path());
    error.clear();
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        const fs::path target = fs::canonical(link, error);
        if (error) {
            error.clear();
            continue; // dangling: the adapter has gone
        }
        const auto found = byNode.find(target.string());
        if (found == byNode.end())
            continue;
        TSerialPortInfo port = found->second;
        port.Path = link.string();
        ports.push_back(port);
        byNode.erase(found);
    }
    // Then the rest by the name of the node.
    std::vector<TSerialPortInfo> rest;
    for (auto& [node, port] : byNode)
        rest.push_back(port);
    std::sort(rest.begin(), rest.end(),
              [](const TSerialPortInfo& a, const TSerialPortInfo& b) { return a.Device < b.Device; });
    ports.insert(ports.end(), rest.begin(), rest.end());
    return ports;
}
