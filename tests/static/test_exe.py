"""Kavrelo.exe read without running it (pefile): its format, size, imports,
resources and version block; built again in another folder, the same bytes;
and the release archive that scripts/dist makes of it. CTest passes the
executable and how it was built: KAVRELO_EXE, KAVRELO_ARCH (i686 or x86_64),
KAVRELO_TOOLCHAIN, KAVRELO_BUILD_TYPE and CMAKE_GENERATOR."""

import importlib.machinery
import os
import shutil
import struct
import subprocess
import sys
import types
import zipfile
from pathlib import Path

import pefile
import pytest

EXE = Path(os.environ["KAVRELO_EXE"])
ARCH = os.environ["KAVRELO_ARCH"]
ROOT = Path(__file__).resolve().parents[2]
ICO = ROOT / "res" / "icons" / "kavrelo.ico"
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# Bound by name at their first call, so that the program starts where they
# are missing (the DPI ones before Vista and Windows 10).
BOUND_BY_NAME = {"GetCursorPos", "WindowFromPoint", "GetKeyState", "GetWindowLongA",
                 "SetWindowLongA", "SetLayeredWindowAttributes",
                 "SetProcessDPIAware", "SetThreadDpiAwarenessContext"}
# kernel32 entries of Vista and later that toolchains and runtimes tend to pull
# in (thread-model runtimes above all); XP refuses to start a program importing one.
VISTA_KERNEL32 = set("""
    GetTickCount64 FlsAlloc FlsFree FlsGetValue FlsSetValue InitializeSRWLock
    AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
    TryAcquireSRWLockExclusive InitializeConditionVariable SleepConditionVariableCS
    SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce
    InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx CreateEventExW
    CreateMutexExW CreateSemaphoreExW GetSystemTimePreciseAsFileTime GetFileInformationByHandleEx
    GetLocaleInfoEx LocaleNameToLCID LCIDToLocaleName CompareStringEx GetErrorMode
    QueryFullProcessImageNameW""".split())
# Icon group 1 in order: size and bits per pixel of icons 30001, 30002, ...
ICONS = [(48, 8), (32, 8), (24, 8), (16, 8), (48, 32), (32, 32), (24, 32), (16, 32)]
STRINGS = {"CompanyName": "Pelloria", "ProductName": "Kavrelo", "FileVersion": "1.00",
           "ProductVersion": "1.00", "InternalName": "Kavrelo", "OriginalFilename": "Kavrelo.exe"}


@pytest.fixture(scope="module")
def pe():
    return pefile.PE(str(EXE))


@pytest.fixture(scope="module")
def resources(pe):
    """{(type, id): {language: bytes}}"""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                at = lang.data.struct
                found.setdefault((kind.name or kind.id, name.name or name.id), {})[lang.id] = \
                    pe.get_data(at.OffsetToData, at.Size)
    return found


def test_format_and_size(pe):
    machine, magic = {"i686": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}[ARCH]
    assert (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic) == (machine, magic)  # PE32, PE32+
    assert pe.OPTIONAL_HEADER.Subsystem == 2  # Windows GUI: no console opens with it
    assert EXE.stat().st_size <= 100 * 1024


def test_imports(pe):
    found = {}
    for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for dll in getattr(pe, table, []):
            found.setdefault(dll.dll.decode().lower(), set()).update(
                i.name.decode() if i.name else "#%d" % i.ordinal for i in dll.imports)
    assert sorted(found) == ["gdi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"]
    assert set().union(*found.values()) & BOUND_BY_NAME == set()
    assert found["kernel32.dll"] & VISTA_KERNEL32 == set()
    # MinGW-w64 links the secure CRT (wcscpy_s) and the _l functions as msvcrt
    # imports whatever the target; XP's msvcrt.dll has none of them. The list:
    # a name a line, with "i386" or "x86_64" after it where only one has it.
    lines = (Path(__file__).parent / "msvcrt-winxp.txt").read_text().splitlines()
    xp = {name for name, _, only in (line.partition(" ") for line in lines if not line.startswith("#"))
          if only in ("", {"i686": "i386"}.get(ARCH, ARCH))}
    assert found["msvcrt.dll"] - xp == set()


def test_resource_tree(resources):
    neutral, zh_cn = 0, 0x0804
    expected = {(RT_ICON, 30001 + i): [neutral] for i in range(len(ICONS))}
    expected.update({(RT_GROUP_ICON, 1): [neutral], (RT_VERSION, 1): [zh_cn]})
    assert {key: list(langs) for key, langs in resources.items()} == expected


def test_no_manifest(resources):
    assert [key for key in resources if key[0] == RT_MANIFEST] == []


