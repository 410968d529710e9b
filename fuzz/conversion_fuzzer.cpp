// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: each input is a Step book (see fuzz_input.h), converted
// with runConversion in a folder of its own. Besides what the sanitizers
// catch, a run must keep the output promise: a failure leaves the output path
// as it was and no stray file behind, a success leaves the output file. And
// its memory must not depend on the book: at its peak a run holds no more
// heap than the conversion of a small sound book, so no book can exhaust the
// address space that a small one fits in.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "engine/conversion.h"
#include "fuzz/fuzz_input.h"
#include "tools/bookwriter/scratch_folder.h"
#include "tools/bookwriter/step_book_writer.h"

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

// The heap held, counted from when the hooks were installed, and its peak.
std::int64_t heapHeld = 0, heapPeak = 0;

void countMalloc(const volatile void*, std::size_t size) {
    heapHeld += static_cast<std::int64_t>(size);
    heapPeak = std::max(heapPeak, heapHeld);
}

void countFree(const volatile void* pointer) {
    heapHeld -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
}

// Converts and returns how much heap the run held at its peak above what
// was held before it.
std::int64_t convert(const quillon::ConversionRequest& request, quillon::ConversionResult& result) {
    const std::int64_t before = heapHeld;
    heapPeak = heapHeld;
    result = quillon::runConversion(request);
    return heapPeak - before;
}

// A small sound book: its run allocates all that any run holds at once.
std::int64_t heapOfASmallBook(const ScratchFolder& folder) {
    const quillon::bookwriter::StepBookFiles book =
        quillon::bookwriter::buildStepBook(quillon::bookwriter::layoutOf({"{\\rtf1 a", "b\\v1 c", "}"}));
    writeWhole(folder.file("Book.dat"), book.bookDat);
    writeWhole(folder.file("Viewable.idx"), book.viewableIdx);
    quillon::ConversionResult result;
    const std::int64_t peak = convert({folder.path().string(), folder.file("out.rtf"), true, true}, result);
    if (!result.succeeded) broken("a small sound book converts", result);
    fs::remove(folder.file("out.rtf"));
    return peak;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder("quillon-fuzz-");
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(countMalloc, countFree) != 0;
    // What differs between books: the messages' numbers and lengths.
    static const std::int64_t heapLimit = heapOfASmallBook(folder) + 4096;
    const quillon::fuzz::FuzzCase input = quillon::fuzz::splitFuzzInput(data, size);
    writeWhole(folder.file("Book.dat"), input.bookDat);
    writeWhole(folder.file("Viewable.idx"), input.viewableIdx);
    const std::string outputPath = folder.file("out.rtf");
    if (input.options.outputFileExists) writeWhole(outputPath, kKeptContent);

    quillon::ConversionResult result;
    const std::int64_t heap =
        convert({folder.path().string(), outputPath, input.options.insertMarkers, input.options.stripTags}, result);
    if (hooked && heap > heapLimit) {
        std::fprintf(stderr, "The run held %lld bytes of heap, a small book %lld\n", static_cast<long long>(heap),
                     static_cast<long long>(heapLimit - 4096));
        broken("memory does not grow with the book", result);
    }

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
