// SPDX-License-Identifier: GPL-2.0-or-later
// Who makes Quillon and where to find it; the help text shows these.
#pragma once

#include "quillon_version.h"

namespace quillon::gui {

inline constexpr char kSupportSite[] = QUILLON_SUPPORT_SITE;
inline constexpr char kCreditLine[] = "Made by the Quillon developers";
inline constexpr char kAuthor[] = "the Quillon developers";

}  // namespace quillon::gui
