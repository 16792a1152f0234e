#pragma once

#include <QLoggingCategory>

// The IOC/FPGA check's own diagnostics (a board tool or the flash read killed
// at its bound), beside the FPGA answer that the check writes to the default
// category: QT_LOGGING_RULES can silence or select them
// ("checkmode.iocfpga.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcIocFpga)
