// SPDX-License-Identifier: GPL-2.0-or-later
// The help text is RTF that the rich-edit control reads: its header must be
// exact, every backslash must start a control word the text means to use (a
// stray single backslash before "v0" would hide text), and the braces must
// balance.
#include "gui/help_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "gui/about.h"
#include "quillon_version.h"

namespace quillon::gui {
namespace {

const std::string kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}}\\viewkind4\\uc1"
    "\\pard\\qc\\b\\f0\\fs20 ";

// The text as displayed, roughly: control words dropped, escapes decoded.
std::string visibleText(const std::string& rtf) {
    std::string text;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{' || c == '}' || c == '\n') continue;
        if (c != '\\') {
            text += c;
            continue;
        }
        const char next = rtf[i + 1];
        if (next == '\\') {
            text += '\\';
            ++i;
        } else if (next == '\'') {
            text += static_cast<char>(std::stoi(rtf.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            std::size_t end = i + 1;
            while (std::isalnum(static_cast<unsigned char>(rtf[end]))) ++end;
            if (rtf.compare(i, end - i, "\\par") == 0) text += '\n';
            if (rtf[end] == ' ') ++end;  // the control word's delimiter
            i = end - 1;
        }
    }
    return text;
}

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

TEST(HelpTextTest, ShowsItsSectionsInOrderWithTheProjectsDetails) {
    const std::string text = visibleText(helpText());
    const std::string expectedInOrder[] = {
        "Quillon, v" QUILLON_VERSION "\n",
        std::string(kCreditLine) + "\n",
        "Updates, Support, Documentation: " + std::string(kSupportSite) + "\n",
        "Summary: ",
        "Insert \xF7 at section beginning:  ",
        "\xF7^13", "\xF7^13^13", "\xF7^p", "\xF7^p^p",
        "Strip \\v0 and \\v1  RTF Tags: ",
        "\\b Bible\\b0 ",
        "\nKnown Issues and Troubleshooting:\n",
        "1) ", "2) ", "3) ", "4) ", kAuthor,
        "\nLegal:\n",
        QUILLON_COPYRIGHT,
        "free software", "GNU General Public License", "either version 2 of the License, or (at your option) any later version",
        "WITHOUT ANY WARRANTY", "SWORD library", kSupportSite,
    };
    std::size_t from = 0;
    for (const std::string& piece : expectedInOrder) {
        const std::size_t at = text.find(piece, from);
        ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << piece;
        from = at + piece.size();
    }
}

}  // namespace
}  // namespace quillon::gui
