"""saverpack from the outside: every command on the demo saver and on broken inputs."""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SAVERPACK = sys.argv.pop(1)
SOURCE = sys.argv.pop(1)
DEMO = os.path.join(SOURCE, "demo", "saver")


def run(*args, check=None):
    proc = subprocess.run([SAVERPACK, *args], capture_output=True)
    if check is not None:
        assert proc.returncode == check, (args, proc.returncode, proc.stdout, proc.stderr)
    return proc


def text_of(output):
    """A program's output as text, its line ends as on Linux (Windows writes CRLF)."""
    return output.decode().replace("\r\n", "\n")


def central_records(data):
    """(offset, name) of each central-directory record, from the end record."""
    end = data.rindex(b"PK\x05\x06")
    count, _, start = struct.unpack_from("<HII", data, end + 10)
    records = []
    for _ in range(count):
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, start + 28)
        records.append((start, data[start + 46:start + 46 + name_len].decode()))
        start += 46 + name_len + extra_len + comment_len
    return records


def zip64_end(data):
    """The archive as a ZIP64 writer leaves it: ZIP64 end record and locator, maxima in the end
    record."""
    end = data.rindex(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    record = struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<IIQI", 0x07064b50, 0, end, 1)
    tail = bytearray(data[end:])
    struct.pack_into("<HHII", tail, 8, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
    return data[:end] + record + locator + bytes(tail)


# An animated WebP as a browser shows it, through Pillow: the canvas size, then for each frame its
# start and delay in milliseconds and the largest per-channel mean of its absolute difference from
# the PNG that argv[2] (JSON) names for that start, or null. Exits 77 without animated WebP.
WEBP_FRAMES = r"""
import json, sys
from PIL import Image, ImageChops, ImageStat, features
if not features.check("webp_anim"):
    sys.exit(77)
pngs = json.loads(sys.argv[2])
frames, start = [], 0
with Image.open(sys.argv[1]) as webp:
    for n in range(webp.n_frames):
        webp.seek(n)
        shown = webp.convert("RGB")
        diff = None
        if str(start) in pngs:
            with Image.open(pngs[str(start)]) as png:
                diff = max(ImageStat.Stat(ImageChops.difference(shown, png.convert("RGB"))).mean)
        frames.append([start, webp.info["duration"], diff])
        start += webp.info["duration"]
    print(json.dumps({"size": webp.size, "frames": frames}))
"""


def pillow_python():
    """An interpreter with Pillow: this one, or Debian's, where python3-pil installs it."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "import PIL.Image"], capture_output=True).returncode == 0:
            return python
    return None


class SaverpackTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="saverpack-test-")
        cls.dat = os.path.join(cls.tmp, "Quenvale_Demo.dat")
        run("build", DEMO, os.path.join(cls.tmp, "Quenvale Demo.scr"), check=0)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def source_files(self):
        found = {}
        for root, _, files in os.walk(DEMO):
            for f in files:
                path = os.path.join(root, f)
                found[os.path.relpath(path, DEMO).replace("/", "\\")] = path
        return found

    def test_list_shows_every_file_with_backslashes_encrypted(self):
        out = run("list", self.dat, check=0).stdout.decode().splitlines()
        rows = [line.split(None, 4) for line in out[1:-1]]
        self.assertEqual(sorted(r[4] for r in rows), sorted(self.source_files()))
        for size, packed, method, encrypted, name in rows:
            self.assertEqual(encrypted, "yes")
            self.assertIn(method, ("stored", "deflated"))
            self.assertEqual(int(size), os.path.getsize(self.source_files()[name]))
        self.assertEqual(out[-1], "%d entries" % len(rows))

    def test_extract_is_byte_identical(self):
        for name, path in self.source_files().items():
            data = run("extract", self.dat, name, check=0).stdout
            with open(path, "rb") as f:
                self.assertEqual(data, f.read(), name)
        out = os.path.join(self.tmp, "copy.txt")
        run("extract", self.dat, "SETTINGS.TXT", "-o", out, check=0)
        with open(out, "rb") as a, open(os.path.join(DEMO, "settings.txt"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_settings_json_in_store_order(self):
        entries = json.loads(run("settings", self.dat, "--json", check=0).stdout)
        self.assertEqual(entries[0], {"section": "general", "key": "title", "value": "Quenvale Demo"})
        keys = [(e["section"].lower(), e["key"]) for e in entries]
        self.assertEqual(len(keys), len(set(keys)))
        self.assertIn(("sets", "select"), keys)
        # The plain listing holds the same entries.
        text = run("settings", self.dat, check=0).stdout.decode().splitlines()
        self.assertEqual(len(text), len(entries))
        self.assertEqual(text[0], "[general] title=Quenvale Demo")

    def test_sets_per_mode(self):
        save = json.loads(run("sets", self.dat, "--json", check=0).stdout)
        preview = json.loads(run("sets", self.dat, "--json", "--mode", "preview", check=0).stdout)
        self.assertGreaterEqual(len(save), 3)
        self.assertEqual([s["name"] for s in save], [s["name"] for s in preview])
        for s in save:
            self.assertEqual(len(s["backgrounds"]), 1, s)
            self.assertTrue(all(p.lower().startswith("icons\\") and "thumbs" not in p.lower()
                                for p in s["pictures"]), s)
        for s in preview:
            self.assertTrue(all(p.lower().startswith("icons\\thumbs\\") for p in s["pictures"]), s)
        run("sets", self.dat, "--mode", "sideways", check=2)

    def test_demo_is_clean(self):
        self.assertIn(b"no problems found", run("check", DEMO, check=0).stdout)
        run("check", self.dat, check=0)

    def test_check_reports_what_a_saver_maker_must_fix(self):
        src = os.path.join(self.tmp, "broken")
        os.makedirs(os.path.join(src, "icons"))
        os.makedirs(os.path.join(src, "backgrounds"))
        with open(os.path.join(src, "settings.txt"), "wb") as f:
            f.write(b"\xef\xbb\xbf[general]\r\n[bounce]\r\nnrImages = 3\r\nSpeed=fast\r\n"
                    b"[general]\r\nurl=http://x.org\r\n[sets]\r\nSetTime=5\nselect=1\r\n")
        for name in ("icons/alpha.png", "backgrounds/beta.jpg", "notes.txt"):
            with open(os.path.join(src, name), "wb") as f:
                f.write(b"x")
        proc = run("check", src, check=1)
        out = proc.stdout.decode()
        for expected in ("byte-order mark", "blank around", "line ends without CR",
                         "\"//\"", "no \"title\"", "\"clock\" is missing", "\"Speed\" in [bounce] is not a whole number",
                         "notes.txt: outside", "set \"alpha\" has no background in save mode",
                         "set \"beta\" has no picture in icons for save mode",
                         "set \"alpha\" has no background and no picture in icons\\thumbs",
                         "set \"beta\" has no picture in icons\\thumbs for preview mode"):
            self.assertIn(expected, out)

    def test_wrong_password_missing_and_damaged_files(self):
        proc = run("settings", self.dat, "--scr", "Other.scr", check=2)
        self.assertEqual(len(proc.stderr.splitlines()), 1)
        self.assertIn(b"wrong password", proc.stderr)
        self.assertIn(self.dat.encode(), proc.stderr)
        run("extract", self.dat, "settings.txt", "--scr", "Other.scr", check=2)

        proc = run("list", os.path.join(self.tmp, "missing.dat"), check=2)
        self.assertIn(b"no such file", proc.stderr)

        damaged = os.path.join(self.tmp, "Damaged.dat")
        with open(self.dat, "rb") as f:
            data = f.read()
        for cut in (len(data) // 2, len(data) - 10, 30):
            with open(damaged, "wb") as f:
                f.write(data[:cut])
            for command in ("list", "settings", "sets", "check"):
                proc = run(command, damaged)
                self.assertEqual(proc.returncode, 2, (command, cut, proc.stderr))
                self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
                self.assertIn(damaged.encode(), proc.stderr)

    def test_archive_faults_are_named_on_one_line(self):
        with open(self.dat, "rb") as f:
            data = f.read()
        records = central_records(data)
        rec = next(o for o, n in records if n == "settings.txt")
        other_offset, other_name = next((o, n) for o, n in records if n != "settings.txt")
        other_local = struct.unpack_from("<I", data, other_offset + 42)[0]

        def patched(fmt, at, *values):
            out = bytearray(data)
            struct.pack_into(fmt, out, rec + at, *values)
            return bytes(out)

        crc = struct.unpack_from("<I", data, rec + 16)[0]
        flag = struct.unpack_from("<H", data, rec + 8)[0]
        cases = [("CRC mismatch in settings.txt", patched("<I", 16, crc ^ 1)),
                 ("unsupported strong encryption in settings.txt", patched("<H", 8, flag | 0x40)),
                 ("unsupported ZIP64 sizes in settings.txt",
                  patched("<II", 20, 0xFFFFFFFF, 0xFFFFFFFF)),
                 ("ZIP64 archives are not supported", zip64_end(data)),
                 # Read through another entry's bytes, the password check would fail.
                 ("overlapping entries settings.txt and " + other_name.replace("/", "\\"),
                  patched("<I", 42, other_local))]
        cases += [("unsupported compression method %d in settings.txt" % m, patched("<H", 10, m))
                  for m in (6, 9, 12, 14, 93, 98, 99)]
        damaged = os.path.join(self.tmp, "Quenvale_Demo_Fault.dat")
        for cause, content in cases:
            with open(damaged, "wb") as f:
                f.write(content)
            for command in (["settings", damaged], ["extract", damaged, "settings.txt"]):
                proc = run(*command, "--scr", "Quenvale Demo.scr", check=2)
                self.assertEqual(text_of(proc.stderr), "saverpack: %s: %s\n" % (damaged, cause),
                                 command)
        # A settings entry that is not there is still reported as missing.
        with open(damaged, "wb") as f:
            f.write(patched("12s", 46, b"settingz.txt"))
        proc = run("settings", damaged, "--scr", "Quenvale Demo.scr", check=2)
        self.assertIn(b"no settings.txt in it", proc.stderr)

    def test_build_with_engine_and_failure_keeps_old_file(self):
        out = os.path.join(self.tmp, "ship")
        engine = os.path.join(self.tmp, "engine.bin")
        with open(engine, "wb") as f:
            f.write(b"MZ engine")
        run("build", DEMO, os.path.join(out, "My Saver.scr"), "--engine", engine, check=0)
        with open(os.path.join(out, "My Saver.scr"), "rb") as f:
            self.assertEqual(f.read(), b"MZ engine")
        dat = os.path.join(out, "My_Saver.dat")
        run("settings", dat, check=0)
        with open(dat, "rb") as f:
            before = f.read()
        # A source that cannot be packed leaves the earlier data file as it was.
        run("build", os.path.join(self.tmp, "no-such-folder"), os.path.join(out, "My Saver.scr"), check=2)
        with open(dat, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(sorted(os.listdir(out)), ["My Saver.scr", "My_Saver.dat"])

    def test_decode_demo_pictures_like_imagemagick(self):
        if not shutil.which("convert"):
            self.skipTest("no ImageMagick")

        def rgba(path):
            return subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True,
                                  check=True).stdout

        for name, path in self.source_files().items():
            if name == "settings.txt":
                continue
            out = os.path.join(self.tmp, "decoded.png")
            proc = run("decode", path, out, check=0)
            self.assertIn(b"by content" if not name.lower().endswith((".bmp", ".jpg")) else b"by extension",
                          proc.stdout, name)
            ours, theirs = rgba(out), rgba(path)
            self.assertEqual(len(ours), len(theirs), name)
            # Both use libjpeg for JPEG; allow for a different IDCT, nothing else.
            tolerance = 2 if name.lower().endswith(".jpg") else 0
            worst = max((abs(a - b) for a, b in zip(ours, theirs)), default=0)
            self.assertLessEqual(worst, tolerance, name)
            # The netpbm forms carry the same samples; a PPM only for an opaque picture.
            pam = os.path.join(self.tmp, "decoded.pam")
            run("decode", path, pam, check=0)
            self.assertEqual(rgba(pam), ours, name)
            ppm = os.path.join(self.tmp, "decoded.ppm")
            with_alpha = b" with alpha" in proc.stdout
            run("decode", path, ppm, check=2 if with_alpha else 0)
            if not with_alpha:
                self.assertEqual(rgba(ppm), ours, name)

    def test_decode_failures_are_one_line(self):
        junk = os.path.join(self.tmp, "junk.bin")
        with open(junk, "wb") as f:
            f.write(b"\x00" * 64)
        proc = run("decode", junk, os.path.join(self.tmp, "x.png"), check=2)
        self.assertIn(b"no content test recognises it", proc.stderr)
        # Named as a GIF, the GIF decoder gets it and says what is wrong.
        proc = run("decode", junk, os.path.join(self.tmp, "x.png"), "--name", "junk.gif", check=2)
        self.assertEqual(len(proc.stderr.splitlines()), 1)
        self.assertIn(b"GIF", proc.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x.png")))
        # A PPM has no alpha channel: a picture with alpha is refused, not flattened.
        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        rgba = os.path.join(self.tmp, "rgba.png")
        with open(rgba, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 6, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(b"\x00\x10\x20\x30\x80")) + chunk(b"IEND", b""))
        proc = run("decode", rgba, os.path.join(self.tmp, "x.ppm"), check=2)
        self.assertIn(b"has alpha, which a PPM cannot hold", proc.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x.ppm")))

    def render(self, name, *args):
        out = os.path.join(self.tmp, name)
        proc = run("render", self.dat, out, *args, check=0)
        frames = sorted(os.listdir(out))
        contents = []
        for f in frames:
            with open(os.path.join(out, f), "rb") as fh:
                contents.append(fh.read())
        return proc.stdout.decode(), frames, contents

    def test_render_repeats_for_a_seed_and_moves_the_sprites(self):
        out, frames, first = self.render("r1", "--frames", "3", "--size", "320x200", "--seed", "9")
        self.assertEqual(frames, ["frame-00001.png", "frame-00002.png", "frame-00003.png"])
        self.assertIn("3 frames of 320x200", out)
        _, _, again = self.render("r2", "--frames", "3", "--size", "320x200", "--seed", "9")
        self.assertEqual(first, again)
        self.assertNotEqual(first[0], first[2], "the sprites move between frames")
        _, _, other = self.render("r3", "--frames", "3", "--size", "320x200", "--seed", "10")
        self.assertNotEqual(first, other)
        # Decoding our own PNG shows the requested size.
        decoded = run("decode", os.path.join(self.tmp, "r1", "frame-00001.png"),
                      os.path.join(self.tmp, "r1.png"), check=0).stdout
        self.assertIn(b"320x200", decoded)

    def test_render_preview_and_a_named_set(self):
        out, frames, _ = self.render("p", "--preview", "--frames", "1", "--set", "reef")
        self.assertIn("1 frames of 152x112 (preview), set \"reef\"", out)
        proc = run("render", self.dat, os.path.join(self.tmp, "bad"), "--set", "nosuchset", check=2)
        self.assertIn(b"no image set named", proc.stderr)
        for bad in (["--size", "0x10"], ["--size", "wide"], ["--frames", "-1"]):
            proc = run("render", self.dat, os.path.join(self.tmp, "bad"), *bad, check=2)
            self.assertEqual(len(proc.stderr.splitlines()), 1, bad)

    def test_render_webp_shows_each_frame_at_its_time(self):
        proc = run("render", self.dat, "--webp", os.path.join(self.tmp, "probe.webp"),
                   "--frames", "1", "--size", "16x16")
        if b"built without WebP support" in proc.stderr:
            self.skipTest("this saverpack has no WebP (the Windows build)")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        python = pillow_python()
        if python is None:
            self.skipTest("no Pillow")
        frames = 30
        # Frame i (from 0) of a render is at i/60 s: the WebP's frames must start at such times
        # and show those frames, and together last the render's length however many it keeps.
        png_at = {round(i * 1000 / 60): "frame-%05d.png" % (i + 1) for i in range(frames)}
        for args, size, fps in ((["--size", "320x240"], (320, 240), None),
                                (["--size", "320x240", "--fps", "60"], (320, 240), 60),
                                (["--preview", "--fps", "12"], (152, 112), 12)):
            out = os.path.join(self.tmp, "webp-frames")
            shutil.rmtree(out, ignore_errors=True)
            webp = os.path.join(self.tmp, "render.webp")
            run("render", self.dat, out, "--webp", webp, "--frames", str(frames), *args, check=0)
            pngs = {str(t): os.path.join(out, name) for t, name in png_at.items()}
            decoded = subprocess.run([python, "-c", WEBP_FRAMES, webp, json.dumps(pngs)],
                                     capture_output=True)
            if decoded.returncode == 77:
                self.skipTest("Pillow without animated WebP")
            self.assertEqual(decoded.returncode, 0, decoded.stderr)
            info = json.loads(decoded.stdout)
            self.assertEqual(tuple(info["size"]), size, args)
            self.assertGreater(len(info["frames"]), 1, args)
            self.assertEqual(sum(d for _, d, _ in info["frames"]), round(frames * 1000 / 60), args)
            for start, delay, diff in info["frames"]:
                self.assertIsNotNone(diff, (args, start, "starts between render frames"))
                self.assertLess(diff, 6, (args, start))
                if fps is not None:
                    self.assertLessEqual(abs(delay - 1000 / fps), 1, (args, start, delay))
            # Without OUT_DIR the same WebP and no frames.
            with open(webp, "rb") as f:
                first = f.read()
            os.remove(webp)
            shutil.rmtree(out)
            run("render", self.dat, "--webp", webp, "--frames", str(frames), *args, check=0)
            self.assertFalse(os.path.exists(out))
            with open(webp, "rb") as f:
                self.assertEqual(f.read(), first, args)
        # A folder that is not there is named before anything is drawn, on one line.
        missing = os.path.join(self.tmp, "no-such-folder", "x.webp")
        proc = run("render", self.dat, "--webp", missing, check=2)
        self.assertEqual(text_of(proc.stderr).count("\n"), 1)
        self.assertIn(missing.encode(), proc.stderr)

    def test_render_names_the_setting_that_is_not_a_number(self):
        src = os.path.join(self.tmp, "bad-default")
        shutil.copytree(DEMO, src)
        path = os.path.join(src, "settings.txt")
        with open(path, "rb") as f:
            text = f.read()
        with open(path, "wb") as f:
            f.write(re.sub(rb"(?m)^nrImages=\d+", b"nrImages=abc", text))
        run("build", src, os.path.join(self.tmp, "Bad Default.scr"), check=0)
        dat = os.path.join(self.tmp, "Bad_Default.dat")
        proc = run("render", dat, os.path.join(self.tmp, "bad-frames"), "--frames", "1", check=2)
        self.assertEqual(text_of(proc.stderr), "saverpack: %s: %s\n" % (
            dat, "bounce nrImages: 'abc' is not a valid integer value"))

    def test_usage_errors(self):
        self.assertEqual(run().returncode, 2)
        run("frobnicate", check=2)
        run("list", check=2)
        run("list", self.dat, "--bogus", check=2)
        run("--help", check=0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
