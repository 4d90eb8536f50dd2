"""Frames that must not change: `saverpack render` of the demo saver and of variants of it (preview,
no bouncing logos, stretched and unstretched backgrounds, each clock mode, set changes), with
fixed seeds. Each case's pixels are hashed as RGB, so that how the PNG is written does not matter.
A change to any hash is a change to what users see: if it is meant, say why in the commit and
replace the hash with the one the failure reports.

Text is drawn with the fonts the setup script installs (Liberation for Arial), so the hashes
hold on Linux only."""
import hashlib
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

# name, settings changed from the demo's, render arguments, the frames hashed (all when None),
# and the sha256 of those frames' RGB pixels.
CASES = [
    ("demo", {}, ["--size", "480x300", "--frames", "3", "--seed", "7"], None,
     "d21dd776d7202278bfa3fcab2ae771b6828615252a9d67f3ee88e673763a9cc8"),
    ("preview", {}, ["--preview", "--frames", "3", "--seed", "3"], None,
     "b9440737509d18efd3e48abaf4624e716774de91669748e967daf296aa8b387d"),
    ("no_bouncing_logos", {"noBouncingLogos": "true"}, ["--size", "480x300", "--frames", "2"],
     None, "478130407e2718c1faa6c4e5611e03def536c955c0deac8282da15dcdee42ce4"),
    ("stretched_backgrounds", {"clock": "0", "filename": "1"},
     ["--size", "800x500", "--frames", "2", "--seed", "5", "--set", "orchard"], None,
     "72113e9255232ad030ecafc3eac5f6299a7b415202640b68607baa750e2ef2a5"),
    ("unstretched_backgrounds", {"stretchSmallImages": "false", "clock": "0"},
     ["--size", "800x500", "--frames", "2", "--seed", "5", "--set", "orchard"], None,
     "629898f23e197b94065bbeff239bb8fcc695b0cb33e3dd2f94b3c50941e2502c"),
    ("running_time_clock", {"clock": "2", "BackgroundColor": "$00A0FF", "showBackground": "false"},
     ["--size", "320x200", "--frames", "3", "--seed", "11"], None,
     "90a3c01b9b6ba31cf442365066c22651784bbb8033e1a09f7b085210e56a28eb"),
    # A set change every second (60 frames), many fast pictures bouncing off each other.
    ("set_changes", {"SetTime": "1", "nrImages": "40", "Speed": "9", "fixedSpeed": "true"},
     ["--size", "320x240", "--frames", "125", "--seed", "2"], [1, 60, 61, 121, 125],
     "54c90aee1d375ec0ea4378bcde92a8df0efa05a16736f1d9dffd6cacd8b5f085"),
]


def png_rgb(data):
    """The pixels of an 8-bit RGB or RGBA PNG, as RGB bytes (alpha must be opaque)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, header
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                nearest = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[i] = (row[i] + nearest) & 0xFF
        rows.append(bytes(row))
        previous = row
    pixels = b"".join(rows)
    if channels == 4:
        assert all(a == 0xFF for a in pixels[3::4]), "a frame with transparent pixels"
        pixels = bytes(b for i, b in enumerate(pixels) if i % 4 != 3)
    return width, height, pixels


class ReferenceFramesTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="reference-frames-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_frames_are_unchanged(self):
        with open(os.path.join(DEMO, "settings.txt"), "rb") as f:
            demo_settings = f.read()
        for name, changes, args, hashed, expected in CASES:
            with self.subTest(name):
                source = os.path.join(self.tmp, name)
                shutil.copytree(DEMO, source)
                text = demo_settings
                for key, value in changes.items():
                    text, n = re.subn(rb"(?m)^%s=[^\r\n]*" % key.encode(),
                                      b"%s=%s" % (key.encode(), value.encode()), text,
                                      count=1)  # the first: the [language] texts come last
                    self.assertEqual(n, 1, key)
                with open(os.path.join(source, "settings.txt"), "wb") as f:
                    f.write(text)
                subprocess.run([SAVERPACK, "build", source,
                                os.path.join(self.tmp, "Reference Saver.scr")],
                               check=True, capture_output=True)
                out = os.path.join(self.tmp, name + "-frames")
                subprocess.run([SAVERPACK, "render", os.path.join(self.tmp, "Reference_Saver.dat"),
                                out, *args], check=True, capture_output=True)
                digest = hashlib.sha256()
                frames = sorted(os.listdir(out))
                if hashed is not None:
                    frames = [frames[i - 1] for i in hashed]
                for frame in frames:
                    with open(os.path.join(out, frame), "rb") as f:
                        width, height, pixels = png_rgb(f.read())
                    digest.update(b"%dx%d;" % (width, height))
                    digest.update(pixels)
                self.assertEqual(digest.hexdigest(), expected)


if __name__ == "__main__":
    unittest.main()
