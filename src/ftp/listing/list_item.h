#pragma once

// The items of a parsed directory listing.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
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

// The columns of Unix-style long listings beyond name, kind, size and date, and
// the Unitree storage columns.
struct TFtpListItemExtras {
    std::string OwnerPermissions; // three characters each, e.g. "rwx"
    std::string GroupPermissions;
    std::string OtherPermissions;
    int LinkCount = 0;
    std::string OwnerName;
    std::string GroupName;
    std::string LinkTarget;
    std::int64_t Inode = 0;
    std::int64_t BlockCount = 0;

    // Unitree: the storage state ("AR" archived, "DK" on disk) and the file
    // family, when the line shows one.
    std::string StorageState;
    std::string FamilyName;
};

// One entry of a listing: what every parser fills in, and the extra columns of
// Unix-style listings. Those are seldom read, so an item keeps them apart and makes
// them only when asked for: a long listing then costs little more than its text.
class TFtpListItem {
public:
    std::string Data; // the listing line the item was made from
    std::string FileName;
    std::int64_t Size = 0;
    ListDateTime ModifiedDate;
    taskhaul::ftp::ItemType ItemType = taskhaul::ftp::ItemType::File;
    bool SizeAvailable = true;
    bool ModifiedAvailable = true;
    // ModifiedDate is exact to the second and in UTC (a machine listing's modify
    // fact), not the server's local time as listed.
    bool ModifiedExactUtc = false;

    // Reads the extra columns out of a listing line.
    using ExtrasReader = void (*)(std::string_view line, TFtpListItemExtras& extras);

    TFtpListItem() = default;
    TFtpListItem(const TFtpListItem& other);
    TFtpListItem& operator=(const TFtpListItem& other);
    TFtpListItem(TFtpListItem&&) noexcept = default;
    TFtpListItem& operator=(TFtpListItem&&) noexcept = default;
    ~TFtpListItem() = default;

    // The extra columns: empty texts and zeros where the line shows none. With a
    // reader set they are read from Data on the first call.
    const TFtpListItemExtras& extras() const;
    // The extra columns for filling in; made (empty, or read from Data) when the
    // item has none yet.
    TFtpListItemExtras& mutableExtras();
    // Lets extras() read the columns from Data when first asked for, instead of a
    // parser storing them for every item. Drops any extras made so far.
    void readExtrasWith(ExtrasReader reader);

private:
    // Made on first use; null while no extra column was asked for or set.
    mutable std::unique_ptr<TFtpListItemExtras> extras_;
    ExtrasReader extrasReader_ = nullptr;
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
