// libFuzzer entry point: every listing parser and the registry over the fuzzer's
// bytes. Built as listing_fuzzer when the compiler supports -fsanitize=fuzzer.

#include "family_fuzz_one.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    taskhaul::ftp::fuzzing::exerciseListingParsers(
        std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
