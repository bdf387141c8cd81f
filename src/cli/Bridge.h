#pragma once
// korva bridge: the controller (or every unit of the line) on an MQTT broker, headless, until the
// system asks it to stop (SIGTERM, SIGINT). It owns the port as the console does: the monitor's
// polling for one unit, the bus poller's for --all; a lost port is reopened by name, a lost broker
// reconnected, both by themselves. Writes from the plant run on this program's main thread,
// between the polling's exchanges.

#include "cli/Commands.h"

#include <string>
#include <vector>

// port: the port resolved as every command resolves it. Returns the exit code.
int RunBridge(const TCliOptions& options, const std::string& port, const std::vector<std::string>& args);

extern const char* const BridgeSynopsis;
extern const char* const BridgeHelp;
