#pragma once
// A machine's serial devices as sysfs and /dev show them, built in a temporary folder: an FTDI
// adapter (usb-serial) and an Arduino (cdc_acm, no product text) with stable by-id names, a second
// FTDI adapter without one, a UART on the board (pnp), two legacy port slots without hardware
// (platform; one behind the kernel's serial-base port devices, as newer kernels link them), a
// virtual terminal, and a by-id link whose adapter has gone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <utility>

struct TFakeSysfs {
    TFakeSysfs() {
        static int made = 0;
        RootPath = std::filesystem::path(::testing::TempDir()) /
                   ("korva-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
        std::filesystem::remove_all(RootPath);
        Bus("usb-serial", "ftdi_sio");
        Bus("usb", "cdc_acm");
        Bus("platform", "serial8250");
        Bus("pnp", "serial");
        Bus("serial-base", "port");
        Bus("serial-base", "ctrl");
        const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1";
        Attributes(usb + "/1-1", {{"idVendor", "0403"},
                                  {"idProduct", "6001"},
                                  {"manufacturer", "FTDI"},
                                  {"product", "FT232R USB UART"},
                                  {"serial", "A1B2C3"}});
        Device(usb + "/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        Tty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0");
        Attributes(usb + "/1-2", {{"idVendor", "2341"},
                                  {"idProduct", "0043"},
                                  {"manufacturer", "Arduino (www.arduino.cc)"},
                                  {"serial", "8573531"}});
        Device(usb + "/1-2/1-2:1.0", "usb", "cdc_acm");
        Attributes(usb + "/1-2/1-2:1.0", {{"interface", "CDC Abstract Control Model"}});
        Tty("ttyACM0", usb + "/1-2/1-2:1.0");
        Attributes(usb + "/1-3", {{"idVendor", "0403"},
                                  {"idProduct", "6015"},
                                  {"manufacturer", "FTDI"},
                                  {"product", "FT230X Basic UART"},
                                  {"serial", "Z9"}});
        Device(usb + "/1-3/1-3:1.0/ttyUSB1", "usb-serial", "ftdi_sio");
        Tty("ttyUSB1", usb + "/1-3/1-3:1.0/ttyUSB1");
        // A kernel's own port devices (serial-base) between the tty and the UART or the empty slot.
        Device("sys/devices/pnp0/00:04", "pnp", "serial");
        Device("sys/devices/pnp0/00:04/00:04:0", "serial-base", "ctrl");
        Device("sys/devices/pnp0/00:04/00:04:0/00:04:0.0", "serial-base", "port");
        Tty("ttyS0", "sys/devices/pnp0/00:04/00:04:0/00:04:0.0");
        Device("sys/devices/platform/serial8250", "platform", "serial8250");
        Device("sys/devices/platform/serial8250/serial8250:0", "serial-base", "ctrl");
        Device("sys/devices/platform/serial8250/serial8250:0/serial8250:0.1", "serial-base", "port");
        Tty("ttyS1", "sys/devices/platform/serial8250/serial8250:0/serial8250:0.1");
        Tty("ttyS2", "sys/devices/platform/serial8250");                      // as older kernels link it
        std::filesystem::create_directories(RootPath / "sys/class/tty/tty0"); // no device behind it
        std::filesystem::create_directories(RootPath / "dev");
        for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "tty0"}) {
            std::ofstream file(RootPath / "dev" / node);
            EXPECT_TRUE(file.good()) << node;
        }
        ById("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ttyUSB0");
        ById("usb-Arduino__www.arduino.cc__0043_8573531-if00", "ttyACM0");
        ById("usb-gone-if00-port0", "ttyUSB9");
    }
    ~TFakeSysfs() {
        std::error_code ignored;
        std::filesystem::remove_all(RootPath, ignored);
    }
    TFakeSysfs(const TFakeSysfs&) = delete;
    TFakeSysfs& operator=(const TFakeSysfs&) = delete;

    std::string Root() const { return RootPath.string(); }
    std::string Path(const std::string& relative) const { return (RootPath / relative).string(); }
    // The adapter unplugged: its tty and its node are gone, its stable name dangles.
    void Unplug(const std::string& tty) {
        std::filesystem::remove_all(RootPath / "sys/class/tty" / tty);
        std::filesystem::remove(RootPath / "dev" / tty);
    }

private:
    void Attributes(const std::string& at,
                    std::initializer_list<std::pair<const char*, const char*>> values) {
        std::filesystem::create_directories(RootPath / at);
        for (const auto& [name, value] : values)
            std::ofstream(RootPath / at / name) << value << "\n";
    }
    // Relative, as the system makes them, so that the tree resolves within itself.
    void Link(const std::string& target, const std::string& link) {
        const std::filesystem::path at = RootPath / link;
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink(std::filesystem::relative(RootPath / target, at.parent_path()), at);
    }
    void Bus(const std::string& bus, const std::string& driver) {
        std::filesystem::create_directories(RootPath / "sys/bus" / bus / "drivers" / driver);
    }
    void Device(const std::string& at, const std::string& bus, const std::string& driver) {
        std::filesystem::create_directories(RootPath / at);
        Link("sys/bus/" + bus, at + "/subsystem");
        Link("sys/bus/" + bus + "/drivers/" + driver, at + "/driver");
    }
    void Tty(const std::string& name, const std::string& device) {
        Link(device, "sys/class/tty/" + name + "/device");
    }
    void ById(const std::string& name, const std::string& node) {
        std::filesystem::create_directories(RootPath / "dev");
        Link("dev/" + node, "dev/serial/by-id/" + name);
    }

    std::filesystem::path RootPath;
};
