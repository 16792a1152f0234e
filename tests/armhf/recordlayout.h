#pragma once

#include <cstddef>

// Where the fields of Linux's evdev record sit, as one translation unit's
// compiler options lay it out. Plain numbers, so that units built with
// different time_t widths can be compared without sharing the type itself.
struct RecordLayout
{
    std::size_t size = 0;
    std::size_t secOffset = 0;
    std::size_t usecOffset = 0;
    std::size_t typeOffset = 0;
    std::size_t codeOffset = 0;
    std::size_t valueOffset = 0;

    // With this build's own options.
    static RecordLayout native();
    // With a 64-bit time_t (_TIME_BITS=64), the default of newer 32-bit ARM
    // distributions.
    static RecordLayout time64();
};
