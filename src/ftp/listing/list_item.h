#pragma once

// The items of a parsed directory listing.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace taskhaul::ftp {

// What a listing entry is. The numeric values are part of the item's contract.
enum class ItemType : std::uint8_t {
    Directory = 0,
    File = 1,
    SymbolicLink = 2,
    SymbolicLinkToDirectory = 3,
    BlockDevice = 4,
    CharacterDevice = 5,
    Fifo = 6,
    Socket = 7,
};

// Short lower-case name of a kind: file, dir, link, linkdir, block, char, fifo, socket.
const char* itemTypeName(ItemType type);

// A calendar date and time of day as a server listed it (the server's local time,
// no time zone). All fields zero is the "zero" moment, used where no date could be made.
struct ListDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool isZero() const { return *this == ListDateTime {}; }
    // "YYYY-MM-DD HH:MM:SS".
    std::string toString() const;

    // Year 1 to 9999, month 1 to 12, day within the month (leap years counted).
    static bool isValidDate(int year, int month, int day);
    // Hour 0-23, minute and second 0-59, millisecond 0-999.
    static bool isValidTime(int hour, int minute, int second, int millisecond);

    friend bool operator==(const ListDateTime&, const ListDateTime&) = default;
    friend auto operator<=>(const ListDateTime&, const ListDateTime&) = default;
};

// One entry of a listing. The first group of fields is filled by every parser;
// the Unix-style parsers fill the rest as far as the line shows them.
struct TFtpListItem {
    std::string Data; // the listing line the item was made from
    std::string FileName;
    taskhaul::ftp::ItemType ItemType = taskhaul::ftp::ItemType::File;
    std::int64_t Size = 0;
    bool SizeAvailable = true;
    ListDateTime ModifiedDate;
    bool ModifiedAvailable = true;

    // Unix long-listing extras.
    std::string OwnerPermissions; // three characters each, e.g. "rwx"
    std::string GroupPermissions;
    std::string OtherPermissions;
    int LinkCount = 0;
    std::string OwnerName;
    std::string GroupName;
    std::string LinkTarget;
    std::int64_t Inode = 0;
    std::int64_t BlockCount = 0;

    // Unitree extras: the storage state ("AR" archived, "DK" on disk) and the
    // file family, when the line shows one.
    std::string StorageState;
    std::string FamilyName;
};

// Raised for an index outside 0 to count-1: "List index out of bounds (<index>)".
class EListIndexError : public std::out_of_range {
public:
    explicit EListIndexError(long long index);
};

// The ordered items of one listing.
class TFtpListItems {
public:
    int count() const { return static_cast<int>(items_.size()); }
    bool empty() const { return items_.empty(); }

    // Throws EListIndexError outside 0 to count-1.
    const TFtpListItem& at(int index) const;
    TFtpListItem& at(int index);
    const TFtpListItem& operator[](int index) const { return at(index); }
    TFtpListItem& operator[](int index) { return at(index); }

    TFtpListItem& add(TFtpListItem item);
    void clear() { items_.clear(); }
    void reserve(std::size_t n) { items_.reserve(n); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<TFtpListItem> items_;
};

} // namespace taskhaul::ftp
