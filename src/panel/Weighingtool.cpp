// The weighing busy window.

#include "panel/Weighingtool.h"

TWeighingTool::TWeighingTool(QWidget* owner) : TSavingConfig(owner, 256, 58, 19, "Weighing Tool...") {}
