#include "iocfpgacheck.h"

iocFpgaCheck::iocFpgaCheck(QWidget *parent) : QWidget(parent) {}
