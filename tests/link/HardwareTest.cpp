// Against a real controller on a real port, only when KORVA_TEST_PORT names it
// (e.g. KORVA_TEST_PORT=/dev/ttyUSB0 ctest -L hardware).

#include "link/CommPort.h"
#include "link/IxaInterface.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Hardware, HandshakeAndAReadOnARealController) {
    const char* name = std::getenv("KORVA_TEST_PORT");
    if (!name || !*name)
        GTEST_SKIP() << "set KORVA_TEST_PORT to the port of a controller to run this";
    TCommPort port;
    port.Open(name);
    ASSERT_TRUE(port.Opened) << port.OpenFailure();
    TIxaInterface link(&port);
    if (const char* address = std::getenv("KORVA_TEST_ADDRESS"))
        link.Address = std::atoi(address);
    link.Connect();
    ASSERT_TRUE(link.Connected) << (link.Refused() ? IxaInterfaceErrorText[5] : "no answer to the handshake");
    EXPECT_GE(link.Version, 4.0);
    EXPECT_FALSE(link.DinFunctionNames.empty());
    double maxForce = link.GetMaxForce();
    EXPECT_GT(maxForce, 0);
    EXPECT_NO_THROW(link.GetToolConnected());
    EXPECT_TRUE(link.Connected);
}
