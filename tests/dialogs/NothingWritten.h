#pragma once
// The texts of the one "Korva Windows" box an OK gives when it writes nothing.
constexpr const char* NeverReadText = "The controller was offline when this window opened, so its settings "
                                      "were never read. Nothing was written.";
constexpr const char* ReadFailedText =
    "The controller's settings could not all be read when this window opened. Nothing was written.";
constexpr const char* LinkLostText =
    "The link to the controller was lost. Nothing was written, and the changes made here are lost.";
