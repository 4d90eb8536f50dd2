"""Real peers: Info-ZIP and Python's zipfile read what saverpack writes, and saverpack reads
what Info-ZIP writes."""
import json
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


# The same three sets, as each maker of ZIP archives names them.
ACCENTED_SETS = ["Café Crème", "Ölbild", "naïve"]


def accented_source(folder):
    """A saver whose sets have accented names: the demo's settings and one set's pictures."""
    os.makedirs(os.path.join(folder, "backgrounds"))
    os.makedirs(os.path.join(folder, "icons", "thumbs"))
    shutil.copy(os.path.join(DEMO, "settings.txt"), folder)
    for name in ACCENTED_SETS:
        shutil.copy(os.path.join(DEMO, "backgrounds", "reef.png"),
                    os.path.join(folder, "backgrounds", name + ".png"))
        shutil.copy(os.path.join(DEMO, "icons", "aurora.png"), os.path.join(folder, "icons", name + ".png"))
        shutil.copy(os.path.join(DEMO, "icons", "thumbs", "aurora.png"),
                    os.path.join(folder, "icons", "thumbs", name + ".png"))
    return folder


class AccentedNamesTest(unittest.TestCase):
    """Archives from four makers give the same set names, and the names look the entries up."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="saverpack-names-")
        self.source = accented_source(os.path.join(self.tmp, "src"))

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def files(self):
        return sorted(os.path.relpath(os.path.join(root, f), self.source).replace(os.sep, "/")
                      for root, _, files in os.walk(self.source) for f in files)

    def ours(self, dat):
        subprocess.run([SAVERPACK, "build", self.source, dat[:-4] + ".scr"], check=True,
                       capture_output=True)

    def infozip(self, dat):
        # Info-ZIP on Linux stores the file system's UTF-8 names as they are, without the flag.
        subprocess.run(["zip", "-q", "-r", "-P", PASSWORD, os.path.abspath(dat), "."], cwd=self.source,
                       check=True)

    def python(self, dat):
        with zipfile.ZipFile(dat, "w", zipfile.ZIP_DEFLATED) as z:
            for name in self.files():
                z.write(os.path.join(self.source, name), name)

    def oem(self, dat):
        # Windows' compressed folders: code-page-850 names from an MS-DOS host, no flag. zipfile
        # writes UTF-8 for anything beyond ASCII, so write placeholders and put the OEM bytes in.
        placeholders = {}
        with zipfile.ZipFile(dat, "w", zipfile.ZIP_DEFLATED) as z:
            for name in self.files():
                oem = name.encode("cp850")
                stand_in = "".join(c if ord(c) < 128 else "~" for c in name)
                placeholders[stand_in.encode("ascii")] = oem
                info = zipfile.ZipInfo(stand_in, date_time=(2024, 1, 1, 0, 0, 0))
                info.create_system = 0
                with open(os.path.join(self.source, name), "rb") as fh:
                    z.writestr(info, fh.read())
        data = open(dat, "rb").read()
        for stand_in, oem in placeholders.items():
            self.assertEqual(len(stand_in), len(oem))
            data = data.replace(stand_in, oem)
        open(dat, "wb").write(data)

    def test_every_maker_gives_the_same_set_names(self):
        makers = [("saverpack", self.ours), ("python", self.python), ("oem", self.oem)]
        if shutil.which("zip"):
            makers.append(("infozip", self.infozip))
        frames = {}
        for label, make in makers:
            with self.subTest(maker=label):
                dat = os.path.join(self.tmp, "Quenvale_Demo-%s.dat" % label)
                make(dat)
                sets = subprocess.run([SAVERPACK, "sets", dat, "--json", "--scr", "Quenvale Demo.scr"],
                                      capture_output=True)
                self.assertEqual(sets.returncode, 0, sets.stderr)
                listed = json.loads(sets.stdout.decode("utf-8"))
                # Set names are lower case in the ASCII letters only.
                ascii_lower = {"".join(c.lower() if c < "\x80" else c for c in n): n for n in ACCENTED_SETS}
                self.assertEqual(sorted(s["name"] for s in listed), sorted(ascii_lower))
                for s in listed:
                    self.assertEqual(s["pictures"], ["icons\\" + ascii_lower[s["name"]] + ".png"])
                # Any letter's case finds the entry, as the engine looks pictures up.
                got = subprocess.run([SAVERPACK, "extract", dat, "ICONS/NAÏVE.PNG", "--scr",
                                      "Quenvale Demo.scr"], capture_output=True)
                self.assertEqual(got.returncode, 0, got.stderr)
                with open(os.path.join(self.source, "icons", "naïve.png"), "rb") as fh:
                    self.assertEqual(got.stdout, fh.read())
                # The set picked by its name, its name drawn over it: the same frame from each.
                out = os.path.join(self.tmp, "frames-" + label)
                render = subprocess.run([SAVERPACK, "render", dat, out, "--frames", "1", "--size", "320x240",
                                         "--set", "café crème", "--scr", "Quenvale Demo.scr"],
                                        capture_output=True)
                self.assertEqual(render.returncode, 0, render.stderr)
                with open(os.path.join(out, "frame-00001.png"), "rb") as fh:
                    frames[label] = fh.read()
        self.assertEqual(len(set(frames.values())), 1, "the makers' frames differ")

    def test_a_name_windows_1252_cannot_hold_stops_build_and_check(self):
        shutil.copy(os.path.join(DEMO, "icons", "aurora.png"), os.path.join(self.source, "icons", "Łódź.png"))
        scr = os.path.join(self.tmp, "out", "Quenvale Demo.scr")
        build = subprocess.run([SAVERPACK, "build", self.source, scr], capture_output=True)
        self.assertEqual(build.returncode, 2)
        self.assertRegex(build.stderr.decode("utf-8", "replace"), r"icons/.*d.\.png: .* \(U\+0141\)")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "out", "Quenvale_Demo.dat")))
        check = subprocess.run([SAVERPACK, "check", self.source], capture_output=True)
        self.assertEqual(check.returncode, 1)
        self.assertIn("(U+0141)", check.stdout.decode("utf-8", "replace"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
