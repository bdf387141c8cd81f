#pragma once
// The serial devices this machine has, for the port lists of the options dialog and `korva ports`,
// with what the system knows of each: a USB adapter's vendor, product and serial number, and the
// driver. One implementation per system: linux/SerialPorts.cpp reads sysfs and /dev/serial/by-id;
// on Windows the COM names are listed by the options dialog itself and nothing more is known.
//
// Threads: any; the listing holds no state.

#include "platform/SysUtils.h"

#include <vector>

struct TSerialPortInfo {
    AnsiString Path;   // the name to open: the stable /dev/serial/by-id link where there is one
    AnsiString Device; // the device node itself, e.g. /dev/ttyUSB0
    AnsiString Vendor, Product, Serial; // the USB device's own texts; empty when not USB
    AnsiString VendorId, ProductId;     // four hex digits each, e.g. "0403" and "6001"
    AnsiString Driver;                  // e.g. "ftdi_sio", "cdc_acm", "serial"

    // What is known, in one line: "FTDI FT232R USB UART, serial A1B2C3, ftdi_sio (0403:6001),
    // /dev/ttyUSB0"; the device node alone when nothing else is known.
    AnsiString Description() const {
        AnsiString text, name = Vendor;
        if (!Product.empty())
            name += (name.empty() ? "" : " ") + Product;
        const auto add = [&](const AnsiString& part) {
            if (!part.empty())
                text += (text.empty() ? "" : ", ") + part;
        };
        add(name);
        add(Serial.empty() ? "" : "serial " + Serial);
        AnsiString driver = Driver;
        if (!VendorId.empty() || !ProductId.empty())
            driver += (driver.empty() ? "(" : " (") + VendorId + ":" + ProductId + ")";
        add(driver);
        add(Device);
        return text;
    }
};

// The serial devices under root ("" for the running system; a test passes a tree holding its own
// dev/ and sys/), stable names first in name order, then the devices no stable name points at.
// Legacy port slots the kernel keeps without hardware behind them are left out.
std::vector<TSerialPortInfo> ListSerialPorts(const AnsiString& root = "");
