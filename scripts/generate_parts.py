#!/usr/bin/env python3
"""Writes catalogue/avr_libc_parts.cc, the part table both programs grow from,
out of avr-libc's device headers and the hand-kept datasheet facts
(scripts/datasheet_facts.txt), and sim/datasheet_parts.cc, the simulators'
chips, out of the facts alone.

    scripts/generate_parts.py [--avr-gcc PATH] [--output FILE] [--check]

The devices are those avr-libc installs a header for: every device avr/io.h
selects a header for, and every device `avr-gcc --target-help` lists (whose
header the compiler names through __AVR_DEV_LIB_NAME__). A device the
compiler knows is read through `avr-gcc -mmcu=M -E -C -dD -include avr/io.h`;
one it does not know (the ATtiny841, say) through a core of its kind with the
device's own macro defined, so its header is read all the same. The output
keeps the macros in the order the preprocessor takes them, with the comments
that head each fuse byte ("Low Fuse Byte", "High Fuse Byte", "Extended Fuse
Byte"), so that every FUSE_ bit is placed in its byte even though its mask
alone does not say which.

Where the facts know better than avr-libc (signature, factory fuses, the bits
that end serial programming, Poll RDY/BSY and the t_WD waits, the EEPROM page,
the clock-select codes) the facts win, and every disagreement is written with
both values to scripts/datasheet_disagreements.txt.

A part is kept when the ISP instruction set of the programs programs it: paged
flash (SPM_PAGESIZE), a signature, not XMEGA (PDI), not the reduced core (TPI),
not UPDI; the parts left out on top of that, and why, are kept by hand in
scripts/parts_excluded.txt. Every MCU left out, by a filter or by that list,
is written with its reason to scripts/parts_left_out.txt. Parts with one signature share one row,
named by all of them joined with '/'. The default fuses are the values of the
LFUSE_/HFUSE_/EFUSE_DEFAULT expressions, evaluated here; a part lacking one for
any of its fuse bytes gets no defaults.

Standard library only; the output depends only on the installed avr-gcc,
avr-libc and the facts file. --check compares every generated file with the
committed one instead of writing them (exit 1 when any differs).
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
FACTS = os.path.join(HERE, "datasheet_facts.txt")
DISAGREEMENTS = os.path.join(HERE, "datasheet_disagreements.txt")
SIM_OUTPUT = os.path.join(ROOT, "sim", "datasheet_parts.cc")
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


def preprocess(avr_gcc, mcu, macro=None):
    """The preprocessed headers of one device. A device the compiler does not
    know (macro is then its __AVR_..._ macro) is read through a core of its
    kind with its macro defined, which selects its header in avr/io.h."""
    if macro is None:
        target = ["-mmcu=" + mcu]
    else:
        core = "avrxmega2" if mcu.startswith("atxmega") else "avr25" if mcu.startswith("attiny") else "avr5"
        target = ["-mmcu=" + core, "-D" + macro, "-D__AVR_DEVICE_NAME__=" + mcu]
    result = subprocess.run(
        [avr_gcc] + target + ["-E", "-C", "-dD", "-include", "avr/io.h", "-x", "c",
                              os.devnull], capture_output=True, text=True,
        encoding="latin-1")
    if result.returncode != 0:
        raise Skip("avr/io.h does not preprocess for it")
    return result.stdout


IO_SELECT = re.compile(r"defined\s*\(\s*(__AVR_(\w+?)__)\s*\)")


def header_devices(include_dir):
    """The devices avr/io.h selects a header for: lower-case name -> macro."""
    devices = {}
    with open(os.path.join(include_dir, "io.h"), encoding="latin-1") as source:
        for line in source:
            if re.match(r"\s*#\s*(el)?if\b", line):
                for macro, name in IO_SELECT.findall(line):
                    if name not in ("DEV_LIB_NAME",):
                        devices.setdefault(name.lower(), macro)
    return devices


def device_header(text):
    """The io*.h header a device's preprocessed text came from first."""
    for match in re.finditer(r'^# \d+ "[^"]*/avr/(io[^/"]*\.h)"', text, re.MULTILINE):
        if match.group(1) != "io.h":
            return match.group(1)
    return None


def included_headers(text):
    return {match.group(1) for match in
            re.finditer(r'^# \d+ "[^"]*/avr/(io[^/"]*\.h)"', text, re.MULTILINE)}


