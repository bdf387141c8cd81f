// The machine's serial devices as the port lists show them, read from a fake sysfs and /dev tree.

#include "platform/SerialPorts.h"
#include "support/FakeSysfs.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> Paths(const std::vector<TSerialPortInfo>& ports) {
    std::vector<std::string> paths;
    for (const TSerialPortInfo& port : ports)
        paths.push_back(port.Path);
    return paths;
}

} // namespace

TEST(SerialPorts, StableNamesFirstThenTheOtherDevicesWithWhatIsKnown) {
    TFakeSysfs sys;
    const auto at = [&](const char* relative) { return sys.Path(relative); };
    const std::vector<TSerialPortInfo> ports = ListSerialPorts(sys.Root());
    // No legacy slot without hardware, no virtual terminal, no dangling stable name.
    ASSERT_EQ(Paths(ports),
              (std::vector<std::string>{at("dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_8573531-if00"),
                                        at("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"),
                                        at("dev/ttyS0"), at("dev/ttyUSB1")}));

    const TSerialPortInfo& acm = ports[0];
    EXPECT_EQ(acm.Device, at("dev/ttyACM0"));
    EXPECT_EQ(acm.Driver, "cdc_acm");
    EXPECT_EQ(acm.Vendor, "Arduino (www.arduino.cc)");
    EXPECT_EQ(acm.Product, "CDC Abstract Control Model"); // no product text: the interface's
    EXPECT_EQ(acm.Serial, "8573531");
    EXPECT_EQ(acm.VendorId + ":" + acm.ProductId, "2341:0043");

    const TSerialPortInfo& ftdi = ports[1];
    EXPECT_EQ(ftdi.Device, at("dev/ttyUSB0"));
    EXPECT_EQ(ftdi.Description(),
              "FTDI FT232R USB UART, serial A1B2C3, ftdi_sio (0403:6001), " + at("dev/ttyUSB0"));

    const TSerialPortInfo& uart = ports[2];
    EXPECT_EQ(uart.Path, uart.Device);
    EXPECT_EQ(uart.Driver, "serial");
    EXPECT_EQ(uart.Vendor + uart.Product + uart.Serial + uart.VendorId, "");
    EXPECT_EQ(uart.Description(), "serial, " + at("dev/ttyS0"));

    EXPECT_EQ(ports[3].Serial, "Z9");
}

TEST(SerialPorts, AnAdapterThatComesAndGoesAndAnEmptyTree) {
    TFakeSysfs sys;
    sys.Unplug("ttyUSB0");
    const auto ports = ListSerialPorts(sys.Root());
    ASSERT_EQ(ports.size(), 3u);
    for (const TSerialPortInfo& port : ports)
        EXPECT_EQ(port.Path.find("FTDI_FT232R"), std::string::npos) << port.Path; // its link dangles now
    EXPECT_TRUE(ListSerialPorts(sys.Path("sys/class/tty/tty0")).empty());         // a tree with nothing in it
}
