"""Installs: pip in a virtual environment with only Debian's packages, and
`cmake --install` into a prefix; each then imports and gives the same numbers."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import harmidex

SOURCE = Path(os.environ.get("HARMIDEX_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD = os.environ.get("HARMIDEX_BUILD_DIR")

# Run by the installed package, away from the build tree: where it was
# found, where its module was found, and one spectrum.
PROBE = """
import sys, harmidex, numpy as np
with harmidex.open(sys.argv[1]) as s:
    np.save(sys.argv[2], s.fft(2048, bins=512, timesmooth=2))
print(harmidex.__file__)
print(harmidex._harmidex.module_path())
print(harmidex.__version__)
"""


def clean_env() -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "HARMIDEX_MODULE")}
    return env


def check_installed(python: str, media, tmp_path: Path, inside: Path, env: dict[str, str]) -> None:
    out = tmp_path / "spectrum.npy"
    done = subprocess.run([python, "-c", PROBE, str(media["wav"]), str(out)], capture_output=True,
                          text=True, env=env, cwd=tmp_path, check=True)
    package, module, version = done.stdout.split("\n")[:3]
    assert Path(package).resolve().is_relative_to(inside.resolve())
    assert Path(module).resolve().is_relative_to(inside.resolve())
    assert version == (SOURCE / "VERSION").read_text().strip() == harmidex.__version__
    with harmidex.open(media["wav"]) as s:
        want = s.fft(2048, bins=512, timesmooth=2)
    assert np.array_equal(np.load(out).view(np.uint32), want.view(np.uint32))


@pytest.mark.skipif(not BUILD, reason="needs the configured build folder (HARMIDEX_BUILD_DIR)")
def test_pip_installs_into_a_venv_from_debian_packages_alone(media, tmp_path):
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python3")
    env = clean_env()
    env["HARMIDEX_BUILD_DIR"] = BUILD
    env["PIP_NO_INDEX"] = "1"  # no package index is reachable, nor needed
    subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "-q",
                    str(SOURCE / "python")], check=True, env=env, cwd=tmp_path)
    check_installed(python, media, tmp_path, venv, clean_env())


@pytest.mark.skipif(not BUILD, reason="needs the configured build folder (HARMIDEX_BUILD_DIR)")
def test_cmake_install_puts_the_package_where_the_prefix_python_finds_it(media, tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix)], check=True,
                   capture_output=True)
    version = f"{sys.version_info[0]}.{sys.version_info[1]}"
    site = prefix / "lib" / f"python{version}" / "dist-packages"
    assert (site / "harmidex" / "py.typed").exists()
    # The command's library folder, multiarch where the compiler names one.
    assert list(prefix.glob("lib/**/harmidex/harmidex.so")), "the module is not installed"
    env = clean_env()
    env["PYTHONPATH"] = str(site)
    check_installed("/usr/bin/python3", media, tmp_path, prefix, env)
