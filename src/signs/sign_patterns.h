// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/sign_pattern.h"

// All zero until initPatterns has filled them.
struct SignPatterns {
    SignPattern patternStop{};
    SignPattern patternForward{};
    SignPattern patternRight{};
    SignPattern patternLeft{};
    SignPattern patternChequer1{};
    SignPattern patternChequer2{};
};

void initPatterns(SignPatterns& patterns);
