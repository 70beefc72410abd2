"""Builds the Python module trapft through the project's own CMake, so that the
core's sources are listed once (pybind11's CMake-extension pattern).

The fast evaluation needs FFTW3 (libfftw3-dev): without it the build stops,
unless TRAPFT_WITHOUT_FAST_EVALUATION=1 asks for a module without it."""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


# What the build needs beyond setuptools, said in one line rather than in a
# traceback from deep inside pip.
PREREQUISITES = "apt-get install cmake g++ libfftw3-dev python3-dev python3-numpy pybind11-dev python3-wheel"
if shutil.which("cmake") is None:
    sys.exit(f"trapft's build needs CMake and a C++20 compiler: on Debian and Ubuntu, {PREREQUISITES}")
try:
    import wheel  # noqa: F401  (pip's --no-build-isolation build needs it, and says so badly)
except ImportError:
    sys.exit(f"trapft's build needs the wheel package: on Debian and Ubuntu, {PREREQUISITES}")

WITHOUT_FAST = os.environ.get("TRAPFT_WITHOUT_FAST_EVALUATION", "") not in ("", "0")


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
            "-DTRAPFT_TESTS=OFF",
            "-DTRAPFT_C_INTERFACE=OFF",
            "-DTRAPFT_INSTALL=OFF",
            # A module without the fast evaluation only when asked for.
            f"-DTRAPFT_FAST_EVALUATION={'OFF' if WITHOUT_FAST else 'ON'}",
            f"-DTRAPFT_REQUIRE_FAST_EVALUATION={'OFF' if WITHOUT_FAST else 'ON'}",
        ]
        print("trapft: building the core and the module with CMake (about a minute; pip -v shows it)",
              file=sys.stderr)
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
