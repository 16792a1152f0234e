#include "lampbuzzercheck.h"

lampBuzzerCheck::lampBuzzerCheck(QWidget *parent) : QWidget(parent) {}
