// SPDX-License-Identifier: GPL-2.0-or-later
// How one fuzzer input becomes a conversion: an options byte, the length of
// Book.dat as a 32-bit little-endian number, Book.dat's bytes, and then
// Viewable.idx's bytes up to the end. A length past the end takes what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::fuzz {

struct FuzzOptions {
    bool insertMarkers = true;
    bool stripTags = true;
    bool outputFileExists = false;  // the run's output path already holds a file
};

struct FuzzCase {
    FuzzOptions options;
    std::string_view bookDat;
    std::string_view viewableIdx;
};

inline FuzzCase splitFuzzInput(const std::uint8_t* data, std::size_t size) {
    FuzzCase fuzzCase;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.size() < 5) return fuzzCase;
    const auto optionBits = static_cast<std::uint8_t>(input[0]);
    fuzzCase.options = {(optionBits & 1) != 0, (optionBits & 2) != 0, (optionBits & 4) != 0};
    std::uint32_t bookLength = 0;
    for (int k = 0; k < 4; ++k) bookLength |= std::uint32_t{static_cast<std::uint8_t>(input[1 + k])} << (8 * k);
    const std::string_view files = input.substr(5);
    fuzzCase.bookDat = files.substr(0, bookLength);
    fuzzCase.viewableIdx = files.substr(fuzzCase.bookDat.size());
    return fuzzCase;
}

inline std::string joinFuzzInput(const FuzzOptions& options, std::string_view bookDat, std::string_view viewableIdx) {
    std::string input;
    input += static_cast<char>((options.insertMarkers ? 1 : 0) | (options.stripTags ? 2 : 0) |
                               (options.outputFileExists ? 4 : 0));
    const auto bookLength = static_cast<std::uint32_t>(bookDat.size());
    for (int k = 0; k < 4; ++k) input += static_cast<char>((bookLength >> (8 * k)) & 0xFF);
    input += bookDat;
    input += viewableIdx;
    return input;
}

}  // namespace quillon::fuzz
