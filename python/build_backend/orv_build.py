"""A build backend for the orv Python package that needs nothing but the
standard library, CMake and a C++ compiler, so that `pip install ./python`
works offline, with or without build isolation: there is nothing to fetch.

It builds the C++ library from this repository with CMake (the same flags as
every other build, position-independent), then the extension module against
it, and zips the module with the pure-Python files into a wheel.

Environment:
  ORV_SOURCE_DIR       the repository (default: the folder above python/)
  ORV_PYTHON_BUILD     the build folder (default: <repository>/build-python)
  ORV_BUILD_JOBS       parallel compile jobs (default 2)
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile

NAME = "orv"
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))  # python/


def _version():
    # The library's version, so that the package and orv.version() agree.
    try:
        with open(os.path.join(os.path.dirname(HERE), "CMakeLists.txt"), encoding="utf-8") as f:
            m = re.search(r"project\(orv\s+VERSION\s+([0-9.]+)", f.read())
        return m.group(1) if m else "0.0.0"
    except OSError:
        return "0.0.0"


VERSION = _version()


def _source_dir():
    root = os.environ.get("ORV_SOURCE_DIR") or os.path.dirname(HERE)
    if not os.path.isfile(os.path.join(root, "include", "orv", "orv.h")):
        raise RuntimeError(
            "orv build: the repository is not at %r (python/ must stay inside the repository, "
            "or set ORV_SOURCE_DIR)" % root)
    return os.path.abspath(root)


def _run(cmd):
    print("orv build: " + " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True)


def _generator():
    return ["-G", "Ninja"] if shutil.which("ninja") else []


def _build_module():
    root = _source_dir()
    build = os.path.abspath(os.environ.get("ORV_PYTHON_BUILD") or os.path.join(root, "build-python"))
    jobs = os.environ.get("ORV_BUILD_JOBS", "2")
    lib, ext = os.path.join(build, "lib"), os.path.join(build, "ext")
    for d in (lib, ext):
        if not os.path.isfile(os.path.join(d, "CMakeCache.txt")):
            os.makedirs(d, exist_ok=True)
    _run(["cmake", "-S", root, "-B", lib, *_generator(), "-DCMAKE_BUILD_TYPE=Release",
          "-DORV_BUILD_TESTS=OFF", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON"])
    _run(["cmake", "--build", lib, "--target", "orv_encoder_app", "-j", jobs])
    _run(["cmake", "-S", HERE, "-B", ext, *_generator(), "-DCMAKE_BUILD_TYPE=Release",
          "-DORV_SOURCE_DIR=" + root, "-DORV_LIB_BUILD=" + lib, "-DPython_EXECUTABLE=" + sys.executable])
    _run(["cmake", "--build", ext, "-j", jobs])
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    module = os.path.join(ext, "module", "_orv" + suffix)
    if not os.path.isfile(module):
        raise RuntimeError("orv build: the extension %r was not built (wrong Python for CMake?)" % module)
    return module


def _tag():
    impl = "cp" if sys.implementation.name == "cpython" else sys.implementation.name[:2]
    py = "%s%d%d" % (impl, sys.version_info[0], sys.version_info[1])
    plat = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (py, py, plat)


def _metadata():
    with open(os.path.join(HERE, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    return ("Metadata-Version: 2.1\nName: %s\nVersion: %s\n"
            "Summary: Compressed, scalable animated triangle meshes: encode and decode from numpy\n"
            "Requires-Python: >=3.9\nRequires-Dist: numpy\n"
            "Description-Content-Type: text/markdown\n\n%s" % (NAME, VERSION, readme))


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def _write_dist_info(directory):
    info = os.path.join(directory, "%s-%s.dist-info" % (NAME, VERSION))
    os.makedirs(info, exist_ok=True)
    with open(os.path.join(info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    return os.path.basename(info)


# ---- PEP 517 hooks -------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_dist_info(metadata_directory)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    module = _build_module()
    tag = _tag()
    info = "%s-%s.dist-info" % (NAME, VERSION)
    files = []
    pkg = os.path.join(HERE, NAME)
    for name in sorted(os.listdir(pkg)):
        if name.endswith(".py") or name == "py.typed" or name.endswith(".pyi"):
            with open(os.path.join(pkg, name), "rb") as f:
                files.append((NAME + "/" + name, f.read()))
    with open(module, "rb") as f:
        files.append((NAME + "/" + os.path.basename(module), f.read()))
    files.append((info + "/METADATA", _metadata().encode()))
    files.append((info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: orv_build\nRoot-Is-Purelib: false\n"
                                    "Tag: %s\n" % tag).encode()))
    wheel = "%s-%s-%s.whl" % (NAME, VERSION, tag)
    record = [_record_line(n, d) for n, d in files] + [info + "/RECORD,,"]
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel), "w", zipfile.ZIP_DEFLATED) as z:
        for n, d in files:
            z.writestr(n, d)
        z.writestr(info + "/RECORD", "\n".join(record) + "\n")
    return wheel
