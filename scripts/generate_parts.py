#!/usr/bin/env python3
"""Writes catalogue/avr_libc_parts.cc, the part table both programs and the
simulators grow from, out of avr-libc's device headers.

    scripts/generate_parts.py [--avr-gcc PATH] [--output FILE] [--check]

For every MCU that `avr-gcc --target-help` lists, the headers are read through
`avr-gcc -mmcu=M -E -C -dD -include avr/io.h`: the macros in the order the
preprocessor takes them, with the comments that head each fuse byte
("Low Fuse Byte", "High Fuse Byte", "Extended Fuse Byte"), so that every FUSE_
bit is placed in its byte even though its mask alone does not say which.

A part is kept when the ISP instruction set of the programs programs it: paged
flash (SPM_PAGESIZE), a signature, not XMEGA (PDI), not the reduced core (TPI),
not UPDI; the parts left out on top of that, and why, are kept by hand in
scripts/parts_excluded.txt. Every MCU left out, by a filter or by that list,
is written with its reason to scripts/parts_left_out.txt. Parts with one signature share one row,
named by all of them joined with '/'. The default fuses are the values of the
LFUSE_/HFUSE_/EFUSE_DEFAULT expressions, evaluated here; a part lacking one for
any of its fuse bytes gets no defaults.

Standard library only; the output depends only on the installed avr-gcc and
avr-libc. --check compares with the committed files instead of writing them
(exit 1 when either differs).
"""

import argparse
import ast
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DEFAULT_OUTPUT = os.path.join(ROOT, "catalogue", "avr_libc_parts.cc")
EXCLUSIONS = os.path.join(HERE, "parts_excluded.txt")
LEFT_OUT = os.path.join(HERE, "parts_left_out.txt")
GENERATOR = "scripts/generate_parts.py"

SECTION = {"Low Fuse Byte": 1, "High Fuse Byte": 2, "Extended Fuse Byte": 3,
           "LFUSE Byte": 1, "HFUSE Byte": 2, "EFUSE Byte": 3, "Fuse Byte": 1}
DEFAULT_MACRO = {1: "LFUSE_DEFAULT", 2: "HFUSE_DEFAULT", 3: "EFUSE_DEFAULT"}


class Skip(Exception):
    """A part the generator leaves out, with the reason."""


def known_mcus(avr_gcc):
    text = subprocess.run([avr_gcc, "--target-help"], capture_output=True, text=True,
                          encoding="latin-1",
                          check=True).stdout
    names, seen, inside = [], set(), False
    for line in text.splitlines():
        if line.startswith("Known MCU names:"):
            inside = True
            continue
        if inside:
            if not line.strip():
                break
            for name in line.split():
                if name not in seen:
                    seen.add(name)
                    names.append(name)
    return names


def preprocess(avr_gcc, mcu):
    result = subprocess.run(
        [avr_gcc, "-mmcu=" + mcu, "-E", "-C", "-dD", "-include", "avr/io.h", "-x", "c",
         os.devnull], capture_output=True, text=True,
        encoding="latin-1")
    if result.returncode != 0:
        raise Skip("avr/io.h does not preprocess for it")
    return result.stdout


DEFINE = re.compile(r"^\s*#\s*define\s+([A-Za-z_][A-Za-z0-9_]*)(\([^)]*\))?\s*(.*?)\s*$")
SECTION_COMMENT = re.compile(
    r"^\s*/\*\s*((?:Low |High |Extended |LFUSE |HFUSE |EFUSE )?Fuse Byte)\s*\*/\s*$",
    re.IGNORECASE)


def read_macros(text):
    """Object-like macros (last definition wins) and, for every FUSE_ macro,
    the fuse byte whose section comment heads it. A bit with no such comment
    above it belongs to the byte whose xFUSE_DEFAULT follows it."""
    macros, sections = {}, {}
    section = None
    pending = []  # FUSE_ bits since the last default, without a comment
    in_comment = False
    for line in text.splitlines():
        # Comments are kept for the section headings; the text inside them
        # (fuse.h's documentation shows example #defines) is not code.
        if in_comment:
            if "*/" not in line:
                continue
            line = line.split("*/", 1)[1]
            in_comment = False
        comment = SECTION_COMMENT.match(line)
        if comment:
            key = comment.group(1)
            section = next(v for k, v in SECTION.items() if k.lower() == key.lower())
            continue
        line = re.sub(r"/\*.*?\*/", " ", line)
        if "/*" in line:
            line = line.split("/*", 1)[0]
            in_comment = True
        match = DEFINE.match(line)
        if not match:
            continue
        name, params, body = match.groups()
        body = re.sub(r"/\*.*?\*/", "", body).strip()
        if params is None:
            macros[name] = body
        if name.startswith("FUSE_"):
            if section is not None:
                sections[name] = section
            else:
                pending.append(name)
        for fuse, default in list(DEFAULT_MACRO.items()) + [(1, "FUSE_DEFAULT")]:
            if name == default:
                for bit in pending:
                    sections[bit] = fuse
                pending = []
    return macros, sections


