"""Running a blocking library call so that Ctrl+C still reaches the caller.

A ctypes call cannot be interrupted: Python runs its signal handlers only
between byte codes of the main thread. The call therefore runs in a worker
thread while the calling thread waits for it in short slices, during which a
SIGINT (Ctrl+C, a notebook's "interrupt kernel") raises KeyboardInterrupt as
usual. The caller then cancels the call through the library, waits for the
worker to end and lets the KeyboardInterrupt go on.
"""
from __future__ import annotations

import threading
from collections.abc import Callable
from typing import TypeVar

T = TypeVar("T")

# How long the calling thread sleeps between looks at the worker, in seconds.
SLICE_S = 0.02


def run_interruptible(call: Callable[[], T], cancel: Callable[[], object]) -> T:
    """Runs ``call()`` in a worker thread and returns its result (or raises
    its exception). On KeyboardInterrupt while waiting: ``cancel()`` (again
    every slice until the worker has ended, since a cancel that comes before
    the library marks the call as running is not kept), then re-raises."""
    outcome: dict[str, object] = {}
    done = threading.Event()

    def work() -> None:
        try:
            outcome["value"] = call()
        except BaseException as error:  # handed to the caller
            outcome["error"] = error
        finally:
            done.set()

    worker = threading.Thread(target=work, name="zorvidlk-call", daemon=True)
    try:
        worker.start()
        while not done.wait(SLICE_S):
            pass
    except KeyboardInterrupt:
        _cancel_and_join(worker, cancel)
        raise
    worker.join()
    if "error" in outcome:
        raise outcome["error"]  # type: ignore[misc]
    return outcome["value"]  # type: ignore[return-value]


def _cancel_and_join(worker: threading.Thread, cancel: Callable[[], object]) -> None:
    """Cancels until the worker has ended; a second Ctrl+C meanwhile does not
    leave the call running on a handle the caller may close next."""
    while True:
        try:
            while worker.ident is not None and worker.is_alive():
                cancel()
                worker.join(SLICE_S)
            return
        except KeyboardInterrupt:
            continue
