#!/usr/bin/env python3
"""Reads the manifest resource out of a Windows executable and checks that it
is the program's own, once, asking for the invoker's level without UI access."""
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:
    # The machine lacks the reader, not the program its manifest: skipped.
    print("SKIP: Python's pefile is not installed (Debian: python3-pefile)")
    sys.exit(77)

RT_MANIFEST = 24
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


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


def main(path):
    pe = pefile.PE(path)
    found = manifests(pe)
    if len(found) != 1:
        print(f"{path}: {len(found)} manifest resources, expected exactly one")
        return 1
    resource_id, data = found[0]
    if resource_id != 1:
        print(f"{path}: manifest resource has ID {resource_id}, expected 1 (process manifest)")
        return 1
    root = ET.fromstring(data)
    levels = root.findall(f".//{ASM_V3}requestedExecutionLevel")
    if len(levels) != 1:
        print(f"{path}: {len(levels)} requestedExecutionLevel elements")
        return 1
    attributes = levels[0].attrib
    if attributes.get("level") != "asInvoker" or attributes.get("uiAccess") != "false":
        print(f"{path}: requestedExecutionLevel is {attributes}")
        return 1
    print(f"{path}: one manifest, level=asInvoker uiAccess=false")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
