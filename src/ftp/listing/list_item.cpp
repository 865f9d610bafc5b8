#include "ftp/listing/list_item.h"

#include "base/calendar_days.h"

#include <cstdio>

namespace taskhaul::ftp {

const char* itemTypeName(ItemType type)
{
    switch (type) {
    case ItemType::Directory:
        return "dir";
    case ItemType::File:
        return "file";
    case ItemType::SymbolicLink:
        return "link";
    case ItemType::SymbolicLinkToDirectory:
        return "linkdir";
    case ItemType::BlockDevice:
        return "block";
    case ItemType::CharacterDevice:
        return "char";
    case ItemType::Fifo:
        return "fifo";
    case ItemType::Socket:
        return "socket";
    }
    return "file";
}

std::string ListDateTime::toString() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

bool ListDateTime::isValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    return day <= base::DaysInMonth(year, month);
}

bool ListDateTime::isValidTime(int hour, int minute, int second, int millisecond)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60
        && millisecond >= 0 && millisecond < 1000;
}

TFtpListItem::TFtpListItem(const TFtpListItem& other)
    : Data(other.Data)
    , FileName(other.FileName)
    , Size(other.Size)
    , ModifiedDate(other.ModifiedDate)
    , ItemType(other.ItemType)
    , SizeAvailable(other.SizeAvailable)
    , ModifiedAvailable(other.ModifiedAvailable)
    , extras_(other.extras_ ? std::make_unique<TFtpListItemExtras>(*other.extras_) : nullptr)
    , extrasReader_(other.extrasReader_)
{
}

TFtpListItem& TFtpListItem::operator=(const TFtpListItem& other)
{
    if (this != &other)
        *this = TFtpListItem(other);
    return *this;
}

const TFtpListItemExtras& TFtpListItem::extras() const
{
    static const TFtpListItemExtras kNone;
    if (!extras_ && extrasReader_) {
        auto made = std::make_unique<TFtpListItemExtras>();
        extrasReader_(Data, *made);
        extras_ = std::move(made);
    }
    return extras_ ? *extras_ : kNone;
}

TFtpListItemExtras& TFtpListItem::mutableExtras()
{
    extras();
    if (!extras_)
        extras_ = std::make_unique<TFtpListItemExtras>();
    return *extras_;
}

void TFtpListItem::readExtrasWith(ExtrasReader reader)
{
    extrasReader_ = reader;
    extras_.reset();
}

EListIndexError::EListIndexError(long long index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")")
{
}

const TFtpListItem& TFtpListItems::at(int index) const
{
    if (index < 0 || index >= count())
        throw EListIndexError(index);
    return items_[static_cast<std::size_t>(index)];
}

TFtpListItem& TFtpListItems::at(int index)
{
    if (index < 0 || index >= count())
        throw EListIndexError(index);
    return items_[static_cast<std::size_t>(index)];
}

TFtpListItem& TFtpListItems::add(TFtpListItem item)
{
    items_.push_back(std::move(item));
    return items_.back();
}

} // namespace taskhaul::ftp
