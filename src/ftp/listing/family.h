#pragma once

// Factories of the listing formats beyond NLST, MLST, Windows NT, Unix and Unitree,
// one per format, in registry order. Each returns a new parser with the ident noted.

#include "ftp/listing/list_parser.h"

#include <memory>

namespace taskhaul::ftp {

std::unique_ptr<ListParser> makeXecomMicroRTOSParser(); // "Xercom Micro RTOS"
std::unique_ptr<ListParser> makeWinQVNetParser(); // "WinQVT/NET"
std::unique_ptr<ListParser> makeVxWorksParser(); // "Wind River VxWorks"
std::unique_ptr<ListParser> makeVSELibraryParser(); // "VSE:  Library"
std::unique_ptr<ListParser> makeVSEPowerQueueParser(); // "VSE:  PowerQueue"
std::unique_ptr<ListParser> makeVSERootDirParser(); // "VSE:  Root Directory"
std::unique_ptr<ListParser> makeVSESubLibraryParser(); // "VSE:  Sublibrary"
std::unique_ptr<ListParser> makeVSEVSAMCatalogParser(); // "VSE:  VSAM Catalog"
std::unique_ptr<ListParser> makeVSEVTOCParser(); // "VSE:  VTOC"
std::unique_ptr<ListParser> makeVMSParser(); // "VMS"
std::unique_ptr<ListParser> makeVirtualReaderParser(); // "VM Virtual Reader"
std::unique_ptr<ListParser> makeVMBFSParser(); // "VM/BFS"
std::unique_ptr<ListParser> makeVMCMSParser(); // "VM/CMS"
std::unique_ptr<ListParser> makeTSXPlusParser(); // "TSX+"
std::unique_ptr<ListParser> makeTOPS20Parser(); // "TOPS20"
std::unique_ptr<ListParser> makeSterCommEntUxParser(); // "CONNECT:Enterprise for UNIX"
std::unique_ptr<ListParser> makeSterCommEntUxNSParser(); // "CONNECT:Enterprise for UNIX$$"
std::unique_ptr<ListParser> makeSterCommEntUxRootParser(); // "CONNECT:Enterprise for UNIX ROOT"
std::unique_ptr<ListParser> makeSterCommExpOS390Parser(); // "Connect:Express for OS/390"
std::unique_ptr<ListParser> makeOS2Parser(); // "OS/2"
std::unique_ptr<ListParser>
makeNetwarePSUDosParser(); // "Novell Netware Print Services for Unix:  DOS Namespace"
std::unique_ptr<ListParser>
makeNetwarePSUNFSParser(); // "Novell Netware Print Services for Unix:  NFS Namespace"
std::unique_ptr<ListParser> makeNovellNetwareParser(); // "Novell Netware"
std::unique_ptr<ListParser> makeNCSAforDOSParser(); // "NCSA for MS-DOS (CU/TCP)"
std::unique_ptr<ListParser> makeMusicParser(); // "MUSIC/SP"
std::unique_ptr<ListParser> makeMicrowareOS9Parser(); // "MicroWare OS-9"
std::unique_ptr<ListParser> makeMVSParser(); // "MVS"
std::unique_ptr<ListParser> makeMVSPartitionedDataSetParser(); // "MVS:  Partitioned Data Set"
std::unique_ptr<ListParser> makeMVSJESInterface1Parser(); // "MVS:  JES Queue Interface 1"
std::unique_ptr<ListParser> makeMVSJESInterface2Parser(); // "MVS:  JES Queue Interface 2"
std::unique_ptr<ListParser> makeMPiXParser(); // "MPE/iX:  LISTF"
std::unique_ptr<ListParser> makeMPiXWithPOSIXParser(); // "MPE/iX:  With POSIX"
std::unique_ptr<ListParser> makeKA9QParser(); // "KA9Q"
std::unique_ptr<ListParser> makeHellSoftParser(); // "Hellsoft"
std::unique_ptr<ListParser> makeEPLFParser(); // "EPLF"
std::unique_ptr<ListParser> makeDistinctTCPIPParser(); // "Distinct TCP/IP"
std::unique_ptr<ListParser> makeCiscoIOSParser(); // "Cisco IOS"
std::unique_ptr<ListParser> makeGOS8Parser(); // "Bull GCOS8"
std::unique_ptr<ListParser> makeGOS7Parser(); // "Bull GCOS7"
std::unique_ptr<ListParser> makeAS400Parser(); // "AS400"

} // namespace taskhaul::ftp
