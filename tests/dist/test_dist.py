#!/usr/bin/python3
"""scripts/dist's archive, SHA256SUMS and readme, and the checks that make dist
relies on to fail: the faults that would let a release differ from build to
build, or let a difference through unnoticed."""

import calendar
import importlib.machinery
import importlib.util
import os
import shutil
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
_loader = importlib.machinery.SourceFileLoader("dist", str(ROOT / "scripts" / "dist"))
_spec = importlib.util.spec_from_loader("dist", _loader)
dist = importlib.util.module_from_spec(_spec)
_loader.exec_module(dist)

EPOCH = calendar.timegm((2001, 2, 3, 4, 5, 6))


def fake_pe(stamp=0, tail=b""):
    """The smallest bytes pe_fields accepts: an MZ stub pointing at a PE header."""
    data = bytearray(0x200)
    data[0:2] = b"MZ"
    data[0x3C:0x40] = (0x80).to_bytes(4, "little")
    data[0x80:0x84] = b"PE\0\0"
    data[0x88:0x8C] = stamp.to_bytes(4, "little")
    return bytes(data) + tail


class Release(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="kavrelo-dist-test-"))
        self.addCleanup(shutil.rmtree, self.tmp)
        # A time zone far from UTC: the dates must not depend on it.
        old_tz = os.environ.get("TZ")
        os.environ["TZ"] = "UTC-14"
        time.tzset()
        self.addCleanup(self.restore_tz, old_tz)

    @staticmethod
    def restore_tz(old_tz):
        if old_tz is None:
            os.environ.pop("TZ", None)
        else:
            os.environ["TZ"] = old_tz
        time.tzset()

    def release(self, folder, mtime=None):
        """make_release on an executable written into folder, dated mtime."""
        folder.mkdir(parents=True)
        exe = folder / "Kavrelo.exe"
        exe.write_bytes(fake_pe(tail=b"x" * 999))
        if mtime is not None:
            os.utime(exe, (mtime, mtime))
        return dist.make_release(ROOT, exe, folder / "out", EPOCH, "1.0")

    def test_same_bytes_whatever_the_folder_and_file_times(self):
        a_zip, a_sums = self.release(self.tmp / "a", mtime=1_600_000_000)
        b_zip, b_sums = self.release(self.tmp / "another" / "folder", mtime=1_700_000_123)
        self.assertEqual(a_zip.read_bytes(), b_zip.read_bytes())
        self.assertEqual(a_sums.read_bytes(), b_sums.read_bytes())

    def test_entries_order_dates_and_attributes(self):
        archive, _ = self.release(self.tmp / "a", mtime=1_700_000_000)
        self.assertEqual(archive.name, "Kavrelo-1.0-win32.zip")
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos], ["Kavrelo.exe", "README.txt"])
            for info in infos:
                # The epoch given, not the file's time nor the time of the run.
                self.assertEqual(info.date_time, (2001, 2, 3, 4, 5, 6), info.filename)
                self.assertEqual(info.create_system, 0, info.filename)
                self.assertEqual(info.external_attr, 0x20, info.filename)
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
            self.assertEqual(z.read("Kavrelo.exe"), (self.tmp / "a" / "Kavrelo.exe").read_bytes())

    def test_dates_before_1980_become_1980(self):
        path = self.tmp / "old.zip"
        dist.write_archive(path, [("a", b"a")], 0)
        with zipfile.ZipFile(path) as z:
            self.assertEqual(z.infolist()[0].date_time, (1980, 1, 1, 0, 0, 0))

    def test_sha256sum_checks_the_archive_and_what_it_holds(self):
        archive, sums = self.release(self.tmp / "a")
        self.assertEqual([line.split("  ")[1] for line in sums.read_text().splitlines()],
                         [archive.name, "Kavrelo.exe"])
        dist.verify_sums(archive, sums)  # sha256sum -c, after unzipping
        # ... and it notices a change.
        text = sums.read_text()
        sums.write_text(("1" if text[0] == "0" else "0") + text[1:])
        with self.assertRaises(dist.DistError):
            dist.verify_sums(archive, sums)

    def test_readme(self):
        archive, _ = self.release(self.tmp / "a")
        with zipfile.ZipFile(archive) as z:
            data = z.read("README.txt")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), "no UTF-8 byte-order mark")
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "a line does not end in CRLF")
        text = data.decode("utf-8")
        self.assertNotIn("@VERSION@", text)
        self.assertTrue(text.lstrip("\ufeff").startswith("Kavrelo 1.0\r\n"))
        for needed in ("F1", "active", "Home", "SimSun", "East Asian languages", "Windows XP", "64-bit",
                       "sha256sum -c SHA256SUMS", "未设置窗口"):
            self.assertIn(needed, text)


class Checks(unittest.TestCase):
    def test_compare_names_the_file_and_the_pe_field(self):
        with tempfile.TemporaryDirectory() as tmp:
            a, b = Path(tmp, "a.exe"), Path(tmp, "b.exe")
            a.write_bytes(fake_pe(stamp=0))
            b.write_bytes(fake_pe(stamp=0x5F5E100))
            with self.assertRaisesRegex(dist.DistError, r"Kavrelo\.exe differs(.|\n)*TimeDateStamp"):
                dist.compare("Kavrelo.exe", a, b)
            b.write_bytes(fake_pe(stamp=0))
            dist.compare("Kavrelo.exe", a, b)

    def test_check_exe_refuses_a_time_stamp_or_a_build_path(self):
        with tempfile.TemporaryDirectory() as tmp:
            exe = Path(tmp, "Kavrelo.exe")
            exe.write_bytes(fake_pe(stamp=0))
            dist.check_exe(exe, [Path("/some/build/folder")])
            exe.write_bytes(fake_pe(stamp=1))
            with self.assertRaisesRegex(dist.DistError, "time stamp"):
                dist.check_exe(exe, [])
            for encoding in ("utf-8", "utf-16-le"):
                exe.write_bytes(fake_pe(tail="C:/x/some/build/folder/a.cpp".encode(encoding)))
                with self.assertRaisesRegex(dist.DistError, "build path"):
                    dist.check_exe(exe, [Path("/some/build/folder")])

    def test_source_date_epoch(self):
        self.assertEqual(dist.source_date_epoch(False, {"SOURCE_DATE_EPOCH": "981173106"}),
                         (981173106, "SOURCE_DATE_EPOCH"))
        # Without git and without SOURCE_DATE_EPOCH there is no date but the
        # time of the build: refuse rather than use it.
        with self.assertRaisesRegex(dist.DistError, "SOURCE_DATE_EPOCH is not set"):
            dist.source_date_epoch(False, {})
        with self.assertRaises(dist.DistError):
            dist.source_date_epoch(False, {"SOURCE_DATE_EPOCH": "yesterday"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
