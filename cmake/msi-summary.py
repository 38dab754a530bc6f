#!/usr/bin/env python3
"""msi-summary.py MSI PACKAGE_CODE EPOCH

wixl draws each MSI's package code at random and stamps the summary information with the time it
ran, whatever its source says. Both are written over in place: the package code given, and EPOCH
(seconds) as the creation and last-saved times. The values keep their sizes: nothing else moves."""
import re
import sys

msi, code, epoch = sys.argv[1], sys.argv[2].encode(), int(sys.argv[3])
with open(msi, "rb") as file:
    data = file.read()
# The package code (VT_LPSTR of 39 bytes, padded to 40) and the two times (VT_FILETIME) after it.
summary = re.compile(rb"\x1e\0\0\0\x27\0\0\0\{[0-9A-F-]{36}\}\0\0(\x40\0\0\0.{8}){2}", re.S)
if len(summary.findall(data)) != 1 or not re.fullmatch(rb"\{[0-9A-F-]{36}\}", code):
    sys.exit(f"msi-summary.py: no single package code and times in {msi}, or {code!r} is none")
filetime = ((epoch + 11644473600) * 10_000_000).to_bytes(8, "little")
fixed = b"\x1e\0\0\0\x27\0\0\0" + code + b"\0\0" + (b"\x40\0\0\0" + filetime) * 2
with open(msi, "wb") as file:
    file.write(summary.sub(lambda match: fixed, data))
