#include "ftp/listing/unix_dates.h"

#include "ftp/listing/line_tests.h"

#include <array>
#include <string>

namespace taskhaul::ftp {

namespace {

struct UnitSign {
    std::string_view bytes;
    DateUnit unit;
};

// The signs of year, month and day as each encoding writes them. No byte
// sequence stands for two different units, so the encoding need not be known.
constexpr std::array<UnitSign, 24> kUnitSigns = { {
    { "\xE5\xB9\xB4", DateUnit::Year }, // UTF-8, Chinese and Japanese
    { "\xE6\x9C\x88", DateUnit::Month },
    { "\xE6\x97\xA5", DateUnit::Day },
    { "\xEB\x85\x84", DateUnit::Year }, // UTF-8, Korean
    { "\xEC\x9B\x94", DateUnit::Month },
    { "\xEC\x9D\xBC", DateUnit::Day },
    { "\xC4\xEA", DateUnit::Year }, // GBK (GB 2312)
    { "\xD4\xC2", DateUnit::Month },
    { "\xC8\xD5", DateUnit::Day },
    { "\xA6\x7E", DateUnit::Year }, // Big5
    { "\xA4\xEB", DateUnit::Month },
    { "\xA4\xE9", DateUnit::Day },
    { "\x94\x4E", DateUnit::Year }, // Shift_JIS
    { "\x8C\x8E", DateUnit::Month },
    { "\x93\xFA", DateUnit::Day },
    { "\xC7\xAF", DateUnit::Year }, // EUC-JP
    { "\xB7\xEE", DateUnit::Month },
    { "\xC6\xFC", DateUnit::Day },
    { "\xB3\xE2", DateUnit::Year }, // EUC-KR, Hangul
    { "\xBF\xF9", DateUnit::Month },
    { "\xC0\xCF", DateUnit::Day },
    { "\xD2\xB4", DateUnit::Year }, // EUC-KR, Hanja
    { "\xEA\xC5", DateUnit::Month },
    { "\xEC\xED", DateUnit::Day },
} };

std::size_t leadingDigits(std::string_view text)
{
    std::size_t count = 0;
    while (count < text.size() && text[count] >= '0' && text[count] <= '9')
        ++count;
    return count;
}

// Lower-case ASCII, with the capital accented letters of Hungarian month names
// (Á, Ú in UTF-8 and Latin-2) made small too.
std::string foldedMonthName(std::string_view word)
{
    std::string folded;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(word[i]);
        if (c == 0xC3 && i + 1 < word.size()
            && (static_cast<unsigned char>(word[i + 1]) == 0x81
                || static_cast<unsigned char>(word[i + 1]) == 0x9A)) {
            folded += '\xC3';
            folded += static_cast<unsigned char>(word[i + 1]) == 0x81 ? '\xA1' : '\xBA';
            ++i;
        } else if (c == 0xC1 || c == 0xDA) {
            folded += c == 0xC1 ? '\xE1' : '\xFA';
        } else {
            folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
        }
    }
    return folded;
}

} // namespace

std::optional<UnitNumber> readUnitNumber(std::string_view word)
{
    const std::size_t digits = leadingDigits(word);
    if (digits == 0 || digits > 4)
        return std::nullopt;
    const std::string_view after = word.substr(digits);
    for (const UnitSign& sign : kUnitSigns)
        if (after.starts_with(sign.bytes))
            return UnitNumber { toIntOr(word.substr(0, digits), 0), sign.unit,
                after.substr(sign.bytes.size()) };
    return std::nullopt;
}

int dottedMonth(std::string_view word)
{
    if (word.size() < 4 || word.back() != '.')
        return 0;
    const std::string name = foldedMonthName(word.substr(0, word.size() - 1));
    // Hungarian abbreviations, in UTF-8 and in Latin-2.
    static constexpr std::array<std::string_view, 12> kUtf8 = { "jan", "febr", "m\xC3\xA1rc", "\xC3\xA1pr",
        "m\xC3\xA1j", "j\xC3\xBAn", "j\xC3\xBAl", "aug", "szept", "okt", "nov", "dec" };
    static constexpr std::array<std::string_view, 12> kLatin2 = { "jan", "febr", "m\xE1rc", "\xE1pr",
        "m\xE1j", "j\xFAn", "j\xFAl", "aug", "szept", "okt", "nov", "dec" };
    for (std::size_t i = 0; i < kUtf8.size(); ++i)
        if (name == kUtf8[i] || name == kLatin2[i])
            return static_cast<int>(i) + 1;
    return monthFromName(name);
}

