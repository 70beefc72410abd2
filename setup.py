"""Builds the Python module trapft through the project's own CMake, so that the
core's sources are listed once (pybind11's CMake-extension pattern)."""
import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Configures the project with TRAPFT_PYTHON for this interpreter and builds
    only the module, straight into the package's place."""

    def build_extension(self, ext):
        destination = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTRAPFT_PYTHON=ON",
            f"-DPython_EXECUTABLE={sys.executable}",
            f"-DCMAKE_LIBRARY_OUTPUT_DIRECTORY={destination}",
            "-DBUILD_TESTING=OFF",
            "-DTRAPFT_BENCHMARKS=OFF",
        ]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "_core", "-j", jobs], check=True)


# pip builds in the checkout: its scratch goes to build-pip, away from the
# CMake build directories and the sources.
SCRATCH = ROOT / "build-pip"
SCRATCH.mkdir(exist_ok=True)

# The package's metadata, its version (the VERSION file's) included, is in pyproject.toml.
setup(
    packages=["trapft"],
    package_dir={"trapft": "python/trapft"},
    package_data={"trapft": ["py.typed", "_core.pyi"]},
    ext_modules=[CMakeExtension("trapft._core")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    options={"build": {"build_base": str(SCRATCH)}, "egg_info": {"egg_base": str(SCRATCH)}},
)