def include_dir(avr_gcc):
    text = subprocess.run([avr_gcc, "-mmcu=atmega328p", "-E", "-include", "avr/io.h",
                           "-x", "c", os.devnull], capture_output=True, text=True,
                          encoding="latin-1").stdout
    match = re.search(r'^# \d+ "(.*)/avr/io\.h"', text, re.MULTILINE)
    if not match:
        raise ValueError("avr/io.h not found through " + avr_gcc)
    return os.path.join(match.group(1), "avr")


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


def read_part(avr_gcc, mcu, macro=None, seen=None):
    text = preprocess(avr_gcc, mcu, macro)
    if seen is not None:
        seen[mcu] = (device_header(text), included_headers(text))
    macros, sections = read_macros(text)
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
    libc_defaults = dict(defaults) if len(defaults) == fuse_count else None
    mends = mend_defaults(defaults, bits) if len(defaults) == fuse_count else []
    return {
        "libc_defaults": libc_defaults,
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
    # A joined row is named after its megaAVR or tinyAVR first, its
    # automotive (ATA) twins after.
    automotive = re.match(r"ATA\d", name) is not None
    return [automotive] + [int(piece) if piece.isdigit() else piece.lower()
                           for piece in re.findall(r"\d+|\D+", name)]


FUSE_BYTE = {"low": 1, "high": 2, "ext": 3}
BYTE_NAME = {1: "low", 2: "high", 3: "ext"}
TWD_KEYS = ("erase", "flash", "eeprom", "fuse")


def parse_facts(text):
    """The facts file's blocks: avr-libc's part name (lower case) -> facts.
    A fact written "unknown" is left out, so avr-libc's value stands."""
    facts, part = {}, None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        where = "facts line %d: " % number
        if line.startswith("part "):
            name = line.split(None, 1)[1].strip()
            part = facts.setdefault(name.lower(), {"name": name})
            continue
        if part is None:
            raise ValueError(where + "a fact before any part")
        key, _, rest = line.partition(" ")
        value, _, source = rest.partition("|")
        value, source = value.strip(), source.strip()
        if value == "unknown" or value.startswith("unknown "):
            continue
        try:
            if key == "doc":
                part["doc"] = value
            elif key == "signature":
                part["signature"] = tuple(int(b, 16) for b in value.split())
                if len(part["signature"]) != 3:
                    raise ValueError("three bytes")
            elif key == "fuses":
                fuses = {}
                for item in value.split():
                    byte, _, hex_value = item.partition("=")
                    fuses[FUSE_BYTE[byte]] = int(hex_value, 16)
                part["fuses"] = fuses
            elif key == "isp-ending":
                ending = []
                for item in value.split():
                    place, _, bit_name = item.partition("=")
                    byte, _, bit = place.partition(".")
                    ending.append((FUSE_BYTE[byte], int(bit), bit_name))
                if any(not 0 <= bit <= 7 for _, bit, _ in ending):
                    raise ValueError("bit out of 0 to 7")
                part["isp_ending"] = sorted(ending)
            elif key == "poll":
                if value not in ("yes", "no"):
                    raise ValueError("yes or no")
                part["poll"] = value == "yes"
            elif key == "twd":
                waits = {}
                for item in value.split():
                    which, _, micros = item.partition("=")
                    if which not in TWD_KEYS:
                        raise ValueError("unknown wait " + which)
                    waits[which] = int(micros)
                part["twd"] = waits
            elif key == "eeprom-page":
                part["eeprom_page"] = 0 if value == "none" else int(value)
            elif key == "clock":
                part["clock"] = parse_clock(value)
            elif key != "note":
                raise ValueError("unknown key " + key)
        except (ValueError, KeyError) as error:
            raise ValueError("%s%s: %s" % (where, line, error))
    return facts


def parse_clock(value):
    """"low.3-0 0000=external clock; 0001=reserved; ..." -> the field and its
    codes, each (from, to, kind, meaning) with kind i(nternal), e(xternal) or
    r(eserved)."""
    field, _, table = value.partition(" ")
    byte, _, span = field.partition(".")
    high, _, low = span.partition("-")
    fuse, high, low = FUSE_BYTE[byte], int(high), int(low)
    width = high - low + 1
    if fuse != 1 or not 0 <= low <= high <= 7:
        raise ValueError("the clock field must lie in the low fuse")
    codes = []
    for entry in table.split(";"):
        entry = entry.strip()
        if not entry:
            continue
        span, _, meaning = entry.partition("=")
        first, _, last = span.strip().partition("-")
        # Datasheets write ranges highest first ("1111 - 1000"); either order is taken.
        first, last = sorted((int(first, 2), int(last or first, 2)))
        meaning = meaning.strip()
        if last >= 1 << width or not meaning:
            raise ValueError("bad clock code " + entry)
        kind = "r" if meaning.lower().startswith("reserved") else (
            "i" if "internal" in meaning.lower() else "e")
        codes.append((first, last, kind, meaning))
    codes.sort()
    return {"high": high, "low": low, "codes": codes}


def clock_code(clock, low_fuse):
    code = (low_fuse >> clock["low"]) & ((1 << (clock["high"] - clock["low"] + 1)) - 1)
    for first, last, kind, meaning in clock["codes"]:
        if first <= code <= last:
            return code, kind, meaning
    return code, None, None


def clock_bits(clock, code):
    return format(code, "0%db" % (clock["high"] - clock["low"] + 1))


# avr-libc's names of the bits whose change ends serial programming.
LIBC_ENDING = ("SPIEN", "RSTDISBL", "RSTDSBL", "DWEN")


def fuse_text(fuses, count):
    return " ".join("%s=%02X" % (BYTE_NAME[f], fuses[f]) for f in range(1, count + 1) if f in fuses)


def ending_text(ending):
    return " ".join("%s.%d=%s" % (BYTE_NAME[f], b, n) for f, b, n in ending) or "none"


def apply_facts(part, fact, report):
    """Lays a part's datasheet facts over avr-libc's values, noting every
    disagreement in report as (part, field, avr-libc's, the datasheet's)."""
    name = part["name"]
    part["ending"] = [(f, b, n) for f, b, n in part["bits"] if n in LIBC_ENDING]
    part["poll"], part["twd"], part["clock"], part["facts"] = True, {}, None, fact is not None
    if fact is None:
        return
    note = lambda field, ours, theirs: report.append((name, field, ours, theirs))
    if "signature" in fact and fact["signature"] != part["signature"]:
        note("signature", " ".join("%02X" % b for b in part["signature"]),
             " ".join("%02X" % b for b in fact["signature"]))
        part["signature"] = fact["signature"]
    if "fuses" in fact:
        fuses = fact["fuses"]
        if sorted(fuses) != list(range(1, len(fuses) + 1)):
            raise ValueError("%s: factory fuses must be low, then high, then ext" % name)
        if len(fuses) != part["fuse_count"]:
            note("fuse bytes", str(part["fuse_count"]), str(len(fuses)))
            part["fuse_count"] = len(fuses)
        libc = part["libc_defaults"]
        if libc != fuses:
            note("factory fuses", fuse_text(libc, part["fuse_count"]) if libc else "none",
                 fuse_text(fuses, len(fuses)))
        part["defaults"] = dict(fuses)
        part["mends"] = mend_defaults(part["defaults"], part["bits"])
    if "isp_ending" in fact:
        ending = fact["isp_ending"]
        if ending != part["ending"]:
            note("ISP-ending bits", ending_text(part["ending"]), ending_text(ending))
        named = {(f, b): n for f, b, n in part["bits"]}
        for fuse, bit, bit_name in ending:
            if fuse > part["fuse_count"]:
                raise ValueError("%s: %s is in a fuse byte the part lacks" % (name, bit_name))
            if (fuse, bit) not in named:
                part["bits"].append((fuse, bit, bit_name))
        part["bits"].sort()
        part["ending"] = ending
    if "poll" in fact:
        part["poll"] = fact["poll"]
        if not fact["poll"]:
            note("Poll RDY/BSY", "assumed", "none: wait t_WD")
    part["twd"] = dict(fact.get("twd", {}))
    if "eeprom_page" in fact and fact["eeprom_page"] != part["eeprom_page"]:
        note("EEPROM page bytes", str(part["eeprom_page"]) if part["eeprom_page"] else "none",
             str(fact["eeprom_page"]) if fact["eeprom_page"] else "none")
        part["eeprom_page"] = fact["eeprom_page"]
    if "clock" in fact:
        part["clock"] = fact["clock"]
        # Defaults that select a reserved clock code are no factory values:
        # the row then has none, and writing defaults is refused.
        defaults = part.get("defaults")
        if defaults and 1 in defaults:
            code, kind, meaning = clock_code(fact["clock"], defaults[1])
            if kind == "r" or kind is None:
                note("default clock code", "CKSEL %s" % clock_bits(fact["clock"], code),
                     "reserved: no defaults")
                part["defaults"], part["mends"] = None, []


def join_rows(parts, report):
    """Parts with one signature share one row. The row guards the union of
    their ISP-ending bits, each marked with the variants it belongs to when
    not all of them; it waits where any variant must be waited for."""
    first = parts[0]
    for other in parts[1:]:
        for key in ("flash", "page_words", "eeprom", "fuse_count"):
            if other[key] != first[key]:
                raise ValueError("%s and %s share a signature but differ in %s"
                                 % (first["name"], other["name"], key))
    # A joined row takes each fact from its first variant that has it.
    lead = lambda key: next((part for part in parts if key in part["fact"]), first)
    row = dict(first)
    row["name"] = "/".join(part["name"] for part in parts)
    row["mcus"] = [part["mcu"] for part in parts]
    row["defaults"], row["mends"] = lead("fuses")["defaults"], lead("fuses")["mends"]
    row["eeprom_page"] = lead("eeprom_page")["eeprom_page"]
    clocked = lead("clock")
    row["clock"] = clocked["clock"]
    for part in parts:
        if part["clock"] and part["clock"] != row["clock"]:
            report.append((row["name"], "clock codes", clocked["name"] + "'s decode the row",
                           part["name"] + "'s differ"))
    for part in parts[1:]:
        if part["ending"] != first["ending"]:
            report.append((row["name"], "variants' ISP-ending bits (the row guards both)",
                           first["name"] + ": " + ending_text(first["ending"]),
                           part["name"] + ": " + ending_text(part["ending"])))
    ending = {}
    for part in parts:
        for fuse, bit, bit_name in part["ending"]:
            ending.setdefault((fuse, bit, bit_name), []).append(part["name"])
    row["ending"] = []
    # SPIEN, then the reset pin, then debugWIRE, as the guard reports them.
    rank = lambda item: ("SPIEN" not in item[0][2]) + ("DWEN" in item[0][2])
    for (fuse, bit, bit_name), owners in sorted(ending.items(), key=lambda i: (rank(i), i[0])):
        variants = "" if len(owners) == len(parts) else "/".join(owners)
        row["ending"].append((fuse, bit, bit_name, variants))
    bits = {(f, b): n for part in parts for f, b, n in reversed(part["bits"])}
    bits.update({(f, b): n for f, b, n in first["bits"]})
    row["bits"] = sorted((f, b, n) for (f, b), n in bits.items())
    row["poll"] = all(part["poll"] for part in parts)
    row["twd"] = {key: max(part["twd"].get(key, 0) for part in parts) for key in TWD_KEYS}
    row["facts"] = any(part["facts"] for part in parts)
    return row


def devices(avr_gcc):
    """Every device with a header: (mcu, macro for a device the compiler does
    not know, or None), in a stable order."""
    known = known_mcus(avr_gcc)
    listed = set(known)
    selected = header_devices(include_dir(avr_gcc))
    result = [(mcu, None) for mcu in known]
    result += [(mcu, selected[mcu]) for mcu in sorted(selected) if mcu not in listed]
    return result


def collect(avr_gcc, facts_text):
    facts = parse_facts(facts_text)
    excluded = read_exclusions()
    kept, skipped, seen, report = [], [], {}, []
    for mcu, macro in devices(avr_gcc):
        if mcu in excluded:
            skipped.append((mcu, excluded[mcu]))
            continue
        try:
            part = read_part(avr_gcc, mcu, macro, seen)
        except Skip as reason:
            skipped.append((mcu, str(reason)))
            continue
        fact = facts.get(part["name"].lower())
        part["fact"] = fact or {}
        apply_facts(part, fact, report)
        kept.append(part)
    unused = set(excluded) - {mcu for mcu, _ in skipped}
    if unused:
        raise ValueError("exclusions for MCUs avr-gcc does not list: " + " ".join(sorted(unused)))
    names = {part["name"].lower() for part in kept}
    for key in sorted(set(facts) - names):
        report.append((facts[key]["name"], "part", "no header kept", "facts only"))
    groups = {}
    for part in kept:
        groups.setdefault(part["signature"], []).append(part)
    rows = []
    for signature, parts in groups.items():
        parts.sort(key=lambda part: natural_key(part["name"]))
        # An automotive (ATA) twin of a megaAVR or tinyAVR is the same die in
        # another package: the target is shown under the part people know,
        # and the twin is listed as left out.
        mainstream = [part for part in parts if not natural_key(part["name"])[0]]
        if mainstream and len(mainstream) < len(parts):
            for part in parts[len(mainstream):]:
                skipped.append((part["mcu"], "shares its signature with %s, whose row it is"
                                % mainstream[0]["name"]))
            parts = mainstream
        rows.append(join_rows(parts, report))
    rows.sort(key=lambda row: natural_key(row["name"]))
    directory = include_dir(avr_gcc)
    headers = {name for name in os.listdir(directory)
               if re.fullmatch(r"io\w+\.h", name) and name != "io.h"}
    return rows, skipped, seen, report, facts, kept, headers


def hex_byte(value):
    return "0x%02X" % value


def c_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def render(rows, kept_mcus):
    out = []
    emit = out.append
    emit("// Generated by %s from avr-libc's device headers and" % GENERATOR)
    emit("// scripts/datasheet_facts.txt: do not edit.")
    emit("// %d rows from %d devices; regenerate with `%s` after an avr-libc update"
         % (len(rows), kept_mcus, GENERATOR))
    emit("// or a change of the facts.")
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
        if row["ending"]:
            emit("constexpr IspEndingBit kEnding%d[] = {" % index)
            for fuse, bit, name, variants in row["ending"]:
                emit('    {{%d, %d, "%s"}, %s, %s},' % (
                    fuse, bit, name, "false" if "SPIEN" in name else "true", c_string(variants)))
            emit("};")
        if row["clock"]:
            clock = row["clock"]
            emit("constexpr ClockCode kClockCodes%d[] = {" % index)
            for first, last, kind, meaning in clock["codes"]:
                emit("    {%d, %d, '%s', %s}," % (first, last, kind, c_string(meaning)))
            emit("};")
            emit("constexpr ClockTable kClock%d = {{1, %d, \"CKSEL\"}, %d, kClockCodes%d, %d};"
                 % (index, clock["low"], clock["high"], index, len(clock["codes"])))
    emit("")
    emit("constexpr AvrLibcPart kParts[] = {")
    emit("    // name, signature, flash bytes, page words, EEPROM bytes, EEPROM page bytes,")
    emit("    // fuse bytes, defaults known, defaults (extended, high, low; 0xFF where absent),")
    emit("    // datasheet facts known, Poll RDY/BSY, t_WD erase, flash, EEPROM, fuse (us)")
    for row in rows:
        defaults = row["defaults"]
        known = defaults is not None
        values = [defaults.get(fuse, 0xFF) if known else 0xFF for fuse in (3, 2, 1)]
        emit('    {"%s", {%s}, %d, %d, %d, %d, %d, %s, {%s}, %s, %s, %s},' % (
            row["name"], ", ".join(hex_byte(b) for b in row["signature"]), row["flash"],
            row["page_words"], row["eeprom"], row["eeprom_page"], row["fuse_count"],
            "true" if known else "false", ", ".join(hex_byte(v) for v in values),
            "true" if row["facts"] else "false", "true" if row["poll"] else "false",
            ", ".join(str(row["twd"][key]) for key in TWD_KEYS)))
        if row.get("mends"):
            emit("    // defaults mended: %s" % ", ".join(row["mends"]))
    emit("};")
    emit("")
    emit("constexpr PartFuseBits kFuseBits[] = {")
    for index, row in enumerate(rows):
        emit("    {{%s}, kBits%d, %d, %s, %d, %s}," % (
            ", ".join(hex_byte(b) for b in row["signature"]), index, len(row["bits"]),
            "kEnding%d" % index if row["ending"] else "nullptr", len(row["ending"]),
            "&kClock%d" % index if row["clock"] else "nullptr"))
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


def render_sim(facts, kept):
    """The simulators' chips: one per part of the facts file, with avr-libc's
    signature only where the facts give none."""
    libc = {part["name"].lower(): part for part in kept}
    out = ["// Generated by %s from scripts/datasheet_facts.txt; do not edit." % GENERATOR,
           '#include "sim/datasheet_parts.h"', "", "#include <cstring>", "", "namespace {", "",
           "// clang-format off",
           "// name, signature, fuse bytes, factory fuses (extended, high, low), Poll RDY/BSY,",
           "// t_WD erase, flash, EEPROM, fuse (us), EEPROM page bytes",
           "const DatasheetPart kParts[] = {"]
    count = 0
    for key in sorted(facts, key=natural_key):
        fact = facts[key]
        signature = fact.get("signature") or (libc[key]["signature"] if key in libc else None)
        if signature is None:
            continue
        fuses = fact.get("fuses", {})
        eeprom_page = fact.get("eeprom_page", libc[key]["eeprom_page"] if key in libc else 0)
        twd = fact.get("twd", {})
        out.append('    {"%s", {%s}, %d, {%s}, %s, %s, %d},' % (
            fact["name"], ", ".join(hex_byte(b) for b in signature), len(fuses),
            ", ".join(hex_byte(fuses.get(f, 0xFF)) for f in (3, 2, 1)),
            "false" if fact.get("poll") is False else "true",
            ", ".join(str(twd.get(k, 0)) for k in TWD_KEYS), eeprom_page))
        count += 1
    if count == 0:
        out.append("    {nullptr, {0, 0, 0}, 0, {0xFF, 0xFF, 0xFF}, true, 0, 0, 0, 0, 0},")
    out += ["};", "// clang-format on", "constexpr int kPartCount = %d;" % count, "",
            "}  // namespace", "",
            "const DatasheetPart* datasheetParts() { return kParts; }",
            "int datasheetPartCount() { return kPartCount; }", "",
            "const DatasheetPart* findDatasheetPart(const uint8_t signature[3]) {",
            "  for (int i = 0; i < kPartCount; ++i) {",
            "    if (std::memcmp(kParts[i].signature, signature, 3) == 0) return &kParts[i];",
            "  }", "  return nullptr;", "}"]
    return "\n".join(out) + "\n"


def render_report(report):
    lines = ["# Generated by %s: every place where scripts/datasheet_facts.txt and" % GENERATOR,
             "# avr-libc's device headers disagree. The part table takes the datasheet's value.",
             "# part | field | avr-libc | datasheet"]
    for name, field, ours, theirs in sorted(report, key=lambda e: (natural_key(e[0]), e[1])):
        lines.append("%s | %s | %s | %s" % (name, field, ours, theirs))
    return "\n".join(lines) + "\n"


def render_left_out(skipped, seen, rows, headers):
    lines = ["# Generated by %s: every device avr-libc has a header for, or avr-gcc" % GENERATOR,
             "# lists, that the part table leaves out, and why; then every header that is",
             "# no kept device's own. Hand-kept exclusions come from scripts/parts_excluded.txt."]
    for mcu, reason in skipped:
        header = seen.get(mcu, (None, None))[0] or "-"
        lines.append("%-16s %-16s %s" % (mcu, header, reason))
    kept = {mcu for row in rows for mcu in row["mcus"]}
    own = {seen[mcu][0] for mcu in kept if mcu in seen}
    owners, left_out = {}, {}
    for mcu, (header, included) in seen.items():
        if mcu not in kept and header:
            left_out.setdefault(header, []).append(mcu)
        for name in included:
            if name not in (header, "io.h"):
                owners.setdefault(name, set()).add(header)
    lines.append("# Headers that are no kept device's own:")
    for header in sorted(headers - own, key=natural_key):
        if header in owners:
            reason = "shared, included by " + " ".join(sorted(owners[header], key=natural_key))
        elif header in left_out:
            reason = "the header of " + " ".join(left_out[header]) + ", left out above"
        else:
            reason = "no device selects it"
        lines.append("%-16s %s" % (header, reason))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--avr-gcc", default="avr-gcc")
    parser.add_argument("--output", default=DEFAULT_OUTPUT, help="the C++ table to write")
    parser.add_argument("--left-out", default=LEFT_OUT, help="the list of MCUs left out")
    parser.add_argument("--facts", default=FACTS, help="the datasheet facts to apply")
    parser.add_argument("--disagreements", default=DISAGREEMENTS,
                        help="the report of where facts and avr-libc disagree")
    parser.add_argument("--sim-output", default=SIM_OUTPUT, help="the simulators' table to write")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files instead of writing them")
    args = parser.parse_args()
    with open(args.facts) as source:
        facts_text = source.read()
    rows, skipped, seen, report, facts, kept, headers = collect(args.avr_gcc, facts_text)
    outputs = [(args.output, render(rows, sum(len(row["mcus"]) for row in rows))),
               (args.left_out, render_left_out(skipped, seen, rows, headers)),
               (args.disagreements, render_report(report)),
               (args.sim_output, render_sim(facts, kept))]
    if args.check:
        differs = False
        for path, text in outputs:
            try:
                with open(path) as committed:
                    same = committed.read() == text
            except OSError:
                same = False
            if not same:
                print("%s differs from what %s makes of the installed avr-libc and the facts"
                      % (path, GENERATOR), file=sys.stderr)
                differs = True
        return 1 if differs else 0
    for path, text in outputs:
        with open(path, "w") as output:
            output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
