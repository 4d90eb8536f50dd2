"""Real peers: Info-ZIP and Python's zipfile read what saverpack writes, and saverpack reads
what Info-ZIP writes."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

SAVERPACK = sys.argv.pop(1)
SOURCE = sys.argv.pop(1)
DEMO = os.path.join(SOURCE, "demo", "saver")
# The password for "Quenvale Demo.scr": the fixed word and "QUENV".
PASSWORD = "quenvalQUENV"


def source_files(folder):
    found = {}
    for root, _, files in os.walk(folder):
        for f in files:
            path = os.path.join(root, f)
            with open(path, "rb") as fh:
                found[os.path.relpath(path, folder)] = fh.read()
    return found


class PeersTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="saverpack-peers-")
        subprocess.run([SAVERPACK, "build", DEMO, os.path.join(self.tmp, "Quenvale Demo.scr")],
                       check=True, capture_output=True)
        self.dat = os.path.join(self.tmp, "Quenvale_Demo.dat")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_python_zipfile_reads_our_archive(self):
        with zipfile.ZipFile(self.dat) as z:
            self.assertIsNone(z.testzip.__self__ and None)
            names = z.namelist()
            self.assertEqual(sorted(names), sorted(source_files(DEMO)))
            for info in z.infolist():
                self.assertTrue(info.flag_bits & 1, info.filename)
                self.assertEqual(z.read(info, pwd=PASSWORD.encode()), source_files(DEMO)[info.filename])
            with self.assertRaises(RuntimeError):
                z.read(names[0], pwd=b"quenvalWRONG")

    def test_infozip_unzip_reads_our_archive(self):
        if not shutil.which("unzip"):
            self.skipTest("unzip is not installed")
        out = os.path.join(self.tmp, "out")
        proc = subprocess.run(["unzip", "-q", "-P", PASSWORD, self.dat, "-d", out], capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(source_files(out), source_files(DEMO))
        test = subprocess.run(["unzip", "-t", "-P", PASSWORD, self.dat], capture_output=True)
        self.assertEqual(test.returncode, 0, test.stdout)

    def test_we_read_infozip_archives(self):
        if not shutil.which("zip"):
            self.skipTest("zip is not installed")
        for level in ("-0", "-9"):
            work = os.path.join(self.tmp, "src" + level)
            shutil.copytree(DEMO, work)
            dat = os.path.join(self.tmp, "Peer_Saver%s.dat" % level)
            # Folder entries included (zip adds them unless -D).
            subprocess.run(["zip", "-q", "-r", level, "-e", "-P", "quenvalPEER ", dat, "."],
                           cwd=work, check=True)
            listing = subprocess.run([SAVERPACK, "list", dat], capture_output=True, check=True)
            names = [line.split(None, 4)[4] for line in listing.stdout.decode().splitlines()[1:-1]]
            self.assertEqual(sorted(names), sorted(n.replace("/", "\\") for n in source_files(DEMO)))
            for name, data in source_files(DEMO).items():
                got = subprocess.run([SAVERPACK, "extract", dat, name], capture_output=True)
                self.assertEqual(got.returncode, 0, got.stderr)
                self.assertEqual(got.stdout, data, name)
            sets = subprocess.run([SAVERPACK, "sets", dat], capture_output=True)
            self.assertEqual(sets.returncode, 0, sets.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
