#include "sample_listings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace taskhaul::ftp::samples {

namespace {

std::string listingsDir()
{
    return std::string(TASKHAUL_TEST_DATA_DIR) + "/listings";
}

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

bool startsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::vector<SampleRow> SampleCase::entries() const
{
    std::vector<SampleRow> result;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(result),
        [](const SampleRow& row) { return row.kind != "skip"; });
    return result;
}

std::string SampleCase::text() const
{
    std::string result;
    for (const std::string& line : lines)
        result += line + "\r\n";
    return result;
}

std::vector<std::string> sampleSlugs()
{
    std::vector<std::string> slugs;
    for (const auto& entry : std::filesystem::directory_iterator(listingsDir()))
        if (entry.path().extension() == ".tsv")
            slugs.push_back(entry.path().stem().string());
    std::sort(slugs.begin(), slugs.end());
    return slugs;
}

SampleFile readSampleFile(const std::string& slug)
{
    const std::string path = listingsDir() + "/" + slug + ".tsv";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);

    SampleFile file;
    file.slug = slug;
    SampleCase* current = nullptr;
    bool inRows = false;
    std::string line;
    while (std::getline(in, line)) {
        if (startsWith(line, "## case ")) {
            file.cases.emplace_back();
            current = &file.cases.back();
            current->header = line;
            current->number = std::stoi(line.substr(8));
            inRows = false;
        } else if (!current) {
            static constexpr std::string_view kFormat = "# format: ";
            if (startsWith(line, kFormat)) {
                const std::size_t end = line.find("  source:");
                file.ident
                    = line.substr(kFormat.size(), end == std::string::npos ? end : end - kFormat.size());
            }
        } else if (!inRows && line == "=> ") {
            inRows = true;
        } else if (!inRows) {
            current->lines.push_back(line);
        } else {
            const auto fields = splitTabs(line);
            if (fields.size() != 4)
                throw std::runtime_error(path + ": bad row in " + current->header + ": " + line);
            current->rows.push_back({ fields[0], fields[1], fields[2], fields[3] });
        }
    }
    if (file.ident.empty())
        throw std::runtime_error(path + ": no format line");
    return file;
}

bool sampleDateMatches(const std::string& expected, const ListDateTime& actual, const ListDateTime& today)
{
    if (expected == "-")
        return false;
    std::string text = expected;
    if (startsWith(text, "????")) {
        // The latest year that keeps month and day not after today.
        const int month = std::stoi(text.substr(5, 2));
        const int day = std::stoi(text.substr(8, 2));
        const bool later = month > today.month || (month == today.month && day > today.day);
        char year[8];
        std::snprintf(year, sizeof year, "%04d", today.year - (later ? 1 : 0));
        text.replace(0, 4, year);
    }
    const std::string full = actual.toString(); // YYYY-MM-DD HH:MM:SS
    return full.compare(0, text.size(), text) == 0;
}

SampleRow rowOf(const TFtpListItem& item)
{
    SampleRow row;
    row.name = item.FileName;
    row.kind = itemTypeName(item.ItemType);
    row.size = item.SizeAvailable ? std::to_string(item.Size) : "-";
    row.date = item.ModifiedAvailable && !item.ModifiedDate.isZero() ? item.ModifiedDate.toString() : "-";
    return row;
}

} // namespace taskhaul::ftp::samples
