#!/usr/bin/env python3
"""Reads a Windows program back, alone or from its release archive: its
manifest (its own, once, asking for the invoker's level without UI access),
its version resource (the project's version, named testquorvex.exe) and its
machine type. Usage: check_program.py EXE|ZIP ARCH VERSION"""
import os
import sys
import xml.etree.ElementTree as ET
import zipfile

try:
    import pefile
except ImportError:
    # The machine lacks the reader, not the program its resources: skipped.
    print("SKIP: Python's pefile is not installed (Debian: python3-pefile)")
    sys.exit(77)

RT_MANIFEST = 24
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
# The program, its texts (CR LF, as Notepad shows them) and every example script.
ARCHIVE_TEXTS = {"README.txt", "usage.txt", "scripts.txt"} | {
    "examples/" + name for name in os.listdir(EXAMPLES) if name.endswith(".txt")}
ARCHIVE_CONTENTS = {"testquorvex.exe"} | ARCHIVE_TEXTS


def manifests(pe):
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found.append((name.id, data))
    return found


def check_manifest(pe):
    found = manifests(pe)
    if len(found) != 1:
        return f"{len(found)} manifest resources, expected exactly one"
    resource_id, data = found[0]
    if resource_id != 1:
        return f"manifest resource has ID {resource_id}, expected 1 (process manifest)"
    levels = ET.fromstring(data).findall(f".//{ASM_V3}requestedExecutionLevel")
    if len(levels) != 1:
        return f"{len(levels)} requestedExecutionLevel elements"
    attributes = levels[0].attrib
    if attributes.get("level") != "asInvoker" or attributes.get("uiAccess") != "false":
        return f"requestedExecutionLevel is {attributes}"
    return None


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_version(pe, version):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return "no version resource"
    major, minor, patch = (int(part) for part in version.split("."))
    for name in ("FileVersion", "ProductVersion"):
        ms, ls = getattr(fixed[0], name + "MS"), getattr(fixed[0], name + "LS")
        if (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) != (major, minor, patch, 0):
            return f"fixed {name} is {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}, expected {version}.0"
    strings = version_strings(pe)
    wanted = {"FileVersion": version, "ProductVersion": version, "OriginalFilename": "testquorvex.exe",
              "InternalName": "testquorvex", "ProductName": "testquorvex"}
    for key, value in wanted.items():
        if strings.get(key) != value:
            return f"version string {key} is {strings.get(key)!r}, expected {value!r}"
    if not strings.get("FileDescription"):
        return "no FileDescription"
    return None


def check_program(data, arch, version):
    pe = pefile.PE(data=data)
    if pe.FILE_HEADER.Machine != MACHINES[arch]:
        return f"machine type 0x{pe.FILE_HEADER.Machine:x}, expected 0x{MACHINES[arch]:x} for {arch}"
    return check_manifest(pe) or check_version(pe, version)


def main(path, arch, version):
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            names = {name for name in archive.namelist() if not name.endswith("/")}
            if names != ARCHIVE_CONTENTS:
                print(f"{path}: holds {sorted(names)}, expected {sorted(ARCHIVE_CONTENTS)}")
                return 1
            readme = archive.read("README.txt").decode()
            if f"testquorvex {version}" not in readme or "\r\n" not in readme:
                print(f"{path}: README.txt does not name version {version} in CR LF text")
                return 1
            for name in sorted(ARCHIVE_TEXTS):
                text = archive.read(name)
                if text.count(b"\n") == 0 or text.count(b"\n") != text.count(b"\r\n"):
                    print(f"{path}: {name} is not CR LF text")
                    return 1
            if "usage.txt" not in readme or "scripts.txt" not in readme:
                print(f"{path}: README.txt does not point at usage.txt and scripts.txt")
                return 1
            data = archive.read("testquorvex.exe")
    else:
        with open(path, "rb") as program:
            data = program.read()
    problem = check_program(data, arch, version)
    if problem:
        print(f"{path}: {problem}")
        return 1
    print(f"{path}: {arch}, one manifest (asInvoker, no UI access), version {version} as testquorvex.exe")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