int dottedYear(std::string_view word)
{
    if (word.size() != 5 || word.back() != '.' || !base::IsDigits(word.substr(0, 4)))
        return 0;
    return toIntOr(word.substr(0, 4), 0);
}

std::optional<DottedDate> readDottedDate(std::string_view word)
{
    if (word.ends_with('.'))
        word.remove_suffix(1);
    const std::size_t first = word.find('.');
    if (first != 4)
        return std::nullopt;
    const std::size_t second = word.find('.', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::string_view year = word.substr(0, first);
    const std::string_view month = word.substr(first + 1, second - first - 1);
    const std::string_view day = word.substr(second + 1);
    for (std::string_view part : { year, month, day })
        if (part.empty() || !base::IsDigits(part))
            return std::nullopt;
    if (month.size() > 2 || day.size() > 2)
        return std::nullopt;
    return DottedDate { toIntOr(year, 0), toIntOr(month, 0), toIntOr(day, 0) };
}

std::optional<NumericLine> readNumericLine(std::string_view line)
{
    std::array<std::string_view, 5> words {};
    std::size_t pos = 0;
    for (std::string_view& word : words) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos)
            return std::nullopt;
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        word = line.substr(pos, end - pos);
        pos = end;
    }
    // A name must follow, after one blank.
    if (pos + 1 >= line.size())
        return std::nullopt;
    const std::string_view mode = words[0];
    if (mode.size() < 3 || mode.size() > 7 || mode.find_first_not_of("01234567") != std::string_view::npos)
        return std::nullopt;
    for (std::size_t i = 1; i < words.size(); ++i)
        if (!base::IsDigits(words[i]))
            return std::nullopt;
    // Seconds since 1970 of a time a listing may show (from 1973 on).
    if (words[4].size() < 9 || words[4].size() > 11)
        return std::nullopt;

    NumericLine result;
    for (char c : mode)
        result.mode = result.mode * 8 + static_cast<unsigned>(c - '0');
    result.owner = words[1];
    result.group = words[2];
    result.size = base::ParseInteger(words[3]).value_or(0);
    const std::int64_t seconds = base::ParseInteger(words[4]).value_or(0);
    // Calendar date of a day count since 1970-01-01 (proleptic Gregorian).
    const std::int64_t days = seconds / 86400;
    const std::int64_t secondOfDay = seconds % 86400;
    const std::int64_t shifted = days + 719468; // days since 0000-03-01
    const std::int64_t era = shifted / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153; // 0 = March
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    result.modified = ListDateTime { year, month, day, static_cast<int>(secondOfDay / 3600),
        static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60), 0 };
    result.name = line.substr(pos + 1);
    return result;
}

ItemType typeFromMode(unsigned mode)
{
    switch (mode & 0170000U) {
    case 0040000U:
        return ItemType::Directory;
    case 0120000U:
        return ItemType::SymbolicLink;
    case 0020000U:
        return ItemType::CharacterDevice;
    case 0060000U:
        return ItemType::BlockDevice;
    case 0010000U:
        return ItemType::Fifo;
    case 0140000U:
        return ItemType::Socket;
    default:
        return ItemType::File;
    }
}

void permissionTriplets(unsigned mode, std::string& owner, std::string& group, std::string& other)
{
    const auto triplet = [mode](int shift, unsigned special, char withExecute, char withoutExecute) {
        std::string text;
        text += (mode >> (shift + 2)) & 1U ? 'r' : '-';
        text += (mode >> (shift + 1)) & 1U ? 'w' : '-';
        const bool execute = (mode >> shift) & 1U;
        if (mode & special)
            text += execute ? withExecute : withoutExecute;
        else
            text += execute ? 'x' : '-';
        return text;
    };
    owner = triplet(6, 04000U, 's', 'S');
    group = triplet(3, 02000U, 's', 'S');
    other = triplet(0, 01000U, 't', 'T');
}

} // namespace taskhaul::ftp
