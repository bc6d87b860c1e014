# Shared fixtures: a small synthetic animation (a waving grid) and the
# repository's shared test data (vectors and sequences), which tests skip
# without when it is absent.
import os
import pathlib
import tarfile
import tempfile

import numpy as np
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]


def grid_animation(nx=13, ny=9, frames=11, seed=1):
    """A rippling sheet: (F, V, 3) float64 positions and (T, 3) int32 faces."""
    rng = np.random.default_rng(seed)
    x, y = np.meshgrid(np.linspace(0.0, 2.0, nx), np.linspace(0.0, 1.0, ny))
    base = np.stack([x.ravel(), y.ravel(), np.zeros(nx * ny)], axis=1)
    t = np.arange(frames)[:, None]
    z = 0.2 * np.sin(3.0 * base[None, :, 0] + 0.4 * t) * np.cos(2.0 * base[None, :, 1] - 0.1 * t)
    pos = np.repeat(base[None], frames, axis=0)
    pos[:, :, 2] = z + 1e-3 * rng.standard_normal(z.shape)
    faces = []
    for j in range(ny - 1):
        for i in range(nx - 1):
            a = j * nx + i
            faces += [(a, a + 1, a + nx + 1), (a, a + nx + 1, a + nx)]
    return pos, np.array(faces, dtype=np.int32)


@pytest.fixture(scope="session")
def grid():
    return grid_animation()


def shared_dir():
    return pathlib.Path(os.environ.get("ORV_SHARED_DIR", REPO.parent / "shared"))


def sequence_dir(name):
    """A sequence of ../shared/data unpacked once per machine (the C++ tests'
    cache folder and marker), or None when the archive is absent."""
    archive = shared_dir() / "data" / (name + ".tar.xz")
    if not archive.is_file():
        return None
    cache = pathlib.Path(tempfile.gettempdir()) / "orv-shared-data"
    marker = cache / (name + ".done")
    if not marker.exists():
        cache.mkdir(parents=True, exist_ok=True)
        with tarfile.open(archive, "r:xz") as t:
            t.extractall(cache)
        marker.write_text("ok\n")
    return cache / name


def pytest_terminal_summary(terminalreporter):
    # One line in ctest's words, which the CI's closing count reads.
    stats = terminalreporter.stats
    passed = len(stats.get("passed", []))
    failed = len(stats.get("failed", [])) + len(stats.get("error", []))
    total = passed + failed + len(stats.get("skipped", []))
    if total:
        terminalreporter.write_line("python: %d%% tests passed, %d tests failed out of %d"
                                    % (100 * (total - failed) // total, failed, total))
