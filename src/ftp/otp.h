#pragma once

// One-time passwords of RFC 2289 (S/KEY family), as an FTP server asks for them
// with a challenge such as "otp-md5 499 ke1234".

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace taskhaul::ftp::otp {

enum class Algorithm { md4, md5, sha1 };

struct Challenge {
    Algorithm algorithm = Algorithm::md5;
    int sequence = 0;
    std::string seed;
};

extern const std::array<const char*, 2048> kDictionary;

// Largest sequence number and longest seed a challenge may carry (RFC 2289).
inline constexpr int kMaxSequence = 9999;
inline constexpr std::size_t kMaxSeedLength = 16;

// Finds "otp-<alg> <sequence> <seed>" in a reply text. The algorithm name is
// matched case-sensitively ("md4", "md5", "sha1"); anything else is no challenge.
// A challenge with a known algorithm whose sequence number is not 0 to 9999 or
// whose seed is not 1 to 16 letters and digits raises EInvalidOtpChallenge: the
// pass phrase is neither hashed nor sent for it.
std::optional<Challenge> FindChallenge(std::string_view text);

// The 64-bit one-time password: the lower-cased seed and the pass phrase hashed
// and folded, then hashed and folded `sequence` more times.
// A sequence outside 0 to kMaxSequence raises EInvalidOtpChallenge.
std::uint64_t Compute(Algorithm algorithm, std::string_view passPhrase, std::string_view seed, int sequence);

// The six-word form (standard dictionary, 2-bit checksum), words separated by blanks.
std::string ToSixWords(std::uint64_t value);

// The response to a challenge in six-word form.
std::string Response(const Challenge& challenge, std::string_view passPhrase);

} // namespace taskhaul::ftp::otp
