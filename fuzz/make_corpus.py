#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ from the repository's test data.

Run again after the test data changes; it replaces the folders it writes.
Listing seeds are the raw lines of each case in tests/data/listings/*.tsv; the
other seeds are the replies, templates and pages the tests use.
"""
import hashlib
import pathlib
import shutil

root = pathlib.Path(__file__).resolve().parent.parent
corpus = root / "fuzz" / "corpus"


def write(target, seeds):
    folder = corpus / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for seed in seeds:
        data = seed.encode("utf-8") if isinstance(seed, str) else seed
        (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def listing_cases():
    for path in sorted((root / "tests" / "data" / "listings").glob("*.tsv")):
        raw, inside = [], False
        for line in path.read_text(encoding="utf-8").split("\n"):
            if line.startswith("## case"):
                raw, inside = [], True
            elif inside and line.startswith("=>"):
                inside = False
                yield path.stem, "\r\n".join(raw) + "\r\n"
            elif inside:
                raw.append(line)


# Answers to SYST that choose or favour a format.
systems = {
    "unix": "UNIX Type: L8", "windows-nt": "Windows_NT", "vms": "VMS OpenVMS V7.3-1",
    "vm-cms": "VM is the operating system of this server.", "os2": "OS/2",
    "mvs": "MVS is the operating system of this server. FTP Server is running on z/OS.",
    "as400": "OS/400 is the remote operating system.", "netware": "NETWARE Type: L8",
    "os9": "OS-9", "vxworks": "VxWorks", "mlst": "UNIX Type: L8", "eplf": "UNIX Type: L8",
}
listing_seeds = []
for slug, text in listing_cases():
    listing_seeds.append(text)
    if slug in systems:
        listing_seeds.append(systems[slug] + "\0" + text)
listing_seeds += ["Cisco IOS Release 12.2\0", "TOPS20\0", "Unknown\0\r\n"]
write("listing", listing_seeds)


def session(mode, *replies):
    """The first byte chooses the session; 0xFF separates the server's replies."""
    return bytes([mode]) + b"\xff".join(r.encode("latin-1") for r in replies)


FEAT = "211-Features:\r\n SIZE\r\n REST STREAM\r\n211 End\r\n"
AFTER_LOGIN = (FEAT, "200 Type set.\r\n", "215 UNIX Type: L8\r\n",
               "250 Directory changed.\r\n", "213 1000\r\n", "200 OK.\r\n")
NONE, USER_SITE, SITE, OPEN, USER_PASS, TRANSPARENT, NO_LOGIN = 6, 1, 2, 3, 4, 5, 8 | 6
write("ftp_reply", [
    session(NONE, "220 Scripted FTP server ready.\r\n", "331 Password please.\r\n", "230 Logged in.\r\n",
            *AFTER_LOGIN),
    session(NONE, "220 Ready\n", "331 Password please.\n", "230 Logged in.\n",
            *(r.replace("\r\n", "\n") for r in AFTER_LOGIN)),
    session(NONE, "220-Welcome\r\n   indented text\r\n220 Ready\r\n", "230 Welcome, no password needed.\r\n",
            "500 FEAT not understood.\r\n", "200 Type set.\r\n", "500 SYST not understood.\r\n",
            "550 No such folder.\r\n"),
    session(NONE, "220 Serv-U FTP Server v15 ready\r\n", "331 Password required.\r\n", "230 Logged in.\r\n",
            "211-Features:\r\n site pswd;set; zone ;chmod\r\n211 End\r\n", "200 Type set.\r\n",
            "215 Windows_NT\r\n", "210 UTC-300\r\n", *AFTER_LOGIN[3:]),
    session(NONE, "220 Ready.\r\n", "331 Response to otp-md5 5 TeSt ext required for alice.\r\n",
            "230 Logged in.\r\n", *AFTER_LOGIN),
    session(NONE, "220-First\r\n230-goes on\r\n220 End\r\n", "421-Busy\r\n421 Try later\r\n"),
    session(NONE, "220-a\r\n", "220 b\r\n", "530 Login incorrect.\r\n"),
    session(NONE, "220 Ready.\r\n331 Password please.\r\n230 Logged in.\r\n"),
    session(USER_SITE, "220 Proxy ready.\r\n", "331 Password please.\r\n", "230 Logged in.\r\n", *AFTER_LOGIN),
    session(SITE, "220 Proxy ready.\r\n", "331 Proxy password.\r\n", "230 Proxy user in.\r\n",
            "200 SITE command successful.\r\n", "331 Password please.\r\n", "230 Logged in.\r\n", *AFTER_LOGIN),
    session(OPEN, "220 Proxy ready.\r\n", "331 Proxy password.\r\n", "230 Proxy user in.\r\n",
            "220 Connected.\r\n", "331 Password please.\r\n", "230 Logged in.\r\n", *AFTER_LOGIN),
    session(USER_PASS, "220 Proxy ready.\r\n", "331 Password please.\r\n", "230 Logged in.\r\n", *AFTER_LOGIN),
    session(TRANSPARENT, "220 Proxy ready.\r\n", "331 Proxy password.\r\n", "230 Proxy user in.\r\n",
            "331 Password please.\r\n", "230 Logged in.\r\n", *AFTER_LOGIN),
    session(NO_LOGIN, "220 Ready.\r\n", "331 Password please.\r\n", "250 Now in /pub\r\n",
            "213 5000000000\r\n", "202 Superfluous.\r\n"),
])

write("data_replies", [
    "Entering Passive Mode (127,0,0,1,195,80).",
    "Entering Passive Mode 192,168,1,2,4,1",
    "=127,0,0,1,4,1",
    "Entering Passive Mode (127,0,0,1,x,1).",
    "1000",
    "5000000000",
    "Opening BINARY mode data connection for file.bin (12345 bytes).",
    "Opening data connection.\nHere it comes (9 bytes).",
])

write("template", [
    "data_[yyyy][MM][dd].csv", "[pyyyy]-[pMM]-[pdd]_*.log", "report[seq].txt",
    "[yy][M][d]_[H][m][s]?.zip", "log_[pdd].txt", "[pM]/[pd]/[pyy]", "backup_[HH][mm][ss]_[seq].tar.gz",
    "[unknown]_[yyyy", "a[[MM]]b]", "*.*",
])

write("wildcard", [
    "*.txt\nreport.txt", "data_2026??15*\ndata_20260715_01.csv", "a*\nabc", "*a*b*c*\nxaybzc",
    "?\n*", "LOG_*.TXT\nlog_1.txt", "file?.bin\nfile10.bin", "**\n",
])

page = ("<HTML><HEAD>\r\n<META NAME=\"UPProduct\" CONTENT=\"Taskhaul\">\r\n"
        "<META NAME=\"UPVersion\" CONTENT=\"1.2.0\">\n"
        "<META NAME=\"UPDownload\" CONTENT=\"http://host/Setup.exe\">\r"
        "<META NAME=\"UPClientSideName\" CONTENT=\"Setup.exe\">\r\n"
        "<META NAME=\"UPRunParameters\" CONTENT=\"/S /D=x\">\r\n"
        "<META NAME=\"UPAuthor\" CONTENT=\"Velmora\">\r\n"
        "<META NAME=\"UPEmail\" CONTENT=\"a@b.example\">\r\n"
        "<META NAME=\"UPRedirection\" CONTENT=\"http://elsewhere/p.htm\">\r\n</HEAD></HTML>\r\n")
write("update_page", [
    page,
    page.replace("UP", "wu"),
    "<META NAME=\"wuVersion\" cOnTeNt=\"Beta-X\">\r\n<META NAME=\"wuVersion\" CONTENT=\"\">",
    "<META NAME=\"wuProduct\" CONTENT=\"x\"><META NAME=\"wuVersion\" CONTENT=\"1.2\">\r\nxx META NAME",
    "<META NAME=\"wuVersion\" CONTENT=\"" + "9" * 254 + "\">",
])
