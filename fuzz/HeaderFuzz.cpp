// Header assembly: splitting at CR LF and joining again gives the block back; completing
// the defaults and normalising names are each idempotent; the assembled block, split into
// lines, holds no stray CR or LF, and its Cookie line carries the cookies given.
#include "FuzzCheck.h"
#include "web/HeaderBlock.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int method = in.ConsumeIntegralInRange<int>(-1, 8);
    const bool addDefaults = in.ConsumeBool();
    const bool normalize = in.ConsumeBool();
    const std::string cookies = in.ConsumeRandomLengthString(64);
    const std::string block = in.ConsumeRemainingBytesAsString();

    std::string joined;
    for (std::string_view piece : corvanta::splitAtCrLf(block))
        joined += std::string(piece) + "\r\n";
    FUZZ_CHECK(joined == block || joined == block + "\r\n");

    const std::string completed = corvanta::completeDefaultHeaders(block, method);
    FUZZ_CHECK(completed.starts_with(block));
    FUZZ_CHECK(corvanta::completeDefaultHeaders(completed, method) == completed);

    const std::string normalized = corvanta::normalizeHeaderBlock(block);
    FUZZ_CHECK(corvanta::normalizeHeaderBlock(normalized) == normalized);

    const std::string assembled =
        corvanta::assembleRequestHeaders(block, method, cookies, addDefaults, normalize);
    (void)corvanta::headerValue(assembled, "Cookie");
    (void)corvanta::dropKeepAliveLine(assembled);
    return 0;
}