TOKEN = re.compile(r"\s*(?:(0[xX][0-9A-Fa-f]+|\d+)[uUlL]*|([A-Za-z_][A-Za-z0-9_]*)|(<<|>>|.))")


def expand(expression, macros, depth=0):
    """The expression with macros expanded to a Python expression of integers."""
    if depth > 20:
        raise ValueError("macro nesting too deep: " + expression)
    expression = re.sub(r"\(\s*unsigned\s+char\s*\)", " 0xFF & ", expression)
    expression = re.sub(r"\b_BV\s*\(([^()]*)\)", r"(1 << (\1))", expression)
    out, position = [], 0
    while position < len(expression):
        match = TOKEN.match(expression, position)
        if not match or match.end() == position:
            break
        position = match.end()
        number, identifier, operator = match.groups()
        if number is not None:
            out.append(str(int(number, 16) if number[:2] in ("0x", "0X") else int(number, 10)))
        elif identifier is not None:
            if identifier not in macros:
                raise ValueError("unknown name " + identifier)
            out.append("(" + expand(macros[identifier], macros, depth + 1) + ")")
        elif operator.strip():
            out.append(operator)
    return " ".join(out)


# Integer arithmetic only: what is evaluated is checked node by node first.
ALLOWED = (ast.Expression, ast.BinOp, ast.UnaryOp, ast.Constant, ast.BitAnd, ast.BitOr,
           ast.BitXor, ast.Invert, ast.LShift, ast.RShift, ast.Add, ast.Sub, ast.Mult,
           ast.USub)


def evaluate(expression, macros):
    tree = ast.parse(expand(expression, macros), mode="eval")
    for node in ast.walk(tree):
        if not isinstance(node, ALLOWED):
            raise ValueError("cannot evaluate " + expression)
    return eval(compile(tree, "<macro>", "eval"), {"__builtins__": {}})


def device_name(macros, mcu):
    for name in macros:
        match = re.fullmatch(r"__AVR_(\w+)__", name)
        if match and match.group(1).lower() == mcu and macros[name] == "1":
            return match.group(1)
    raise Skip("no device macro")


