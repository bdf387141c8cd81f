#pragma once
// A simulated controller on a pseudo-terminal, the console's port opened on it and a link on the
// port: the whole real path, no mock. Built with KORVA_LINK_VIA_TCP or KORVA_LINK_VIA_RFC2217, the
// port reaches the pseudo-terminal through ser2net instead, as a plant reaches its controllers
// through a serial device server.

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#if defined(KORVA_LINK_VIA_TCP) || defined(KORVA_LINK_VIA_RFC2217)
#include "support/Ser2net.h"
#endif

struct TLinkRig {
    explicit TLinkRig(sim::TSimOptions options = {}, bool connect = true) : Sim(options) {
#if defined(KORVA_LINK_VIA_TCP) || defined(KORVA_LINK_VIA_RFC2217)
#ifdef KORVA_LINK_VIA_TCP
        Server = std::make_unique<TSer2net>(Sim.SlavePath(), false);
#else
        Server = std::make_unique<TSer2net>(Sim.SlavePath(), true);
#endif
        EXPECT_TRUE(Server->Start()) << "ser2net did not start";
        PortName = Server->PortName();
#else
        PortName = Sim.SlavePath();
#endif
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
#if defined(KORVA_LINK_VIA_TCP) || defined(KORVA_LINK_VIA_RFC2217)
    std::unique_ptr<TSer2net> Server;
#endif
    std::string PortName; // what the port was opened with
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
