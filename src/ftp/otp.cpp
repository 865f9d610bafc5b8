#include "ftp/otp.h"

#include "base/integers.h"
#include "base/text.h"
#include "ftp/ftp_errors.h"

#include <nettle/md4.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <algorithm>
#include <vector>

namespace taskhaul::ftp::otp {
namespace {

std::uint64_t ReadBigEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Hashes the input and folds the digest to 64 bits, as the RFC defines it for
// each algorithm. The result is kept as the 8 bytes in transmission order.
std::array<std::uint8_t, 8> HashAndFold(Algorithm algorithm, const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, 8> folded {};
    switch (algorithm) {
    case Algorithm::md4:
    case Algorithm::md5: {
        std::uint8_t digest[16];
        if (algorithm == Algorithm::md4) {
            md4_ctx ctx;
            md4_init(&ctx);
            md4_update(&ctx, size, data);
            md4_digest(&ctx, sizeof digest, digest);
        } else {
            md5_ctx ctx;
            md5_init(&ctx);
            md5_update(&ctx, size, data);
            md5_digest(&ctx, sizeof digest, digest);
        }
        for (int i = 0; i < 8; ++i)
            folded[i] = digest[i] ^ digest[i + 8];
        break;
    }
    case Algorithm::sha1: {
        std::uint8_t digest[20];
        sha1_ctx ctx;
        sha1_init(&ctx);
        sha1_update(&ctx, size, data);
        sha1_digest(&ctx, sizeof digest, digest);
        // The RFC folds the five 32-bit words of the SHA-1 state and emits each
        // of the two resulting words least significant byte first.
        std::uint32_t words[5];
        for (int i = 0; i < 5; ++i)
            words[i] = (std::uint32_t(digest[4 * i]) << 24) | (std::uint32_t(digest[4 * i + 1]) << 16)
                | (std::uint32_t(digest[4 * i + 2]) << 8) | std::uint32_t(digest[4 * i + 3]);
        words[0] ^= words[2];
        words[1] ^= words[3];
        words[0] ^= words[4];
        for (int w = 0; w < 2; ++w)
            for (int b = 0; b < 4; ++b)
                folded[4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
        break;
    }
    }
    return folded;
}

} // namespace

std::optional<Challenge> FindChallenge(std::string_view text)
{
    const auto at = text.find("otp-");
    if (at == std::string_view::npos)
        return std::nullopt;
    const auto words = base::SplitWords(text.substr(at + 4), base::kBlanks);
    if (words.empty())
        return std::nullopt;
    Challenge challenge;
    if (words[0] == "md4")
        challenge.algorithm = Algorithm::md4;
    else if (words[0] == "md5")
        challenge.algorithm = Algorithm::md5;
    else if (words[0] == "sha1")
        challenge.algorithm = Algorithm::sha1;
    else
        return std::nullopt;
    if (words.size() < 3)
        throw EInvalidOtpChallenge();
    const auto isAlphanumeric
        = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const std::string_view sequence = words[1];
    const std::string_view seed = words[2];
    // Four digits at most (0 to 9999): the count of hash rounds stays small.
    const auto sequenceNumber
        = sequence.size() <= 4 ? base::ParseDigits(sequence, kMaxSequence) : std::nullopt;
    if (!sequenceNumber)
        throw EInvalidOtpChallenge();
    if (seed.empty() || seed.size() > kMaxSeedLength
        || !std::all_of(seed.begin(), seed.end(), isAlphanumeric))
        throw EInvalidOtpChallenge();
    challenge.sequence = static_cast<int>(*sequenceNumber);
    challenge.seed = std::string(seed);
    return challenge;
}

std::uint64_t Compute(Algorithm algorithm, std::string_view passPhrase, std::string_view seed, int sequence)
{
    if (sequence < 0 || sequence > kMaxSequence)
        throw EInvalidOtpChallenge();
    std::string input;
    input.reserve(seed.size() + passPhrase.size());
    for (char c : seed)
        input.push_back(base::AsciiLower(c));
    input.append(passPhrase);
    auto value = HashAndFold(algorithm, reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    for (int i = 0; i < sequence; ++i)
        value = HashAndFold(algorithm, value.data(), value.size());
    return ReadBigEndian64(value.data());
}

std::string ToSixWords(std::uint64_t value)
{
    // Two bits of checksum (the sum of the 32 bit pairs) follow the 64 bits; the
    // 66 bits read as six 11-bit indexes, most significant first.
    unsigned checksum = 0;
    for (int shift = 0; shift < 64; shift += 2)
        checksum += static_cast<unsigned>((value >> shift) & 3u);
    std::string words;
    for (int i = 0; i < 6; ++i) {
        const int bit = 11 * i; // position of the word's first bit in the 66
        unsigned index = 0;
        for (int b = 0; b < 11; ++b) {
            const int pos = bit + b;
            unsigned bitValue;
            if (pos < 64)
                bitValue = static_cast<unsigned>((value >> (63 - pos)) & 1u);
            else
                bitValue = (checksum >> (65 - pos)) & 1u;
            index = (index << 1) | bitValue;
        }
        if (i > 0)
            words.push_back(' ');
        words.append(kDictionary[index]);
    }
    return words;
}

std::string Response(const Challenge& challenge, std::string_view passPhrase)
{
    return ToSixWords(Compute(challenge.algorithm, passPhrase, challenge.seed, challenge.sequence));
}

} // namespace taskhaul::ftp::otp
