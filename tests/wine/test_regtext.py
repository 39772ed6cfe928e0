"""Tests of the registry text reader that the Wine end-to-end tests compare
with: the emulation's REGEDIT4 and Wine's UTF-16 exports of the same keys
must read the same, and a real change must show."""
import unittest

import regtext

REGEDIT4 = (b'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n'
            b'"Driver"="hdc\\\\0000"\r\n"Quote"="say \\"hi\\""\r\n'
            b'"Flags"=hex:00,01,\\\r\n  02\r\n"Count"=dword:0000000a\r\n'
            b'"Path"=hex(2):25,57,49,4e,25,00\r\n@="caf\xe9"\r\n')

UNICODE = ('\ufeffWindows Registry Editor Version 5.00\r\n\r\n'
           '[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n@="caf\u00e9"\r\n'
           '"count"=dword:0000000a\r\n"driver"="hdc\\\\0000"\r\n'
           '"Flags"=hex:00,01,02\r\n'
           '"Path"=hex(2):25,00,57,00,49,00,4e,00,25,00,00,00\r\n'
           '"Quote"="say \\"hi\\""\r\n').encode("utf-16-le")


class ParseTest(unittest.TestCase):
    def test_both_forms_read_the_same(self):
        emulated = regtext.parse(REGEDIT4)
        wine = regtext.parse(UNICODE)
        self.assertEqual(regtext.compare(emulated, wine), [])
        values = emulated["hkey_local_machine\\enum\\pci"][1]
        self.assertEqual(values["driver"], ("Driver", 1, b"hdc\\0000\0"))
        self.assertEqual(values["quote"][2], b'say "hi"\0')
        self.assertEqual(values["flags"][1:], (3, b"\0\x01\x02"))
        self.assertEqual(values["count"][2], b"\n\0\0\0")
        self.assertEqual(values["path"][1:], (2, b"%WIN%\0"))

    def test_changes_show(self):
        changed = REGEDIT4.replace(b"dword:0000000a", b"dword:0000000b")
        lines = regtext.compare(regtext.parse(REGEDIT4),
                                regtext.parse(changed + b"[HKEY_USERS]\r\n"))
        self.assertIn('-     "Count"=dword:0000000a', lines)
        self.assertIn('+     "Count"=dword:0000000b', lines)
        self.assertIn("+ [HKEY_USERS] (key not expected)", lines)

    def test_type_counts(self):
        # The same bytes as a string and as binary data are not the same.
        a = regtext.parse(b'REGEDIT4\r\n[K]\r\n"V"="ab"\r\n')
        b = regtext.parse(b'REGEDIT4\r\n[K]\r\n"V"=hex:61,62,00\r\n')
        self.assertNotEqual(regtext.compare(a, b), [])

    def test_subtree(self):
        keys = regtext.parse(b'REGEDIT4\r\n[A\\B]\r\n[A\\BC]\r\n[A\\B\\D]\r\n')
        self.assertEqual(sorted(regtext.subtree(keys, "a\\b")),
                         ["a\\b", "a\\b\\d"])

    def test_malformed(self):
        with self.assertRaises(regtext.RegFormatError):
            regtext.parse(b'REGEDIT4\r\n"V"="outside a key"\r\n')
        with self.assertRaises(regtext.RegFormatError):
            regtext.parse(b'REGEDIT4\r\n[K]\r\n"V"=strange:1\r\n')


if __name__ == "__main__":
    unittest.main()
