"""The PyMeasure driver and the example series against the simulated board."""
import os

import numpy
import pytest

from conftest import commands, last_spectra

pytest.importorskip("pymeasure", reason="needs python3-pymeasure (scripts/install-deps.sh test)")

from pymeasure.experiment import Procedure, Results  # noqa: E402

import zorvidlk  # noqa: E402
from zorvidlk.pymeasure import Spectrometer, TextProtocolError  # noqa: E402

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python",
                        "examples")


@pytest.fixture
def spectrometer(port_dir, simulator, monkeypatch):
    monkeypatch.setenv("ZORVIDLK_PORT_DIR", port_dir)
    sim = simulator(1)
    driver = Spectrometer("1", timeout_scale=300)
    yield sim, driver
    driver.shutdown()


def test_driver_properties_against_the_board(spectrometer):
    sim, driver = spectrometer
    assert (driver.pre_scans, driver.data_scans, driver.period_ms) == (3, 3, 650)
    assert driver.firmware.startswith("ZORVI DLK")
    driver.led1 = True
    driver.led2 = 1
    driver.led1 = False
    with pytest.raises(LookupError):
        driver.led1
    driver.pre_scans, driver.data_scans, driver.period_ms = 0, 2, 100
    scans = driver.acquire()
    assert scans.dtype == numpy.uint16 and scans.shape == (2, 256)
    assert scans.tolist() == last_spectra(sim, 2)
    assert driver.last_acquisition.settings == zorvidlk.AcquisitionSettings(0, 2, 100)
    assert commands(sim) == ["V", "L2", "L4", "L1", "E5", "P0", "R2", "I100", "S", "g", "S", "g"]


@pytest.mark.parametrize("name, value", [
    ("pre_scans", 11), ("pre_scans", -1), ("data_scans", 0), ("data_scans", 11),
    ("period_ms", 99), ("period_ms", 1501), ("period_ms", 650.5), ("led1", 2), ("led2", "on"),
])
def test_values_outside_the_validators_send_nothing(spectrometer, name, value):
    sim, driver = spectrometer
    with pytest.raises(ValueError):
        setattr(driver, name, value)
    assert (driver.pre_scans, driver.data_scans, driver.period_ms) == (3, 3, 650)
    assert commands(sim) == []


def test_text_commands_are_refused_clearly(spectrometer):
    _, driver = spectrometer
    for call in (lambda: driver.write("*IDN?"), lambda: driver.read(),
                 lambda: driver.ask("*IDN?"), lambda: driver.values("X")):
        with pytest.raises(TextProtocolError, match="speaks no text protocol"):
            call()
    assert driver.SCPI is False


def test_shut_down_driver_raises(spectrometer):
    _, driver = spectrometer
    driver.shutdown()
    assert driver.isShutdown
    with pytest.raises(ValueError, match="shut down"):
        driver.acquire()


def test_example_series_runs_headless_and_reads_back(port_dir, simulator, monkeypatch,
                                                     tmp_path):
    monkeypatch.setenv("ZORVIDLK_PORT_DIR", port_dir)
    monkeypatch.syspath_prepend(EXAMPLES)
    import series

    sim = simulator(1)
    procedure = series.SeriesProcedure()
    procedure.port, procedure.count, procedure.cadence, procedure.pixel = "1", 3, 1.0, 17
    procedure.data_scans, procedure.period_ms, procedure.timeout_scale = 2, 100, 300
    filename = str(tmp_path / "series.csv")
    series.run_series(procedure, filename)
    assert procedure.status == Procedure.FINISHED
    data = Results.load(filename, series.SeriesProcedure).data
    assert list(data.columns) == series.SeriesProcedure.DATA_COLUMNS
    assert data["Acquisition"].tolist() == [1, 2, 3]
    spectra = [event["values"] for event in sim.events("spectrum")]
    assert len(spectra) == 6
    means = [(spectra[2 * i][17] + spectra[2 * i + 1][17]) / 2 for i in range(3)]
    assert data["Mean counts"].tolist() == pytest.approx(means)
    times = data["Time (s)"].tolist()
    # The fixed cadence: acquisition i starts at its slot, i seconds in, or
    # later when the one before ran over; never before it.
    assert times[0] < 0.5 and all(start >= index - 0.01 for index, start in enumerate(times))
    loaded = Results.load(filename, series.SeriesProcedure).procedure
    assert (loaded.pixel, loaded.count) == (17, 3)
