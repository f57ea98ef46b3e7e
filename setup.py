"""Builds the Python package orvek with CMake: the compiled module
orvek._native and the shared library (for the ctypes layer, orvek.abi),
both placed inside the package. Configured without tests, tools or extras;
only the two targets are built. Offline: pip install . --no-build-isolation
(the build uses the machine's cmake, compiler, pybind11 and Python headers).
"""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               "-DORVEK_BUILD_TESTS=OFF", "-DORVEK_BUILD_TOOLS=OFF",
                               "-DORVEK_BUILD_FORTRAN=OFF", "-DORVEK_HOST_PYTHON=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "-j", jobs, "--target", "orvek_python_native", "orvek"])
        target = os.path.abspath(self.get_ext_fullpath(ext.name))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        (module,) = glob.glob(os.path.join(build, "python", "orvek", "_native*.so"))
        shutil.copyfile(module, target)
        # The shared library next to the package, where orvek.abi looks first.
        library = os.path.realpath(os.path.join(build, "liborvek.so"))
        shutil.copyfile(library, os.path.join(os.path.dirname(target), "liborvek.so.1"))


# The build folders beside the CMake ones (build*/ is ignored).
setup(ext_modules=[Extension("orvek._native", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}})
