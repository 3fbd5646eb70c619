"""Builds the engine's shared library with the project's own CMake and puts
it inside the package, next to the module that loads it.

The engine's sources are those of the checkout this folder belongs to (its
parent folder), so the package is installed from a checkout:

    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python

CMAKE_BUILD_PARALLEL_LEVEL sets the number of compile jobs (default: the
number of processors).
"""
import os
import pathlib
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

SOURCE_DIR = pathlib.Path(__file__).resolve().parent.parent


class BuildWithEngine(build_py):
    """The package's modules plus libtovran.so, built by CMake."""

    def run(self):
        super().run()
        if not (SOURCE_DIR / "CMakeLists.txt").exists():
            raise RuntimeError(f"tovran: the engine's sources are not in {SOURCE_DIR}; install "
                               "from a checkout of the repository")
        build_temp = pathlib.Path(self.get_finalized_command("build").build_temp).resolve()
        engine_build = build_temp / "engine"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        self._cmake("-S", str(SOURCE_DIR), "-B", str(engine_build), "-DCMAKE_BUILD_TYPE=Release",
                    "-DTOVRAN_TESTS=OFF", "-DTOVRAN_TOOLS=OFF")
        self._cmake("--build", str(engine_build), "--target", "tovran_shared", "--parallel", jobs)
        library = (engine_build / "libtovran.so").resolve()
        target = pathlib.Path(self.build_lib) / "tovran" / "libtovran.so"
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(library, target)

    def _cmake(self, *args):
        self.announce("cmake " + " ".join(args), level=2)
        try:
            subprocess.run(["cmake", *args], check=True)
        except FileNotFoundError:
            raise RuntimeError("tovran: cmake is needed to build the engine "
                               "(Debian: apt-get install cmake g++ make)") from None


class BinaryDistribution(Distribution):
    """The wheel holds a compiled library, so it is tied to the platform."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithEngine}, distclass=BinaryDistribution)
