# SPDX-License-Identifier: BSD-2-Clause
"""Builds libvarnic with CMake from the source tree around this folder and puts it into the
package, so that `pip install ./python` needs nothing else at run time. VARNIC_LIBRARY=PATH takes
an already built library instead. The package itself is plain Python over ctypes: the wheel
serves every Python 3 of its platform."""
import glob
import os
import re
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from wheel.bdist_wheel import bdist_wheel

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(varnic VERSION ([0-9.]+)", f.read()).group(1)


def abi_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return int(re.search(r"set\(VARNIC_ABI_VERSION ([0-9]+)\)", f.read()).group(1))


def build_library(build_dir):
    subprocess.check_call(["cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                           "-DVARNIC_BUILD_TESTS=OFF", "-DVARNIC_BUILD_QT=OFF", "-DVARNIC_BUILD_PIXBUF_LOADER=OFF"])
    subprocess.check_call(["cmake", "--build", build_dir, "--target", "varnic_c", "-j", str(os.cpu_count() or 1)])
    return os.path.realpath(glob.glob(os.path.join(build_dir, "api", "libvarnic.so.*"))[0])


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        library = os.environ.get("VARNIC_LIBRARY") or build_library(os.path.join(HERE, "build", "cmake"))
        shutil.copy(library, os.path.join(self.build_lib, "varnic", "libvarnic.so.%d" % abi_version()))


class PlatformWheel(bdist_wheel):
    """Python-only code with a native library inside: any Python 3, this platform only."""

    def finalize_options(self):
        super().finalize_options()
        self.root_is_pure = False

    def get_tag(self):
        return "py3", "none", super().get_tag()[2]


setup(version=project_version(), cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": PlatformWheel})
