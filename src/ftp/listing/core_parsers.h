#pragma once

// The listing formats understood in full: bare names (NLST), machine listings
// (MLSD facts), Windows NT (IIS style), Unix long listings and Unitree.

#include "ftp/listing/list_parser.h"

#include <memory>

namespace taskhaul::ftp {

std::unique_ptr<ListParser> makeNListParser(); // "NLIST"
std::unique_ptr<ListParser> makeMListParser(); // "MLST"
std::unique_ptr<ListParser> makeWindowsNTParser(); // "Windows NT"
std::unique_ptr<ListParser> makeUnixParser(); // "Unix"
std::unique_ptr<ListParser> makeUnitreeParser(); // "Unitree"

} // namespace taskhaul::ftp
