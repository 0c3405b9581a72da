"""Kavrelo.exe (KAVRELO_EXE, built for KAVRELO_ARCH) read without running it:
format, size, imports, resources and version block; and the release that
scripts/dist makes of a commit of these sources, the same bytes again."""

import codecs
import importlib.machinery
import importlib.util
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pefile
import pytest

EXE = Path(os.environ["KAVRELO_EXE"])
ARCH = os.environ["KAVRELO_ARCH"]
ROOT = Path(__file__).resolve().parents[2]
ICO = ROOT / "res" / "icons" / "kavrelo.ico"
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# Bound by name, so that the program starts where they are missing (the DPI
# ones before Vista and Windows 10).
BOUND_BY_NAME = set("""GetCursorPos WindowFromPoint GetKeyState GetWindowLongA SetWindowLongA
    SetLayeredWindowAttributes SetProcessDPIAware SetProcessDpiAwarenessContext SetThreadDpiAwarenessContext
    GetThreadDpiAwarenessContext GetAwarenessFromDpiAwarenessContext GetDpiForWindow AdjustWindowRectExForDpi
    GetSystemMetricsForDpi CoInitialize CoCreateInstance CoUninitialize SysAllocString""".split())
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
    QueryFullProcessImageNameW GetThreadId GetProcessIdOfThread GetCurrentProcessorNumber CancelIoEx
    GetFinalPathNameByHandleW CreateSymbolicLinkW SetFileInformationByHandle QueryThreadCycleTime""".split())
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
    # Windows XP starts no program that asks for a later system: 5.1, and 5.2
    # for its x64 edition.
    xp = {"i686": (5, 1), "x86_64": (5, 2)}[ARCH]
    assert (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion) <= xp
    assert (pe.OPTIONAL_HEADER.MajorOperatingSystemVersion, pe.OPTIONAL_HEADER.MinorOperatingSystemVersion) <= xp
    # Loaded at a random address (ASLR, with the relocations that needs) and
    # its data never run (DEP).
    dynamic_base, nx_compat = 0x40, 0x100
    assert pe.OPTIONAL_HEADER.DllCharacteristics & (dynamic_base | nx_compat) == dynamic_base | nx_compat
    assert not pe.FILE_HEADER.Characteristics & 1  # IMAGE_FILE_RELOCS_STRIPPED
    assert pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0  # the base relocations


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


def test_icons_are_the_committed_file_and_each_image_a_sound_badge(resources):
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
        # Transparent where the AND mask says so and only there: alpha 0 (and
        # no colour, for systems ignoring alpha), or palette entry 0, black. A
        # round badge: corners transparent, the middle opaque, a quarter clear.
        palette = image[40:40 + 1024] if bits == 8 else b""
        pixels = 40 + len(palette)
        mask = pixels + size * size * bits // 8
        clear = []
        for y in range(size):
            for x in range(size):
                masked = image[mask + y * ((size + 31) // 32 * 4) + x // 8] >> (7 - x % 8) & 1
                if bits == 32:
                    b, g, r, a = image[pixels + 4 * (y * size + x):][:4]
                    assert masked == (a == 0) and (a > 0 or (b, g, r) == (0, 0, 0)), (size, bits, x, y)
                else:
                    assert masked == (image[pixels + y * size + x] == 0), (size, bits, x, y)
                clear.append(masked)
        assert palette[:4] in (b"", bytes(4))
        assert all(clear[y * size + x] for x in (0, size - 1) for y in (0, size - 1)), (size, bits)
        assert not clear[size // 2 * size + size // 2], (size, bits)
        assert 0.15 < sum(clear) / size ** 2 < 0.4, (size, bits)


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


@pytest.mark.skipif(ARCH != "i686", reason="the release is the i686 build")
@pytest.mark.timeout(280)
def test_release_is_the_commit_built_again_to_the_same_bytes(pe, tmp_path):
    """scripts/dist on a commit of these sources elsewhere, in another time zone
    and umask: it refuses while a tracked file differs, and builds the commit,
    not the working files, to this build's bytes, in an archive dated
    SOURCE_DATE_EPOCH, compressed, with the readme of the version shown."""
    repo = tmp_path / "sources elsewhere"
    shutil.copytree(ROOT, repo, ignore=lambda d, names: {"build", ".git"} if d == str(ROOT) else ())
    for args in (["init", "-q"], ["add", "-A"], ["commit", "-qm", "a release"]):
        subprocess.run(["git", "-c", "user.name=k", "-c", "user.email=k@example.com", "-C", repo] + args, check=True)
    template = (repo / "docs" / "release-readme.txt").read_text(encoding="utf-8")
    (repo / "docs" / "release-readme.txt").write_text(template + "not committed\n", encoding="utf-8")

    def dist(**env):
        return subprocess.run([sys.executable, repo / "scripts" / "dist"], capture_output=True, text=True,
                              env=dict(os.environ, TZ="UTC-14", SOURCE_DATE_EPOCH="981173106", **env),
                              preexec_fn=lambda: os.umask(0o077))
    refused = dist()
    assert refused.returncode != 0 and "docs/release-readme.txt" in refused.stderr
    built = dist(KAVRELO_DIST_ALLOW_DIRTY="1")
    assert built.returncode == 0, built.stdout + built.stderr
    data = EXE.read_bytes()
    assert pe.FILE_HEADER.TimeDateStamp == 0  # on purpose: the same sources give the same bytes
    for folder in (ROOT, EXE.parent.parent, repo):
        for encoding in ("utf-8", "utf-16-le"):
            assert str(folder).encode(encoding) not in data, "a build path in %s" % EXE
    shown = data.split("版本：".encode("utf-16-le"), 1)[1]  # Label6: the version the window shows
    version = shown[:next(i for i in range(0, len(shown), 2) if shown[i:i + 2] == b"\0\0")].decode("utf-16-le")
    out = repo / "build" / "dist"
    archive = out / ("Kavrelo-%s-win32.zip" % version)
    with zipfile.ZipFile(archive) as z:
        assert [(i.filename, i.date_time, i.create_system, i.external_attr, i.compress_type) for i in z.infolist()] == \
            [(name, (2001, 2, 3, 4, 5, 6), 0, 0x20, zipfile.ZIP_DEFLATED) for name in ("Kavrelo.exe", "README.txt")]
        assert z.read("Kavrelo.exe") == data, "not the same bytes as this build"
        readme = z.read("README.txt").decode("utf-8-sig")
        z.extract("Kavrelo.exe", out)
    assert readme.replace("\r\n", "\n") == template.replace("@VERSION@", version)
    assert readme.startswith("Kavrelo %s " % version)
    subprocess.run(["sha256sum", "--check", "--quiet", "SHA256SUMS"], cwd=out, check=True)


def test_release_readme_reads_in_notepad_from_xp_on(tmp_path):
    """README.txt as scripts/dist writes it: UTF-8 with a byte-order mark, which
    Notepad needs to read it as UTF-8 (XP's too, whatever the system's code
    page), CRLF line ends, every placeholder filled in, and the Chinese text
    first, from its first line on."""
    loader = importlib.machinery.SourceFileLoader("dist", str(ROOT / "scripts" / "dist"))
    dist = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(dist)
    template = (ROOT / "docs" / "release-readme.txt").read_text(encoding="utf-8")
    for given in (template, template.replace("\n", "\r\n")):  # a checkout with either line end
        with zipfile.ZipFile(dist.release(b"MZ", given, "9.8", 981173106, tmp_path / "out")) as z:
            raw = z.read("README.txt")
        assert raw[:3] == codecs.BOM_UTF8, raw[:3]
        text = raw[3:].decode("utf-8")
        assert re.findall("\r(?!\n)|(?<!\r)\n", text) == []
        assert re.findall("@[A-Z_]+@", text) == []
        title = text.split("\r\n", 1)[0]
        assert title.startswith("Kavrelo 9.8 "), title
        assert re.search("[\u4e00-\u9fff]", title), title
