#!/usr/bin/env python3
"""A series of acquisitions at a fixed cadence with PyMeasure, no GUI needed.

Records, per acquisition, when it started (seconds from the series' start and
UTC epoch seconds) and the mean counts of the data scans at one pixel, in
PyMeasure's own results file (a commented header with the parameters, then CSV).

    python3 series.py --port 3 --count 10 --cadence 2 --pixel 128 --output series.csv

Against the simulated board (no hardware):
    mkdir -p /tmp/ports && zorvidlk-sim --socket /tmp/ports/COM1 &
    ZORVIDLK_PORT_DIR=/tmp/ports python3 series.py --port 1 --count 3 --output series.csv

Read it back with ``pymeasure.experiment.Results.load("series.csv", SeriesProcedure)``
and its ``.data`` (a pandas DataFrame).
"""
from __future__ import annotations

import argparse
import logging
import sys
import time

from pymeasure.experiment import (FloatParameter, IntegerParameter, Parameter, Procedure,
                                  Results, Worker)

from zorvidlk.pymeasure import Spectrometer

log = logging.getLogger(__name__)
log.addHandler(logging.NullHandler())


class SeriesProcedure(Procedure):
    """N acquisitions, one every ``cadence`` seconds (or back to back when an
    acquisition takes longer), each recorded as its time and the mean counts
    over its data scans at ``pixel`` (position 0..255)."""

    port = Parameter("Port", default="1")
    count = IntegerParameter("Acquisitions", minimum=1, maximum=100000, default=10)
    cadence = FloatParameter("Cadence", units="s", minimum=0, maximum=86400, default=2.0)
    pixel = IntegerParameter("Pixel", minimum=0, maximum=255, default=128)
    pre_scans = IntegerParameter("Pre scans", minimum=0, maximum=10, default=3)
    data_scans = IntegerParameter("Data scans", minimum=1, maximum=10, default=3)
    period_ms = IntegerParameter("Period", units="ms", minimum=100, maximum=1500, default=650)
    timeout_scale = IntegerParameter("Timeout scale", units="%", minimum=100, maximum=1000,
                                     default=100)

    DATA_COLUMNS = ["Acquisition", "Time (s)", "UTC (s)", "Mean counts"]

    def startup(self) -> None:
        self.spectrometer = Spectrometer(str(self.port), timeout_scale=self.timeout_scale)
        self.spectrometer.pre_scans = self.pre_scans
        self.spectrometer.data_scans = self.data_scans
        self.spectrometer.period_ms = self.period_ms
        log.info("Board on %s: %s", self.port, self.spectrometer.firmware)

    def execute(self) -> None:
        begin = time.monotonic()
        for index in range(self.count):
            # Wait for this acquisition's slot in short steps, so that a stop
            # request is seen at once.
            due = begin + index * self.cadence
            while time.monotonic() < due:
                if self.should_stop():
                    return
                time.sleep(min(0.05, due - time.monotonic()))
            if self.should_stop():
                return
            started = time.monotonic()
            scans = self.spectrometer.acquire()
            meta = self.spectrometer.last_acquisition
            self.emit("results", {
                "Acquisition": index + 1,
                "Time (s)": round(started - begin, 3),
                "UTC (s)": meta.start.timestamp(),
                "Mean counts": float(scans[:, self.pixel].mean()),
            })
            self.emit("progress", 100.0 * (index + 1) / self.count)

    def shutdown(self) -> None:
        spectrometer = getattr(self, "spectrometer", None)
        if spectrometer is not None:
            spectrometer.shutdown()


def run_series(procedure: SeriesProcedure, filename: str) -> Results:
    """Runs ``procedure`` headless (PyMeasure's Worker writing ``filename``
    through Results) to its end; returns the Results. Ctrl+C stops the
    series after the acquisition under way."""
    results = Results(procedure, filename)
    worker = Worker(results)
    worker.start()
    # Not worker.join(timeout): PyMeasure's join stops the worker once the
    # timeout has passed.
    try:
        while worker.is_alive():
            time.sleep(0.1)
    except KeyboardInterrupt:
        worker.stop()
        while worker.is_alive():
            time.sleep(0.1)
    return results


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", default="1", help='"3", "COM3", a device path or '
                        'rfc2217://HOST:PORT (default 1)')
    parser.add_argument("--count", type=int, default=10, help="acquisitions (default 10)")
    parser.add_argument("--cadence", type=float, default=2.0,
                        help="seconds from one acquisition's start to the next (default 2)")
    parser.add_argument("--pixel", type=int, default=128, help="pixel position 0..255")
    parser.add_argument("--data-scans", type=int, default=3, help="data scans 1..10")
    parser.add_argument("--period-ms", type=int, default=650, help="integration 100..1500 ms")
    parser.add_argument("--timeout-scale", type=int, default=100,
                        help="time-outs in percent of their own, 100..1000, for a slow path")
    parser.add_argument("--output", default="series.csv", help="the results file")
    args = parser.parse_args(argv)
    procedure = SeriesProcedure()
    procedure.port = args.port
    procedure.count = args.count
    procedure.cadence = args.cadence
    procedure.pixel = args.pixel
    procedure.data_scans = args.data_scans
    procedure.period_ms = args.period_ms
    procedure.timeout_scale = args.timeout_scale
    results = run_series(procedure, args.output)
    print(results.data.to_string(index=False))
    if procedure.status != Procedure.FINISHED:
        print("series: the series did not finish (status %s); see the log above"
              % procedure.status, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    logging.basicConfig(level=logging.INFO, format="%(levelname)s %(message)s")
    sys.exit(main())
