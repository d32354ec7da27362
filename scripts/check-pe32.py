#!/usr/bin/env python3
"""Checks the shipped program without running it: a PE32 i386 GUI executable that
imports only system DLLs and carries its resources (dialog 102 with its list data,
icon group 128 with nine images, the version record, and a manifest that asks for
common controls 6, declares per-monitor DPI awareness, Windows 7 to 11 and asInvoker),
and whose code keeps the wide kernel variants' stack accesses aligned.

The stack check stands in for running the AVX-512 variant in 32-bit mode, which no
machine here can do. 32-bit Windows starts a thread with a stack aligned to 4 bytes
only, so the workers' thread entries (WorkerThreadProc, CoreTurnThreadProc) must
realign it (an `and $-16,%esp` or stronger), and a function that loads or stores a
ymm or zmm register with an aligned move (vmovapd, vmovdqa64, ...) at an %esp- or
%ebp-based address must realign its own stack to that register's width. The code is
checked, not the source: the realignment comes from force_align_arg_pointer on those
entries, and also from -mstackrealign, which this compiler turns on by default.

The shipped program is stripped, so the check reads the core library it was linked
from (libburnwright_core.a beside it, whose objects keep their symbols; no link-time
optimisation changes their code), disassembled with i686-w64-mingw32-objdump, and
then finds each function it relied on in the shipped program's bytes (the fields
the linker relocates left out): the thread entry and every function that uses ymm
or zmm registers, so that a program linked from other code fails rather than passes.
Burnwright64.exe, the x86-64 program, is checked the same way as a PE32+ AMD64
file with a 64-bit version record and an amd64 manifest, without the stack check.
Usage: check-pe32.py Burnwright.exe|Burnwright64.exe [libburnwright_core.a]"""
import os
import re
import struct
import subprocess
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


def is_x64(path):
    """Burnwright64.exe is the x86-64 program; every other name the PE32 one."""
    return os.path.basename(path).lower() == "burnwright64.exe"


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
    wide = is_x64(path)
    if wide:
        check(machine == 0x8664, "machine %#x, not x86-64" % machine)
        check(magic == 0x20B, "optional header %#x, not PE32+" % magic)
    else:
        check(machine == 0x14C, "machine %#x, not i386" % machine)
        check(magic == 0x10B, "optional header %#x, not PE32" % magic)
    if problems:
        return problems
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    check(subsystem == 2, "subsystem %d, not the Windows GUI" % subsystem)
    directories = optional + (112 if wide else 96)

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
    name = os.path.basename(path)
    check(name.encode("utf-16-le") + b"\0" in version, "version record does not name %s" % name)
    bits = "(64-bit)" if wide else "(32-bit)"
    check(bits.encode("utf-16-le") in version, "version record does not say %s" % bits)
    manifest = resources.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    problems += manifest_problems(manifest)
    arch = "amd64" if wide else "X86"
    check('processorArchitecture="%s"' % arch in manifest, "manifest is not for %s" % arch)
    return problems


OBJDUMP = "i686-w64-mingw32-objdump"
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
ALIGNED_MOVE = re.compile(r"^(vmovap[sd]|vmovdqa(32|64)?|vmovntp[sd]|vmovntdqa?)\s")
STACK_SLOT = re.compile(r"\(%e[sb]p[,)]")
STACK_AND = re.compile(r"^and\s+\$0x([0-9a-f]+),%esp$")


