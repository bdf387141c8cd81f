#pragma once
// TWeighingTool: the busy window shown while the controller weighs the tool (3 to 20 s, during which
// the user-interface thread waits for the reply). The saving busy window's form, with its own text.
//
// Threads: main thread only. Created and destroyed by the weigh command.

#include "panel/Saveconfig.h"

class TWeighingTool : public TSavingConfig {
public:
    explicit TWeighingTool(QWidget* owner);
};
