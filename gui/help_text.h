// SPDX-License-Identifier: GPL-2.0-or-later
// The help window's text: one RTF document in code page 1252.
#pragma once

#include <string>

namespace quillon::gui {

const std::string& helpText();

}  // namespace quillon::gui