def functions(library):
    """Yields (name, code bytes, offsets the linker relocates, instructions) of each
    function; objdump ends each function's listing with a blank line."""
    listing = subprocess.run([OBJDUMP, "-d", "-z", "-r", "-w", library], capture_output=True,
                             text=True, check=True).stdout
    current = None
    for line in listing.splitlines() + [""]:
        head = FUNCTION.match(line)
        fields = line.split("\t")   # "address:", bytes, instruction, then "offset: type", symbol
        if head:
            current = (head.group(1), bytearray(), set(), [], int(line.split()[0], 16))
        elif current and len(fields) >= 3 and fields[0].strip().endswith(":"):
            name, code, relocated, instructions, base = current
            code += bytes.fromhex(fields[1].replace(" ", ""))
            instructions.append(fields[2].strip())
            for reloc in fields[3::2]:
                at = int(reloc.split(":")[0], 16) - base
                relocated.update(range(at, at + 4))
        elif current and not line.strip():
            yield current[:4]
            current = None


def realignment(instructions):
    """The stack alignment a function makes for itself: 0 if none."""
    widest = 0
    for text in instructions:
        match = STACK_AND.match(text)
        if match:
            mask = -int(match.group(1), 16) & 0xFFFFFFFF
            if mask and mask & (mask - 1) == 0:
                widest = max(widest, mask)
    return widest


def stack_problems(program, library):
    """What breaks the wide variants' stack alignment; [] if nothing does."""
    if not os.path.isfile(library):
        return ["no %s to check the stack alignment of its code (the build makes it)" % library]
    try:
        found = list(functions(library))
    except (OSError, subprocess.CalledProcessError) as error:
        return ["cannot disassemble %s with %s: %s" % (library, OBJDUMP, error)]
    problems, relied_on = [], []
    entries = []
    for entry in ("WorkerThreadProc", "CoreTurnThreadProc"):   # the workers' thread entries
        named = [f for f in found if entry in f[0]]
        if not named:
            problems.append("%s has no %s" % (library, entry))
        entries += named
    for name, code, relocated, instructions in entries:
        relied_on.append((name, code, relocated))
        if realignment(instructions) < 16:
            problems.append("the thread entry %s does not realign its stack to 16 bytes "
                            "(Windows starts threads with 4)" % name)
    for name, code, relocated, instructions in found:
        own = realignment(instructions)
        if any("%ymm" in text or "%zmm" in text for text in instructions):
            relied_on.append((name, code, relocated))
        for text in instructions:
            if ALIGNED_MOVE.match(text) and STACK_SLOT.search(text):
                width = 64 if "%zmm" in text else 32 if "%ymm" in text else 16
                if width > 16 and own < width:
                    problems.append("%s moves a %d-byte register to an aligned stack slot "
                                    "without realigning its stack: %s" % (name, width, text))
    data = open(program, "rb").read()
    for name, code, relocated in dict((r[0], r) for r in relied_on).values():
        pattern = b"".join(b"." if i in relocated else re.escape(code[i:i + 1])
                           for i in range(len(code)))
        if not re.search(pattern, data, re.DOTALL):
            problems.append("%s of %s is not in the program: was it linked from another build?"
                            % (name, library))
    return problems


if __name__ == "__main__":
    program = sys.argv[1]
    library = sys.argv[2] if len(sys.argv) > 2 else \
        os.path.join(os.path.dirname(os.path.abspath(program)), "libburnwright_core.a")
    if is_x64(program):
        # x86-64 threads start on 16-byte aligned stacks: no realignment to check.
        found = main(program)
        for problem in found:
            print("PE32+ check: %s: %s" % (program, problem))
        if not found:
            print("PE32+ check: %s: x86-64 GUI, system DLLs only, dialog 102, icon 128 (9 images), "
                  "version record (64-bit), manifest (common controls 6, amd64): OK" % program)
        sys.exit(1 if found else 0)
    found = main(program) + stack_problems(program, library)
    for problem in found:
        print("PE32 check: %s: %s" % (program, problem))
    if not found:
        print("PE32 check: %s: PE32 i386 GUI, system DLLs only, dialog 102, icon 128 (9 images), "
              "version record, manifest (common controls 6, per-monitor DPI v2, Windows 7-11, "
              "asInvoker), thread entry realigns its stack, no unaligned wide stack slot: OK" % program)
    sys.exit(1 if found else 0)
