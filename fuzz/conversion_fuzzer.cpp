// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: each input is a Step book (see fuzz_input.h), converted
// with runConversion in a folder of its own. Besides what the sanitizers
// catch, a run must keep the output promise: a failure leaves the output path
// as it was and no stray file behind, a success leaves the output file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "engine/conversion.h"
#include "fuzz/fuzz_input.h"
#include "tools/bookwriter/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using quillon::bookwriter::ScratchFolder;

const char kKeptContent[] = "an earlier conversion";

void writeWhole(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) std::abort();
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

[[noreturn]] void broken(const char* promise, const quillon::ConversionResult& result) {
    std::fprintf(stderr, "Broken promise: %s (succeeded=%d, message=\"%s\")\n", promise, result.succeeded,
                 result.message.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder("quillon-fuzz-");
    const quillon::fuzz::FuzzCase input = quillon::fuzz::splitFuzzInput(data, size);
    writeWhole(folder.file("Book.dat"), input.bookDat);
    writeWhole(folder.file("Viewable.idx"), input.viewableIdx);
    const std::string outputPath = folder.file("out.rtf");
    if (input.options.outputFileExists) writeWhole(outputPath, kKeptContent);

    const quillon::ConversionResult result = quillon::runConversion(
        {folder.path().string(), outputPath, input.options.insertMarkers, input.options.stripTags});

    if (result.succeeded != result.message.empty()) broken("a message exactly when the run fails", result);
    if (result.succeeded) {
        if (!fs::is_regular_file(outputPath)) broken("a successful run leaves its output file", result);
    } else if (input.options.outputFileExists) {
        if (readWhole(outputPath) != kKeptContent) broken("a failed run keeps the existing output", result);
    } else if (fs::exists(outputPath)) {
        broken("a failed run creates no output file", result);
    }
    if (std::distance(fs::directory_iterator(folder.path()), {}) != (fs::exists(outputPath) ? 3 : 2)) {
        broken("no stray files", result);
    }
    fs::remove(outputPath);
    return 0;
}
