"""The API differential's comparison: what it lets pass and what it
fails."""
import importlib.machinery
import importlib.util
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
_loader = importlib.machinery.SourceFileLoader(
    "run_api_differential", str(HERE / "run-api-differential"))
_spec = importlib.util.spec_from_loader(_loader.name, _loader)
differential = importlib.util.module_from_spec(_spec)
_loader.exec_module(differential)

KNOWN = """# a comment
[ver.build] the build number
native: high-word=0xC3B6
wine: high-word=0xC000

[rmdir.root] the builds disagree
native: ret=0 err=32
wine: ret=0 err=145
wine: ret=0 err=32
"""


class Comparison(unittest.TestCase):
    def setUp(self):
        self.known = differential.parse_known(KNOWN)
        self.native = differential.parse_log(
            "start:\r\nver.build: high-word=0xC3B6\r\n"
            "rmdir.root: ret=0 err=32\r\nend: scratch-left=0xFFFFFFFF\r\n")

    def wine(self, **changes):
        lines = dict(self.native, **{"ver.build": "high-word=0xC000"})
        lines.update(changes)
        return lines

    def test_listed_differences_pass_and_are_counted(self):
        self.assertEqual(differential.compare(self.native, self.wine(),
                                              self.known), ([], 1))
        wine32 = self.wine(**{"rmdir.root": "ret=0 err=145"})
        self.assertEqual(differential.compare(self.native, wine32,
                                              self.known), ([], 2))

    def test_an_unlisted_difference_fails(self):
        problems, _ = differential.compare(
            self.native, self.wine(end="scratch-left=0x10"), self.known)
        self.assertEqual(len(problems), 1)
        self.assertIn("differs: end", problems[0])

    def test_a_listed_difference_that_changed_or_went_fails(self):
        problems, _ = differential.compare(
            self.native, self.wine(**{"ver.build": "high-word=0xC001"}),
            self.known)
        self.assertIn("changed from its listing: ver.build", problems[0])
        problems, _ = differential.compare(
            self.native, dict(self.native), self.known)
        self.assertEqual(problems,
                         ["listed but agrees now: ver.build: "
                          "high-word=0xC3B6"])

    def test_a_case_on_one_side_only_fails(self):
        wine = self.wine()
        del wine["end"]
        problems, _ = differential.compare(self.native, wine, self.known)
        self.assertIn("differs: end", problems[0])

    def test_the_listing_is_read_strictly(self):
        with self.assertRaises(ValueError):
            differential.parse_known("[a.b] why\nnative: x\n")
        with self.assertRaises(ValueError):
            differential.parse_known("[a.b] why\nnative: x\nwine: y\n"
                                     "[a.b] again\nnative: x\nwine: y\n")
        with self.assertRaises(ValueError):
            differential.parse_known("stray line\n")

    def test_the_listing_beside_the_runner_reads(self):
        known = differential.parse_known(differential.KNOWN.read_text())
        self.assertIn("ver.build", known)


if __name__ == "__main__":
    unittest.main()