def read_part(avr_gcc, mcu):
    macros, sections = read_macros(preprocess(avr_gcc, mcu))
    if "__AVR_DEVICE_NAME__" not in macros:
        raise Skip("an architecture, not a device")
    if "__AVR_XMEGA__" in macros:
        if mcu.startswith("atxmega"):
            raise Skip("XMEGA: programmed through PDI")
        raise Skip("UPDI core (avrxmega3): programmed through UPDI")
    if "__AVR_TINY__" in macros:
        raise Skip("reduced core: programmed through TPI")
    if not all("SIGNATURE_%d" % i in macros for i in range(3)):
        raise Skip("no signature")
    if "SPM_PAGESIZE" not in macros:
        raise Skip("no paged flash")
    name = device_name(macros, mcu)
    value = lambda macro: evaluate(macros[macro], macros)
    fuse_count = value("FUSE_MEMORY_SIZE") if "FUSE_MEMORY_SIZE" in macros else 0
    if fuse_count not in (1, 2, 3):
        raise Skip("%d fuse bytes" % fuse_count)
    bits = []
    for macro in macros:
        if not macro.startswith("FUSE_") or macro in ("FUSE_MEMORY_SIZE", "FUSE_DEFAULT"):
            continue
        mask = value(macro) & 0xFF
        if bin(mask ^ 0xFF).count("1") != 1:
            continue  # not one bit (FUSEMEM and the like)
        if macro not in sections:
            raise ValueError("%s: %s has no fuse byte comment above it" % (mcu, macro))
        fuse = sections[macro]
        if fuse > fuse_count:
            raise ValueError("%s: %s is in fuse byte %d of %d" % (mcu, macro, fuse, fuse_count))
        bits.append((fuse, (mask ^ 0xFF).bit_length() - 1, macro[len("FUSE_"):]))
    bits.sort()
    placed = {}
    for fuse, bit, bit_name in bits:
        if (fuse, bit) in placed:
            raise ValueError("%s: %s and %s share fuse %d bit %d"
                             % (mcu, placed[(fuse, bit)], bit_name, fuse, bit))
        placed[(fuse, bit)] = bit_name
    defaults = {}
    for fuse in range(1, fuse_count + 1):
        macro = DEFAULT_MACRO[fuse]
        if fuse_count == 1 and "FUSE_DEFAULT" in macros:
            macro = "FUSE_DEFAULT"  # the one fuse byte of a part that has one
        if macro in macros:
            defaults[fuse] = value(macro) & 0xFF
    # A default expression only names bits of its own byte.
    for fuse, macro in DEFAULT_MACRO.items():
        if macro in macros:
            for used in re.findall(r"FUSE_\w+", macros[macro]):
                if used in sections and sections[used] != fuse:
                    raise ValueError("%s: %s names %s of fuse byte %d"
                                     % (mcu, macro, used, sections[used]))
    mends = mend_defaults(defaults, bits) if len(defaults) == fuse_count else []
    return {
        "mcu": mcu,
        "name": name,
        "mends": mends,
        "signature": tuple(value("SIGNATURE_%d" % i) & 0xFF for i in range(3)),
        "flash": value("FLASHEND") + 1,
        "page_words": value("SPM_PAGESIZE") // 2,
        "eeprom": value("E2END") + 1 if "E2END" in macros else 0,
        "eeprom_page": value("E2PAGESIZE") if "E2PAGESIZE" in macros else 0,
        "fuse_count": fuse_count,
        "defaults": defaults if len(defaults) == fuse_count else None,
        "bits": bits,
    }


# The default fuses are what the "a" command writes without asking, so a
# default may not switch the watchdog on for good, drive the clock out on a pin,
# take the RESET pin or debugWIRE over, or end serial programming. Where avr-libc
# gives such a value, that bit is mended and the rest kept.
UNPROGRAMMED_IN_DEFAULTS = ("WDTON", "CKOUT", "RSTDISBL", "DWEN")
PROGRAMMED_IN_DEFAULTS = ("SPIEN",)


def mend_defaults(defaults, bits):
    mends = []
    for fuse, bit, bit_name in bits:
        if fuse not in defaults:
            continue
        programmed = not (defaults[fuse] >> bit) & 1
        if bit_name in UNPROGRAMMED_IN_DEFAULTS and programmed:
            defaults[fuse] |= 1 << bit
            mends.append("%s left unprogrammed" % bit_name)
        elif bit_name in PROGRAMMED_IN_DEFAULTS and not programmed:
            defaults[fuse] &= ~(1 << bit) & 0xFF
            mends.append("%s left programmed" % bit_name)
    return mends


def read_exclusions():
    excluded = {}
    with open(EXCLUSIONS) as source:
        for line in source:
            line = line.split("#", 1)[0].strip()
            if line:
                mcu, reason = line.split(None, 1)
                excluded[mcu] = reason
    return excluded


def natural_key(name):
    return [int(piece) if piece.isdigit() else piece.lower()
            for piece in re.findall(r"\d+|\D+", name)]


def collect(avr_gcc):
    excluded = read_exclusions()
    kept, skipped = [], []
    for mcu in known_mcus(avr_gcc):
        if mcu in excluded:
            skipped.append((mcu, excluded[mcu]))
            continue
        try:
            kept.append(read_part(avr_gcc, mcu))
        except Skip as reason:
            skipped.append((mcu, str(reason)))
    unused = set(excluded) - {mcu for mcu, _ in skipped}
    if unused:
        raise ValueError("exclusions for MCUs avr-gcc does not list: " + " ".join(sorted(unused)))
    groups = {}
    for part in kept:
        groups.setdefault(part["signature"], []).append(part)
    rows = []
    for signature, parts in groups.items():
        parts.sort(key=lambda part: natural_key(part["name"]))
        first = parts[0]
        for other in parts[1:]:
            for key in ("flash", "page_words", "eeprom", "fuse_count"):
                if other[key] != first[key]:
                    raise ValueError("%s and %s share a signature but differ in %s"
                                     % (first["name"], other["name"], key))
        row = dict(first)
        row["name"] = "/".join(part["name"] for part in parts)
        row["mcus"] = [part["mcu"] for part in parts]
        rows.append(row)
    rows.sort(key=lambda row: natural_key(row["name"]))
    return rows, skipped


