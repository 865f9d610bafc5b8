#pragma once

// The date words of Unix-style listings printed in other locales, and the
// all-numeric layout some servers print instead of "ls -l".

#include "ftp/listing/list_item.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace taskhaul::ftp {

enum class DateUnit { Year, Month, Day };

// A number followed by the year, month or day sign of East Asian locales
// ("2014年", "3월"), in UTF-8 or in one of the legacy double-byte encodings a
// server may send (GBK, Big5, Shift_JIS, EUC-JP, EUC-KR). `rest` is what follows
// the sign in the same word ("03月12日" after "2014年").
struct UnitNumber {
    int value = 0;
    DateUnit unit = DateUnit::Year;
    std::string_view rest;
};
std::optional<UnitNumber> readUnitNumber(std::string_view word);

// 1 to 12 for an abbreviated month name ending in a dot as Hungarian listings
// print it ("márc.", "okt.", in UTF-8 or Latin-2), or an English one ("Mar.");
// 0 for anything else.
int dottedMonth(std::string_view word);

// A year with a dot ("2014.") as Hungarian listings begin their dates; 0 otherwise.
int dottedYear(std::string_view word);

// "2004.07.15": year, month and day run together with dots; the three numbers,
// or nothing.
struct DottedDate {
    int year = 0;
    int month = 0;
    int day = 0;
};
std::optional<DottedDate> readDottedDate(std::string_view word);

// The numeric layout: octal mode, owner number, group number, size, the time
// as seconds since 1970 (UTC), then the name:
//   "100644 1000 1000 1024 1394621100 report.txt"
// The mode may carry the file-type bits (040000 directory, 0120000 link ...).
struct NumericLine {
    unsigned mode = 0;
    std::string_view owner;
    std::string_view group;
    std::int64_t size = 0;
    ListDateTime modified; // UTC
    std::string_view name;
};
std::optional<NumericLine> readNumericLine(std::string_view line);

// The kind of entry the type bits of an octal mode give (a plain file when the
// mode shows none), and its permission triplets ("rwx", "r-s" ...).
ItemType typeFromMode(unsigned mode);
void permissionTriplets(unsigned mode, std::string& owner, std::string& group, std::string& other);

} // namespace taskhaul::ftp
