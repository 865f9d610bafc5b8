#pragma once

// What the Unix listing parser reads its lines with: a reader that takes a line
// field by field, and the date and time-of-day columns.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace taskhaul::ftp {

// Reads a line field by field from the left: each field ends at the next blank,
// blanks before a field are skipped. Words can be queued to be read before the
// rest of the line; all words are views into the line.
class FieldReader {
public:
    explicit FieldReader(std::string_view line)
        : rest_(line)
    {
    }

    std::string_view next()
    {
        if (first_ < count_)
            return pending_[first_++];
        rest_ = withoutLeadingBlanks();
        const std::string_view word = rest_.substr(0, rest_.find(' '));
        rest_.remove_prefix(word.size());
        return word;
    }

    // The next field without taking it; nothing at the end of the line.
    std::optional<std::string_view> peekWord() const
    {
        if (first_ < count_)
            return pending_[first_];
        const std::string_view rest = withoutLeadingBlanks();
        if (rest.empty())
            return std::nullopt;
        return rest.substr(0, rest.find(' '));
    }

    // The first character of the next field, or 0 at the end.
    char peekChar() const
    {
        const auto word = peekWord();
        return word && !word->empty() ? word->front() : '\0';
    }

    // Queues a word to be read next, before the rest of the line. A few words at
    // most are ever waiting; words beyond that are never read and are dropped.
    void queue(std::string_view word)
    {
        if (first_ == count_)
            first_ = count_ = 0;
        if (count_ < pending_.size())
            pending_[count_++] = word;
    }
    void dropQueued() { first_ = count_ = 0; }

    // What follows the last field read from the line, after one blank.
    std::string_view restAfterOneBlank() const
    {
        std::string_view rest = rest_;
        if (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        return rest;
    }

private:
    std::string_view withoutLeadingBlanks() const
    {
        const std::size_t start = rest_.find_first_not_of(' ');
        return start == std::string_view::npos ? std::string_view {} : rest_.substr(start);
    }

    std::string_view rest_;
    std::array<std::string_view, 8> pending_ {};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};

// A time of day "h:mm", "h:mm:ss" or "h:mm:ss.fff". Fields that are not numbers
// give -1, which no time accepts.
struct TimeFields {
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::optional<int> millisecond;
    bool hasSeconds = false;
};

TimeFields readTimeOfDay(std::string_view word);

// "h:mm", "hh:mm" or "hh:mm:ss[.fff]": a word that can only be a time of day.
bool isTimeOfDay(std::string_view word);

// Whether the reader stands at the first word of a date: the size column ends
// there. Looks ahead without taking anything.
bool beginsDate(FieldReader ahead);

// The date columns as read; the year only when they print one.
struct ListedDate {
    std::optional<int> year;
    int month = 0;
    int day = 0;
    bool yearWithDate = false; // the date gave the year: a time of day may follow
};

// Reads the date columns: "Mon dd", "dd Mon", "mm dd", "yyyy-mm-dd", "mm-dd",
// "2004.07.15", the unit signs of East Asian locales, "2014. márc. 12." ...
ListedDate readDateColumns(FieldReader& fields);

} // namespace taskhaul::ftp
