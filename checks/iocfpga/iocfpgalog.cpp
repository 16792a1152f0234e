#include "iocfpgalog.h"

Q_LOGGING_CATEGORY(lcIocFpga, "checkmode.iocfpga")