def test_icons_are_the_committed_file(resources):
    group = resources[RT_GROUP_ICON, 1][0]
    ico = ICO.read_bytes()
    committed = {}  # (size, bits): the image's bytes in kavrelo.ico
    for at in range(6, 6 + 16 * struct.unpack_from("<H", ico, 4)[0], 16):
        width, bits, size, offset = struct.unpack_from("<B5xH2I", ico, at)
        committed[width, bits] = ico[offset:offset + size]
    assert struct.unpack_from("<3H", group) == (0, 1, len(ICONS))
    for i, (size, bits) in enumerate(ICONS):
        image = committed[size, bits]
        # GRPICONDIRENTRY: width, height, colours, reserved, planes, bits,
        # bytes, icon id; the image: a DIB twice as high (colours, then mask).
        assert struct.unpack_from("<4B2HIH", group, 6 + 14 * i) == \
            (size, size, 0, 0, 1, bits, len(image), 30001 + i)
        assert struct.unpack_from("<IiiHH", image) == (40, size, 2 * size, 1, bits)
        assert resources[RT_ICON, 30001 + i][0] == image, "icon %d" % (30001 + i)


def test_version_block(pe):
    f = pe.VS_FIXEDFILEINFO[0]
    assert (f.FileVersionMS, f.FileVersionLS, f.ProductVersionMS, f.ProductVersionLS) == (0x10000, 0) * 2
    # No flags, VOS__WINDOWS32, VFT_APP, no subtype, no date.
    assert (f.FileFlags, f.FileOS, f.FileType, f.FileSubtype, f.FileDateMS, f.FileDateLS) == (0, 4, 1, 0, 0, 0)
    blocks = {block.Key: block for block in pe.FileInfo[0]}
    assert sorted(blocks) == [b"StringFileInfo", b"VarFileInfo"]
    assert [(t.LangID, {k.decode(): v.decode() for k, v in t.entries.items()})
            for t in blocks[b"StringFileInfo"].StringTable] == [(b"080404B0", STRINGS)]
    assert [v.entry for v in blocks[b"VarFileInfo"].Var] == [{b"Translation": "0x0804 0x04b0"}]


def test_committed_icon_is_what_make_icons_draws(tmp_path):
    subprocess.run([sys.executable, ROOT / "res" / "make-icons", "--out", tmp_path], check=True)
    assert (tmp_path / "kavrelo.ico").read_bytes() == ICO.read_bytes()


@pytest.mark.timeout(280)
def test_reproducible(pe, tmp_path):
    """Built again from a copy of the sources in another folder, later, in
    another time zone and with another umask: the same bytes."""
    src, build = tmp_path / "sources-elsewhere", tmp_path / "b"
    shutil.copytree(ROOT, src, ignore=lambda d, names: {"build", ".git"} if d == str(ROOT) else ())

    def run(*cmd):
        subprocess.run(cmd, env=dict(os.environ, TZ="UTC-14"), check=True,
                       preexec_fn=lambda: os.umask(0o077))
    run("cmake", "-S", src, "-B", build, "-DKAVRELO_BUILD_TESTS=OFF",
        "--toolchain", os.environ["KAVRELO_TOOLCHAIN"],
        "-DCMAKE_BUILD_TYPE=" + os.environ["KAVRELO_BUILD_TYPE"])
    run("cmake", "--build", build, "--target", "Kavrelo")
    data = EXE.read_bytes()
    # 0 on purpose: the same sources give the same bytes (CMakeLists.txt).
    assert pe.FILE_HEADER.TimeDateStamp == 0
    for folder in (ROOT, EXE.parent.parent, src, build):
        for encoding in ("utf-8", "utf-16-le"):
            assert str(folder).encode(encoding) not in data, "a build path in %s" % EXE
    assert (build / "bin" / EXE.name).read_bytes() == data


def test_release_archive(tmp_path):
    dist = types.ModuleType("dist")
    dist.__file__ = str(ROOT / "scripts" / "dist")
    importlib.machinery.SourceFileLoader("dist", dist.__file__).exec_module(dist)
    readme = (ROOT / "docs" / "release-readme.txt").read_text(encoding="utf-8")
    epoch = 981173106  # 2001-02-03 04:05:06 UTC
    archive = dist.release(EXE.read_bytes(), readme, "1.0", epoch, tmp_path / "a")
    # Made again, in another folder: the same bytes.
    assert dist.release(EXE.read_bytes(), readme, "1.0", epoch, tmp_path / "b").read_bytes() == \
        archive.read_bytes()
    with zipfile.ZipFile(archive) as z:
        assert [(i.filename, i.date_time, i.create_system, i.external_attr) for i in z.infolist()] == \
            [(name, (2001, 2, 3, 4, 5, 6), 0, 0x20) for name in ("Kavrelo.exe", "README.txt")]
        text = z.read("README.txt")
        z.extractall(tmp_path / "a")
    assert text.startswith("\ufeffKavrelo 1.0\r\n".encode()) and b"\n" not in text.replace(b"\r\n", b"")
    subprocess.run(["sha256sum", "--check", "--quiet", "SHA256SUMS"], cwd=tmp_path / "a", check=True)
    assert archive.name == "Kavrelo-1.0-win32.zip"
