"""The 32-bit program that scripts/setup.sh writes and runs to find out whether
this machine runs 32-bit code is scripts/uname32.S, assembled: its embedded
bytes are compared with what the GNU assembler makes of the source."""

import base64
import os
import re
import subprocess

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")


def test_embedded_probe_is_the_assembled_source(tmp_path):
    with open(os.path.join(SCRIPTS, "setup.sh"), encoding="utf-8") as f:
        embedded = re.search(r"^UNAME32_BASE64=(\S+)$", f.read(), re.M)
    assert embedded, "setup.sh has no UNAME32_BASE64= line"
    obj, flat = tmp_path / "uname32.o", tmp_path / "uname32"
    subprocess.run(["as", "--32", "-o", obj, os.path.join(SCRIPTS, "uname32.S")], check=True)
    subprocess.run(["objcopy", "-O", "binary", "-j", ".text", obj, flat], check=True)
    assembled = flat.read_bytes()
    assert base64.b64decode(embedded.group(1)).hex() == assembled.hex()
    # The header's sizes follow the code: the file is loaded whole.
    assert len(assembled) == int.from_bytes(assembled[68:72], "little")