def hex_byte(value):
    return "0x%02X" % value


def render(rows, kept_mcus):
    out = []
    emit = out.append
    emit("// Generated by %s from avr-libc's device headers: do not edit." % GENERATOR)
    emit("// %d rows from %d MCUs; regenerate with `%s` after an avr-libc update."
         % (len(rows), kept_mcus, GENERATOR))
    emit("")
    emit('#include "catalogue/avr_libc_parts.h"')
    emit("")
    emit("namespace {")
    emit("")
    emit("// clang-format off")
    for index, row in enumerate(rows):
        emit("constexpr FuseBit kBits%d[] = {  // %s" % (index, row["name"]))
        for fuse, bit, name in row["bits"]:
            emit('    {%d, %d, "%s"},' % (fuse, bit, name))
        if not row["bits"]:
            emit('    {0, 0, ""},  // avr-libc names no bit')
        emit("};")
    emit("")
    emit("constexpr AvrLibcPart kParts[] = {")
    emit("    // name, signature, flash bytes, page words, EEPROM bytes, EEPROM page bytes,")
    emit("    // fuse bytes, defaults known, defaults (extended, high, low; 0xFF where absent)")
    for row in rows:
        defaults = row["defaults"]
        known = defaults is not None
        values = [defaults.get(fuse, 0xFF) if known else 0xFF for fuse in (3, 2, 1)]
        emit('    {"%s", {%s}, %d, %d, %d, %d, %d, %s, {%s}},' % (
            row["name"], ", ".join(hex_byte(b) for b in row["signature"]), row["flash"],
            row["page_words"], row["eeprom"], row["eeprom_page"], row["fuse_count"],
            "true" if known else "false", ", ".join(hex_byte(v) for v in values)))
        if row.get("mends"):
            emit("    // avr-libc's defaults mended: %s" % ", ".join(row["mends"]))
    emit("};")
    emit("")
    emit("constexpr PartFuseBits kFuseBits[] = {")
    for index, row in enumerate(rows):
        emit("    {{%s}, kBits%d, %d}," % (", ".join(hex_byte(b) for b in row["signature"]),
                                          index, len(row["bits"])))
    emit("};")
    emit("// clang-format on")
    emit("")
    emit("}  // namespace")
    emit("")
    emit("const AvrLibcPart* avrLibcParts() {")
    emit("  return kParts;")
    emit("}")
    emit("")
    emit("int avrLibcPartCount() {")
    emit("  return static_cast<int>(sizeof kParts / sizeof kParts[0]);")
    emit("}")
    emit("")
    emit("const PartFuseBits* avrLibcFuseBits() {")
    emit("  return kFuseBits;")
    emit("}")
    return "\n".join(out) + "\n"


def render_left_out(skipped):
    lines = ["# Generated by %s: every MCU avr-gcc lists that the part table leaves out," % GENERATOR,
             "# and why. Hand-kept exclusions come from scripts/parts_excluded.txt."]
    for mcu, reason in skipped:
        lines.append("%-16s %s" % (mcu, reason))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--avr-gcc", default="avr-gcc")
    parser.add_argument("--output", default=DEFAULT_OUTPUT, help="the C++ table to write")
    parser.add_argument("--left-out", default=LEFT_OUT, help="the list of MCUs left out")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files instead of writing them")
    args = parser.parse_args()
    rows, skipped = collect(args.avr_gcc)
    outputs = [(args.output, render(rows, sum(len(row["mcus"]) for row in rows))),
               (args.left_out, render_left_out(skipped))]
    if args.check:
        differs = False
        for path, text in outputs:
            try:
                with open(path) as committed:
                    same = committed.read() == text
            except OSError:
                same = False
            if not same:
                print("%s differs from what %s makes of the installed avr-libc"
                      % (path, GENERATOR), file=sys.stderr)
                differs = True
        return 1 if differs else 0
    for path, text in outputs:
        with open(path, "w") as output:
            output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
