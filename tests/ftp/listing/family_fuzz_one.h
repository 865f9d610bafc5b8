#pragma once

// One run of every listing parser and of the registry over arbitrary bytes: the
// body shared by the libFuzzer entry point and the random-input test.

#include <string_view>

namespace taskhaul::ftp::fuzzing {

// Splits `input` into lines as a received listing is split, offers them to every
// parser's check (with and without details) and parse, then to the registry.
// The first line doubles as the answer to SYST, so that the formats chosen by it
// are reached too. A parse error (EListParseError) is an allowed outcome; anything
// else escaping, a crash or a hang is a fault.
void exerciseListingParsers(std::string_view input);

} // namespace taskhaul::ftp::fuzzing
