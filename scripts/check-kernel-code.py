#!/usr/bin/env python3
"""Checks that each kernel variant's compiled pass runs the instructions it is named
for: the compiler may choose others for the same arithmetic (a widening multiply
written as MULX may come out as MUL), and a variant that never runs its unit tests
nothing of it. Reads the core library's objects with objdump, without running them.

    check-kernel-code.py LIBRARY...   (libburnwright_core.a of either build)
"""
import re
import subprocess
import sys

OBJDUMP = "x86_64-w64-mingw32-objdump"   # reads pe-i386 objects as well
MEMBER = re.compile(r"^(\S+\.obj):\s+file format")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
VERIFIED_PASS = re.compile(r"PassILi0E|KernelPass")   # the class passes' verified mode, the stream's pass

FUSED = r"^v?f(n?madd|n?msub)"
ONE_OPERAND_MUL = r"^mul[lq]?\s"
DEAD_MULTIPLY = r"^imul[lq]?\s+\$0x0,"
# object: (instructions each pass must hold, instructions none may hold)
RULES = {
    "WorkerKernelSse2.cpp.obj": ([r"^mulpd", r"^addpd"], [FUSED]),
    "WorkerKernelAvx.cpp.obj": ([r"^vmulpd", r"^vaddpd"], [FUSED]),
    "WorkerKernelAvx512.cpp.obj": ([r"^vmulpd.*%zmm", r"^vaddpd.*%zmm"], [FUSED]),
    "KernelClassFmaAvx2.cpp.obj": ([r"^vfmadd...pd.*%ymm", r"^vfnmadd...pd.*%ymm"], []),
    "KernelClassFmaAvx512.cpp.obj": ([r"^vfmadd...pd.*%zmm", r"^vfnmadd...pd.*%zmm"], []),
    "KernelClassIntegerBase.cpp.obj": ([ONE_OPERAND_MUL, r"^imul", r"^div", r"^ro[rl]\s"], [DEAD_MULTIPLY]),
    "KernelClassIntegerBmi2.cpp.obj": ([r"^mulx", r"^imul", r"^div", r"^rorx", r"^popcnt", r"^lzcnt",
                                        r"^tzcnt"], [ONE_OPERAND_MUL, DEAD_MULTIPLY]),
    "KernelClassVectorSse41.cpp.obj": ([r"^pmulld", r"^pmullw", r"^pmuludq", r"^paddq", r"^pshufb"], []),
    "KernelClassVectorAvx2.cpp.obj": ([r"^vpmulld.*%ymm", r"^vpmullw", r"^vpmuludq", r"^vpaddq", r"^vpshufb",
                                       r"^vpermd"], []),
    "KernelClassVectorAvx512.cpp.obj": ([r"^vpmulld.*%zmm", r"^vpmullw", r"^vpmuludq", r"^vpaddq",
                                         r"^vpshufb", r"^vpermd", r"^vperm[it]2q"], []),
    "KernelClassCryptoAes.cpp.obj": ([r"^aesenc\s", r"^aesenclast", r"^aesdec\s", r"^aesdeclast"], []),
    "KernelClassCryptoClmul.cpp.obj": ([r"^pclmul"], []),
    "KernelClassCryptoCrc32.cpp.obj": ([r"^crc32"], []),
    "KernelClassCryptoSha.cpp.obj": ([r"^sha256rnds2", r"^sha256msg1", r"^sha256msg2"], []),
}


def passes(library):
    """{object: {verified pass function: [instruction texts]}}"""
    listing = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", "-w", library], capture_output=True,
                             text=True, check=True).stdout
    found, member, function = {}, None, None
    for line in listing.splitlines():
        head = MEMBER.match(line)
        if head:
            member, function = head.group(1), None
            continue
        head = FUNCTION.match(line)
        if head:
            function = head.group(1) if member in RULES and VERIFIED_PASS.search(head.group(1)) else None
            if function:
                found.setdefault(member, {})[function] = []
            continue
        fields = line.split("\t")
        if function and len(fields) >= 2 and fields[0].strip().endswith(":"):
            found[member][function].append(fields[-1].strip())
    return found


def problems(library):
    try:
        found = passes(library)
    except (OSError, subprocess.CalledProcessError) as error:
        return ["cannot disassemble %s with %s: %s" % (library, OBJDUMP, error)]
    wrong = []
    for member, (required, forbidden) in sorted(RULES.items()):
        if member not in found:
            wrong.append("%s has no verified pass in %s" % (library, member))
            continue
        for function, instructions in sorted(found[member].items()):
            for pattern in required:
                if not any(re.search(pattern, text) for text in instructions):
                    wrong.append("%s %s: no instruction matching %s" % (member, function, pattern))
            for pattern in forbidden:
                hits = [text for text in instructions if re.search(pattern, text)]
                if hits:
                    wrong.append("%s %s: %d instructions matching %s, such as %s"
                                 % (member, function, len(hits), pattern, hits[0]))
    return wrong


if __name__ == "__main__":
    failed = False
    for library in sys.argv[1:]:
        found = problems(library)
        for problem in found:
            print("kernel code check: %s: %s" % (library, problem))
        if not found:
            print("kernel code check: %s: %d kernel variants, each pass runs its unit's instructions: OK"
                  % (library, len(RULES)))
        failed = failed or bool(found)
    sys.exit(1 if failed or len(sys.argv) < 2 else 0)
