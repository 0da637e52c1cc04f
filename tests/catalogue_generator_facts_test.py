#!/usr/bin/env python3
"""scripts/generate_parts.py lays the datasheet facts over avr-libc's values:
a small fixture of two parts sharing a signature, one with facts."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import generate_parts  # noqa: E402

FACTS = """
# a comment
part ATmega169PA
doc 8284 "ATmega169A/PA"
signature 1E 94 05 | Signature Bytes
fuses low=62 high=99 ext=FF | Fuse tables
isp-ending high.5=SPIEN ext.0=RSTDISBL | Extended Fuse Byte
poll no | Instruction Set
twd erase=9000 flash=4500 eeprom=9000 fuse=4500 | Minimum Wait Delay
eeprom-page none | Instruction Set
clock low.3-0 0000=external clock; 0001=reserved; 0010=calibrated internal RC oscillator; 0011-0111=reserved; 1111 - 1000=crystal oscillator | Clocking Options
part ATmega169
twd unknown | not reached
"""


def libc_part(name, defaults):
    """A part as read_part gives it, with avr-libc's bit table."""
    bits = [(1, b, "CKSEL%d" % b) for b in range(4)] + [(2, 5, "SPIEN"), (3, 1, "BODLEVEL0")]
    return {"name": name, "mcu": name.lower(), "signature": (0x1E, 0x94, 0x05),
            "flash": 16384, "page_words": 64, "eeprom": 512, "eeprom_page": 4, "fuse_count": 3,
            "libc_defaults": dict(defaults), "defaults": dict(defaults), "mends": [],
            "bits": list(bits)}


class ApplyingFacts(unittest.TestCase):
    def setUp(self):
        self.facts = generate_parts.parse_facts(FACTS)
        self.report = []
        self.parts = [libc_part("ATmega169", {1: 0x62, 2: 0x99, 3: 0xFF}),
                      libc_part("ATmega169PA", {1: 0x61, 2: 0x99, 3: 0xFF})]
        for part in self.parts:
            fact = self.facts.get(part["name"].lower())
            part["fact"] = fact or {}
            generate_parts.apply_facts(part, fact, self.report)
        self.row = generate_parts.join_rows(self.parts, self.report)

    def test_each_fact_wins_and_each_disagreement_is_reported_with_both_values(self):
        self.assertEqual(self.row["name"], "ATmega169/ATmega169PA")
        self.assertEqual(sorted(self.report), [
            ("ATmega169/ATmega169PA", "variants' ISP-ending bits (the row guards both)",
             "ATmega169: high.5=SPIEN", "ATmega169PA: high.5=SPIEN ext.0=RSTDISBL"),
            ("ATmega169PA", "EEPROM page bytes", "4", "none"),
            ("ATmega169PA", "ISP-ending bits", "high.5=SPIEN", "high.5=SPIEN ext.0=RSTDISBL"),
            ("ATmega169PA", "Poll RDY/BSY", "assumed", "none: wait t_WD"),
            ("ATmega169PA", "factory fuses", "low=61 high=99 ext=FF", "low=62 high=99 ext=FF"),
        ])

    def test_the_joined_row_guards_every_variants_bits_and_waits_for_any(self):
        self.assertEqual(self.row["ending"], [(2, 5, "SPIEN", ""), (3, 0, "RSTDISBL", "ATmega169PA")])
        self.assertIn((3, 0, "RSTDISBL"), self.row["bits"])
        self.assertFalse(self.row["poll"])
        self.assertEqual(self.row["twd"], {"erase": 9000, "flash": 4500, "eeprom": 9000,
                                           "fuse": 4500})
        self.assertEqual(self.row["eeprom_page"], 0)
        self.assertEqual(self.row["defaults"], {1: 0x62, 2: 0x99, 3: 0xFF})
        self.assertTrue(self.row["facts"])

    def test_clock_codes_and_ranges_are_read_with_their_kind(self):
        kinds = [generate_parts.clock_code(self.row["clock"], low)[1] for low in (0x62, 0x6C, 0x65)]
        self.assertEqual(kinds, ["i", "e", "r"])

    def test_a_malformed_fact_names_its_line(self):
        for bad in ("part X\nfuses low=6Z", "part X\nisp-ending high.9=SPIEN", "poll yes",
                    "part X\nclock high.3-0 0000=external clock", "part X\nsignature 1E 95"):
            with self.assertRaisesRegex(ValueError, "facts line"):
                generate_parts.parse_facts(bad)


if __name__ == "__main__":
    unittest.main()
