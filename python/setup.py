"""Builds the harmidex package with the project's CMake build.

The extension and the module are the CMake targets of the repository this
folder belongs to. HARMIDEX_BUILD_DIR names a configured build folder to
build them in (the tests use build/default); without it a fresh one is
configured under setuptools' temporary folder.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(os.environ.get("HARMIDEX_BUILD_DIR") or Path(self.build_temp).resolve() / "cmake")
        if not (build / "CMakeCache.txt").exists():
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                            "-DHARMIDEX_BUILD_TESTS=OFF", "-DHARMIDEX_BUILD_BENCH=OFF",
                            f"-DHARMIDEX_PYTHON={sys.executable}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "harmidex_python", "-j", jobs],
                       check=True)
        built = build / "python" / "harmidex"
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        extension = next(built.glob("_harmidex*.so"))
        shutil.copy2(extension, Path(self.get_ext_fullpath(ext.name)))
        # The module beside the extension, where the package looks first.
        shutil.copy2(built / "harmidex.so", target / "harmidex.so")
        shutil.copy2(ROOT / "VERSION", target / "VERSION")


setup(
    version=(ROOT / "VERSION").read_text().strip(),
    packages=["harmidex"],
    package_data={"harmidex": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("harmidex._harmidex", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
