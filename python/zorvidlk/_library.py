"""Finding and loading the C library, and its functions' signatures.

The library is ``libzorvidlk.so.1`` on Linux (the system's loader finds it,
as installed by the libzorvidlk1 package or through LD_LIBRARY_PATH) and
``zorvidlk.dll`` on Windows (beside this package, else in a directory of
PATH). The environment variable ZORVIDLK_LIBRARY names a file that is loaded
instead, and only that one.
"""
from __future__ import annotations

import ctypes
import ntpath
import os
from collections.abc import Callable, Mapping

LINUX_NAME = "libzorvidlk.so.1"
WINDOWS_NAME = "zorvidlk.dll"
LIBRARY_VARIABLE = "ZORVIDLK_LIBRARY"

PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

INSTALL_HINT = (
    "install the library (Debian: apt install libzorvidlk1), or build the project "
    "(cmake --preset default && cmake --build --preset default) and set "
    "ZORVIDLK_LIBRARY to build/lib/libzorvidlk.so.1 (zorvidlk.dll on Windows)"
)


def library_candidates(os_name: str, environ: Mapping[str, str],
                       package_dir: str = PACKAGE_DIR) -> list[str]:
    """The files to try, in order, for the library.

    ``os_name`` is ``os.name`` ("posix" or "nt"). With ZORVIDLK_LIBRARY set
    (and not empty) that file is the only candidate. On Windows: zorvidlk.dll
    beside the package, then in each directory of PATH, as full paths (the
    loader of Python 3.8 and later no longer searches PATH itself). Elsewhere:
    the bare soname, for the system's loader to find.
    """
    named = environ.get(LIBRARY_VARIABLE, "")
    if named:
        return [named]
    if os_name != "nt":
        return [LINUX_NAME]
    candidates = [ntpath.join(package_dir, WINDOWS_NAME)]
    for directory in environ.get("PATH", "").split(";"):
        directory = directory.strip().strip('"')
        if directory:
            candidates.append(ntpath.join(directory, WINDOWS_NAME))
    return candidates


def load_library(os_name: str = os.name, environ: Mapping[str, str] = os.environ,
                 loader: Callable[[str], ctypes.CDLL] = ctypes.CDLL,
                 exists: Callable[[str], bool] = os.path.isfile) -> ctypes.CDLL:
    """Loads the first candidate that loads; ImportError naming what to
    install when none does."""
    candidates = library_candidates(os_name, environ)
    failures = []
    for candidate in candidates:
        # Windows candidates are full paths that mostly do not exist: skip
        # those quietly. A bare soname is the loader's to find.
        if os_name == "nt" and ntpath.isabs(candidate) and not exists(candidate):
            continue
        try:
            return loader(candidate)
        except OSError as error:
            failures.append("%s (%s)" % (candidate, error))
    if environ.get(LIBRARY_VARIABLE, ""):
        where = "%s names %s, which cannot be loaded" % (LIBRARY_VARIABLE, candidates[0])
    elif os_name == "nt":
        where = "%s is neither beside the zorvidlk package nor on PATH" % WINDOWS_NAME
    else:
        where = "%s was not found" % LINUX_NAME
    detail = "; ".join(failures)
    raise ImportError("zorvidlk: the board's C library is missing: %s%s. To fix: %s."
                      % (where, " [%s]" % detail if detail else "", INSTALL_HINT))


class Settings(ctypes.Structure):
    """zv_settings of zorvidlk.h."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("pre_scans", ctypes.c_uint16),
        ("data_scans", ctypes.c_uint16),
        ("period_ms", ctypes.c_uint32),
    ]


class AcquisitionInfo(ctypes.Structure):
    """zv_acquisition of zorvidlk.h."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("start_utc_ms", ctypes.c_int64),
        ("end_utc_ms", ctypes.c_int64),
        ("settings", Settings),
    ]


def declare(library: ctypes.CDLL) -> ctypes.CDLL:
    """Gives the library's functions their C signatures."""
    board = ctypes.c_void_p
    signatures = {
        "zv_open": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_long, ctypes.POINTER(board)]),
        "zv_close": (ctypes.c_int, [board]),
        "zv_firmware": (ctypes.c_int, [board, ctypes.c_char_p, ctypes.c_size_t]),
        "zv_led": (ctypes.c_int, [board, ctypes.c_int, ctypes.c_int]),
        "zv_blink": (ctypes.c_int, [board, ctypes.c_int, ctypes.c_int, ctypes.c_uint]),
        "zv_acquire": (ctypes.c_int, [board, ctypes.POINTER(Settings),
                                      ctypes.POINTER(ctypes.c_uint16), ctypes.c_size_t,
                                      ctypes.POINTER(AcquisitionInfo)]),
        "zv_cancel": (ctypes.c_int, [board]),
        "zv_set_timeout_scale": (ctypes.c_int, [board, ctypes.c_uint]),
        "zv_error_text": (ctypes.c_char_p, [board]),
        "zv_status_text": (ctypes.c_char_p, [ctypes.c_int]),
        "zv_version": (ctypes.c_char_p, []),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library
