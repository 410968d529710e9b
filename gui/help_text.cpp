// SPDX-License-Identifier: GPL-2.0-or-later
// The help text. RTF control words start with a backslash, so a backslash
// meant to be seen is doubled, and the division sign is the escape \'f7.
#include "gui/help_text.h"

#include "gui/about.h"
#include "quillon_version.h"

namespace quillon::gui {

const std::string& helpText() {
    static const std::string text =
        std::string(
            R"rtf({\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fnil\fcharset0 Verdana;}}\viewkind4\uc1\pard\qc\b\f0\fs20 Quillon, v)rtf" QUILLON_VERSION R"rtf(\par
\b0 )rtf") +
        kCreditLine + R"rtf(\par
\par
\pard\par
\b Updates, Support, Documentation:\b0  )rtf" +
        kSupportSite + R"rtf(\par
\par
\b Summary:\b0  Quillon converts a Step book into an RTF file that can be viewed and edited in any word processor, such as Microsoft Word, LibreOffice Writer, WordPerfect, WordPad or AbiWord.\par
\par
\b Insert \'f7 at section beginning:\b0   This option puts a placeholder symbol, \'f7, at the beginning of each section of the Step book (each of its viewable blocks). The symbol serves as a section divider when the RTF file is imported into other tools or converted to other Bible markup formats.\par
For example, the verse-by-verse or chapter-by-chapter comments of a commentary are usually divided into viewable blocks, one block for each verse or chapter. With a marker at the start of each section, the converted text is already close to what an import tool expects, and only the references need to be added or checked.\par
Tip: the marker sometimes lands a line or two above where you want it, for instance in front of an empty line or a heading. Your word processor's search and replace fixes that: search for the marker followed by one or two paragraph marks (\i\'f7^13\i0 , \i\'f7^13^13\i0 , \i\'f7^p\i0  or \i\'f7^p^p\i0 ) and replace each with the marker alone (\i\'f7\i0 ). Otherwise a regular-expression replace is needed.\par
Whatever tool you use next, a few minutes spent on search and replace almost always beat hours of reformatting by hand.\par
\par
\b Strip \\v0 and \\v1  RTF Tags:\b0  This option removes the \\v0 and \\v1 tags from the text.\par
RTF marks formatting with hidden tags: the word Bible, written as \\b Bible\\b0 in an RTF file, is displayed in bold, like the word \b bolded\b0  here. The \\v tags are not documented by the maker of the RTF standard; they meant something to the Step book format but mean nothing to word processors, and in some cases they disturb a word processor's search and replace. Tick the box to remove them; leave it empty to keep the text exactly as the Step book stores it.\par
\par
\b Known Issues and Troubleshooting:\b0\par
\b 1)\b0  Some modules with Greek or Hebrew text do not convert well; others do. If the Greek or Hebrew letters of a converted book look wrong, check the fonts the RTF file asks for; the book's own fonts may not be installed.\par
\b 2)\b0  Pictures and other binary data are not converted: each section ends where its first picture begins. Pictures such as charts, maps and diagrams often lie as separate files in the book's folder and can be inserted into the RTF file by hand.\par
\b 3)\b0  Binary data that is not a picture, met in one Step book, is left out; this has no effect on the content or layout of that book.\par
\b 4)\b0  If the RTF file cannot be opened, it may be a rare case of item 3. Please send the output file together with the Step book to )rtf" +
        kAuthor + R"rtf(.\par
\par
\b Legal:\b0\par
)rtf" QUILLON_COPYRIGHT R"rtf(.\par
Quillon is free software: you can redistribute it and/or modify it under the terms of the GNU General Public License as published by the Free Software Foundation, either version 2 of the License, or (at your option) any later version.\par
Quillon is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE. See the GNU General Public License for more details.\par
Quillon includes the SWORD library of The SWORD Project (CrossWire Bible Society), which is licensed under the GNU General Public License version 2. The license texts come with the program, in COPYING.txt and THIRD-PARTY-NOTICES.txt. The source code of Quillon can be had from )rtf" +
        kSupportSite + R"rtf(.\par
\b\par
} )rtf";
    return text;
}

}  // namespace quillon::gui
