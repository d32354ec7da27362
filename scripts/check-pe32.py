#!/usr/bin/env python3
"""Checks the shipped program without running it: a PE32 i386 GUI executable that
imports only system DLLs and carries its resources (dialog 102 with its list data,
icon group 128 with nine images, the version record, and a manifest that asks for
common controls 6, declares per-monitor DPI awareness, Windows 7 to 11 and asInvoker).
Usage: check-pe32.py Burnwright.exe"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
               "ntdll.dll", "advapi32.dll"}
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, RT_DLGINIT = 3, 5, 14, 16, 24, 240

ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11"}


def manifest_problems(text):
    """What the manifest lacks of the common controls, the DPI awareness, the
    supported systems and the execution level, each in its documented namespace."""
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return ["manifest is not well-formed XML: %s" % error]
    problems = []

    def check(condition, text):
        if not condition:
            problems.append(text)

    def texts(path):
        return [(element.text or "").strip() for element in root.findall(path)]

    check("Microsoft.Windows.Common-Controls" in text and 'version="6.0.0.0"' in text,
          "no manifest asking for common controls 6")
    settings = ASM_V3 + "application/" + ASM_V3 + "windowsSettings/"
    awareness = texts(settings + SETTINGS_2016 + "dpiAwareness")
    check([value.replace(" ", "").lower() for value in awareness] == ["permonitorv2,permonitor"],
          "manifest's dpiAwareness (2016) is %s, not PerMonitorV2,PerMonitor" % awareness)
    aware = texts(settings + SETTINGS_2005 + "dpiAware")
    check([value.lower() for value in aware] == ["true/pm"],
          "manifest's dpiAware (2005) is %s, not true/pm" % aware)
    declared = {element.get("Id", "").lower() for element in
                root.findall(COMPATIBILITY + "compatibility/" + COMPATIBILITY + "application/" +
                             COMPATIBILITY + "supportedOS")}
    for guid, name in SUPPORTED_OS.items():
        check(guid in declared, "manifest does not declare %s as supported" % name)
    levels = root.findall(ASM_V3 + "trustInfo/" + ASM_V3 + "security/" + ASM_V3 + "requestedPrivileges/" +
                          ASM_V3 + "requestedExecutionLevel")
    check([(level.get("level"), level.get("uiAccess")) for level in levels] == [("asInvoker", "false")],
          "manifest does not request the execution level asInvoker without UI access")
    return problems


def main(path):
    data = open(path, "rb").read()
    problems = []

    def check(condition, text):
        if not condition:
            problems.append(text)

    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0", "not a PE file")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    check(machine == 0x14C, "machine %#x, not i386" % machine)
    check(magic == 0x10B, "optional header %#x, not PE32" % magic)
    if problems:
        return problems
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    check(subsystem == 2, "subsystem %d, not the Windows GUI" % subsystem)
    directories = optional + 96

    section_table = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
                     for i in range(sections)]

    def offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in section_table:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError("address %#x is in no section" % rva)

    def cstring(at):
        return data[at:data.index(b"\0", at)].decode("ascii")

    # Imports: one descriptor of 20 bytes per DLL, ending with an empty one.
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    imports = []
    at = offset(import_rva)
    while struct.unpack_from("<I", data, at + 12)[0]:
        imports.append(cstring(offset(struct.unpack_from("<I", data, at + 12)[0])))
        at += 20
    check(imports, "no imports found")
    for name in imports:
        check(name.lower() in SYSTEM_DLLS, "imports %s, which is not a system DLL" % name)

    # Resources: type -> id -> (first language's) data.
    resource_rva = struct.unpack_from("<I", data, directories + 16)[0]
    check(resource_rva, "no resources")
    if not resource_rva:
        return problems
    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield ident, target

    resources = {}
    for type_id, type_dir in entries(0):
        for res_id, res_dir in entries(type_dir & 0x7FFFFFFF):
            _, leaf = next(entries(res_dir & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, base + leaf)
            resources[(type_id, res_id)] = data[offset(rva):offset(rva) + size]

    dialog = resources.get((RT_DIALOG, 102), b"")
    check(len(dialog) > 18, "no dialog template 102")
    check("Burnwright".encode("utf-16-le") in dialog, "dialog 102 has no caption Burnwright")
    check((RT_DLGINIT, 102) in resources, "no list data for dialog 102")
    group = resources.get((RT_GROUP_ICON, 128), b"")
    check(len(group) >= 6, "no icon group 128")
    if len(group) >= 6:
        count = struct.unpack_from("<H", group, 4)[0]
        check(count == 9, "icon group 128 has %d images, not 9" % count)
        for i in range(count):
            icon_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
            check((RT_ICON, icon_id) in resources, "icon image %d is missing" % icon_id)
    version = resources.get((RT_VERSION, 1), b"")
    check("VS_VERSION_INFO".encode("utf-16-le") in version, "no version record")
    check("Burnwright.exe".encode("utf-16-le") in version, "version record does not name Burnwright.exe")
    manifest = resources.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    problems += manifest_problems(manifest)
    check('processorArchitecture="X86"' in manifest, "manifest is not for x86")
    return problems


if __name__ == "__main__":
    found = main(sys.argv[1])
    for problem in found:
        print("PE32 check: %s: %s" % (sys.argv[1], problem))
    if not found:
        print("PE32 check: %s: PE32 i386 GUI, system DLLs only, dialog 102, icon 128 (9 images), "
              "version record, manifest (common controls 6, per-monitor DPI v2, Windows 7-11, asInvoker): OK" % sys.argv[1])
    sys.exit(1 if found else 0)
