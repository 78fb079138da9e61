"""Reads a vrxpr.exe back: its machine, the manifest's execution level and
supported systems, and the version resource. Exit 0 when all match."""
import re
import sys

import pefile

path, arch, version = sys.argv[1:4]
pe = pefile.PE(path)
problems = []

want_machine = {"x64": 0x8664, "x86": 0x14C}[arch]
if pe.FILE_HEADER.Machine != want_machine:
    problems.append("machine 0x%x, not 0x%x" % (pe.FILE_HEADER.Machine, want_machine))

manifests = []
resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
for rtype in resources:
    if rtype.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
        continue
    for rid in rtype.directory.entries:
        for lang in rid.directory.entries:
            d = lang.data.struct
            manifests.append((rid.id, pe.get_data(d.OffsetToData, d.Size).decode("utf-8")))
if [m[0] for m in manifests] != [1]:
    problems.append("manifest resources %r, want one with id 1" % [m[0] for m in manifests])
else:
    text = manifests[0][1]
    levels = re.findall(r'<requestedExecutionLevel\s+level="([^"]*)"\s+uiAccess="([^"]*)"', text)
    if levels != [("requireAdministrator", "false")]:
        problems.append("execution level %r" % levels)
    oses = re.findall(r'<supportedOS Id="\{([0-9a-f-]+)\}"', text)
    want_oses = ["35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                 "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]
    if oses != want_oses:
        problems.append("supportedOS %r" % oses)
    if "<activeCodePage" in text:
        problems.append("the manifest sets activeCodePage")

strings = {}
for info in pe.FileInfo[0] if getattr(pe, "FileInfo", None) else []:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
want_strings = {"ProductName": "vrxpr", "InternalName": "vrxpr", "OriginalFilename": "vrxpr.exe",
                "FileVersion": version, "ProductVersion": version}
for key, value in want_strings.items():
    if strings.get(key) != value:
        problems.append("%s is %r, want %r" % (key, strings.get(key), value))
if not strings.get("FileDescription"):
    problems.append("no FileDescription")
fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
parts = [int(p) for p in version.split(".")]
want_ms, want_ls = (parts[0] << 16) | parts[1], parts[2] << 16
if fixed is None or (fixed.FileVersionMS, fixed.FileVersionLS) != (want_ms, want_ls) or \
        (fixed.ProductVersionMS, fixed.ProductVersionLS) != (want_ms, want_ls):
    problems.append("fixed file or product version is not %s.0" % version)

for p in problems:
    print("%s: %s" % (path, p))
sys.exit(1 if problems else 0)
