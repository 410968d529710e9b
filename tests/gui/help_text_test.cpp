// SPDX-License-Identifier: GPL-2.0-or-later
// The help text is RTF that the rich-edit control reads: its header must be
// exact, every backslash must start a control word the text means to use (a
// stray single backslash before "v0" would hide text), and the braces must
// balance.
#include "gui/help_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "quillon_version.h"

namespace quillon::gui {
namespace {

const std::string kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}}\\viewkind4\\uc1"
    "\\pard\\qc\\b\\f0\\fs20 ";

TEST(HelpTextTest, IsRtfWithTheExpectedHeaderAndOnlyTheControlWordsItNeeds) {
    const std::string& rtf = helpText();
    ASSERT_EQ(rtf.compare(0, kHeader.size(), kHeader), 0) << rtf.substr(0, kHeader.size());
    const std::string title = "Quillon, v" QUILLON_VERSION "\\par";
    EXPECT_EQ(rtf.compare(kHeader.size(), title.size(), title), 0);
    EXPECT_EQ(rtf.substr(rtf.size() - 9), "\\b\\par\n} ") << "ends with an empty bold paragraph";

    const std::set<std::string> allowed = {"rtf1", "ansi", "ansicpg1252", "deff0", "deflang1033", "fonttbl",
                                           "f0", "fnil", "fcharset0", "viewkind4", "uc1", "pard", "qc",
                                           "b", "b0", "fs20", "par", "i", "i0"};
    int depth = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '{') ++depth;
        if (rtf[i] == '}') {
            ASSERT_GT(depth--, 0) << "at " << i;
        }
        if (rtf[i] != '\\') continue;
        const char next = rtf[i + 1];
        if (next == '\\') {
            ++i;
        } else if (next == '\'') {
            EXPECT_EQ(rtf.substr(i, 4), "\\'f7") << "the only escaped byte is the division sign";
        } else {
            std::size_t end = i + 1;
            while (std::isalnum(static_cast<unsigned char>(rtf[end]))) ++end;
            EXPECT_TRUE(allowed.count(rtf.substr(i + 1, end - i - 1))) << rtf.substr(i, 12);
        }
    }
    EXPECT_EQ(depth, 0);
    for (unsigned char c : rtf) EXPECT_LT(c, 0x80) << "8-bit bytes are escaped";
}

}  // namespace
}  // namespace quillon::gui
