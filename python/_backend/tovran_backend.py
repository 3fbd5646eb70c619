"""The package's own build backend (PEP 517): builds a wheel of the tovran
package with the engine's shared library inside, using nothing but the
standard library, so pip installs it on any CPython 3.9+ with pip, also
one without setuptools or wheel, and offline.

The library comes from TOVRAN_BUILD_DIR, when it names a CMake build tree of
this checkout that holds libtovran.so; otherwise the project's CMake builds it
(CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs; default: the processors).
"""
import base64
import hashlib
import os
import pathlib
import re
import subprocess
import sysconfig
import tempfile
import zipfile

HERE = pathlib.Path(__file__).resolve().parent.parent  # the python/ folder
SOURCE_DIR = HERE.parent
NAME = "tovran"
LIBRARY = "libtovran.so"


def _version():
    text = (HERE / "pyproject.toml").read_text()
    return re.search(r'^version\s*=\s*"([^"]+)"', text, re.M).group(1)


def _tag():
    """py3-none-<platform>: pure Python over a compiled library of this platform."""
    return "py3-none-" + re.sub(r"[-.]", "_", sysconfig.get_platform())


def _metadata(version):
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {version}\n"
            "Summary: Exact, deterministic top-N recommendation\n"
            "Requires-Python: >=3.9\nProvides-Extra: arrays\n"
            "Requires-Dist: numpy; extra == \"arrays\"\nRequires-Dist: scipy; extra == \"arrays\"\n")


def _cmake(*args):
    try:
        subprocess.run(["cmake", *args], check=True)
    except FileNotFoundError:
        raise RuntimeError("tovran: cmake is needed to build the engine "
                           "(Debian: apt-get install cmake g++ make zlib1g-dev), or set "
                           "TOVRAN_BUILD_DIR to a build tree holding libtovran.so") from None


def _library(work):
    """The path of the engine's shared library: TOVRAN_BUILD_DIR's, or one built now."""
    build_dir = os.environ.get("TOVRAN_BUILD_DIR")
    if build_dir:
        found = pathlib.Path(build_dir) / LIBRARY
        if not found.exists():
            raise RuntimeError(f"tovran: TOVRAN_BUILD_DIR={build_dir} holds no {LIBRARY}; build "
                               "it there (cmake --build DIR --target tovran_shared) or unset it")
        return found.resolve()
    if not (SOURCE_DIR / "CMakeLists.txt").exists():
        raise RuntimeError(f"tovran: the engine's sources are not in {SOURCE_DIR}; install "
                           "from a checkout of the repository")
    engine = pathlib.Path(work) / "engine"
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _cmake("-S", str(SOURCE_DIR), "-B", str(engine), "-DCMAKE_BUILD_TYPE=Release",
           "-DTOVRAN_TESTS=OFF", "-DTOVRAN_TOOLS=OFF")
    _cmake("--build", str(engine), "--target", "tovran_shared", "--parallel", jobs)
    return (engine / LIBRARY).resolve()


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    wheel_name = f"{NAME}-{version}-{_tag()}.whl"
    info = f"{NAME}-{version}.dist-info"
    with tempfile.TemporaryDirectory() as work:
        files = {}
        for source in sorted((HERE / NAME).glob("*.py")):
            files[f"{NAME}/{source.name}"] = source.read_bytes()
        files[f"{NAME}/{LIBRARY}"] = _library(work).read_bytes()
        files[f"{info}/METADATA"] = _metadata(version).encode()
        files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: tovran_backend\n"
                                  f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
        record = [_record_line(name, data) for name, data in files.items()]
        record.append(f"{info}/RECORD,,")
        files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
        path = pathlib.Path(wheel_directory) / wheel_name
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
            for name, data in files.items():
                entry = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
                entry.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(entry, data)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    raise RuntimeError("tovran: install from a checkout (pip install ./python); the package "
                       "needs the engine's sources beside it, so it has no source archive")


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = pathlib.Path(metadata_directory) / f"{NAME}-{_version()}.dist-info"
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_text(_metadata(_version()))
    return info.name


