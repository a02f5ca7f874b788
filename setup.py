"""Builds the Python module's extension (mendora._mendora) and the plug-in module it drives
(Zendrel.so) with the project's CMake build in build/python, for the Python that runs this,
and puts both into the package. The metadata is in pyproject.toml."""

import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

TOP = os.path.dirname(os.path.abspath(__file__))


class CMakeExtension(Extension):
    """An extension the CMake target of its name builds."""

    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    """Configures build/python (once) and builds the extensions' targets and Zendrel."""

    def build_extension(self, ext):
        build = os.environ.get("MENDORA_PYTHON_BUILD", os.path.join(TOP, "build", "python"))
        jobs = os.environ.get("MENDORA_JOBS", str(min(os.cpu_count() or 2, 2)))
        import pybind11  # Debian's python3-pybind11: its CMake files

        subprocess.check_call([
            "cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
            "-DMENDORA_WERROR=ON", "-DMENDORA_PYTHON=ON", "-DMENDORA_BUILD_TESTS=OFF",
            "-DMENDORA_BUILD_BENCH=OFF", "-DPython_EXECUTABLE=" + sys.executable,
            "-Dpybind11_DIR=" + pybind11.get_cmake_dir()])
        subprocess.check_call(["cmake", "--build", build, "-j", jobs, "--target", ext.target,
                               "Zendrel"])
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        built = os.path.join(build, "tools", "python")
        names = [name for name in os.listdir(built)
                 if name.startswith(ext.target + ".") and name.endswith(".so")]
        if len(names) != 1:
            raise RuntimeError("expected one %s module in %s, found %s" % (ext.target, built, names))
        shutil.copyfile(os.path.join(built, names[0]), target)
        shutil.copyfile(os.path.join(build, "host", "Zendrel.so"),
                        os.path.join(os.path.dirname(target), "Zendrel.so"))


setup(ext_modules=[CMakeExtension("mendora._mendora", "_mendora")],
      cmdclass={"build_ext": CMakeBuild})
