#pragma once
// A simulated controller on a pseudo-terminal, the console's port opened on it and a link on the
// port: the whole real path, no mock. With KORVA_TEST_TRANSPORT=tcp or rfc2217 in the environment
// the port reaches the pseudo-terminal through ser2net instead, as a plant reaches its controllers
// through a serial device server; unset or "local", it opens the pseudo-terminal itself.

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include "support/Ser2net.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

// The transport the test's environment asks for (KORVA_TEST_TRANSPORT); a name that is none of
// them fails the test rather than quietly testing the local line.
enum class TTestTransport { Local, Tcp, Rfc2217 };

inline TTestTransport TestTransport() {
    const char* value = std::getenv("KORVA_TEST_TRANSPORT");
    const std::string name = value ? value : "";
    if (name.empty() || name == "local")
        return TTestTransport::Local;
    if (name == "tcp")
        return TTestTransport::Tcp;
    if (name == "rfc2217")
        return TTestTransport::Rfc2217;
    ADD_FAILURE() << "KORVA_TEST_TRANSPORT=" << name << " is none of local, tcp, rfc2217";
    return TTestTransport::Local;
}

// Whether the port is the pseudo-terminal itself, not a serial server in front of it.
inline bool LocalTransport() {
    return TestTransport() == TTestTransport::Local;
}

struct TLinkRig {
    explicit TLinkRig(sim::TSimOptions options = {}, bool connect = true) : Sim(options) {
        if (const TTestTransport transport = TestTransport(); transport != TTestTransport::Local) {
            Server = std::make_unique<TSer2net>(Sim.SlavePath(), transport == TTestTransport::Rfc2217);
            EXPECT_TRUE(Server->Start()) << "ser2net did not start";
            PortName = Server->PortName();
        } else {
            PortName = Sim.SlavePath();
        }
        Port.Open(PortName);
        if (connect)
            Link.Connect();
    }
    // The lines the console sent since the last call, once `count` of them have arrived.
    std::vector<std::string> Sent(size_t count = 1, unsigned timeoutMs = 2000) {
        Sim.WaitReceived(count, timeoutMs);
        auto lines = Sim.Received();
        Sim.ClearReceived();
        return lines;
    }

    sim::TSimulator Sim;
    std::unique_ptr<TSer2net> Server; // null on the local transport
    std::string PortName;             // what the port was opened with
    TCommPort Port;
    TIxaInterface Link{&Port};
};

inline long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

// Expects fn to raise EIxaInterface with the code; returns false (and reports) otherwise.
inline void ExpectLinkError(const std::function<void()>& fn, int code, const char* what = "") {
    try {
        fn();
        ADD_FAILURE() << what << ": no EIxaInterface " << code;
    } catch (const EIxaInterface& e) {
        EXPECT_EQ(e.Code, code) << what << ": " << e.Message;
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": unexpected " << e.what();
    }
}
