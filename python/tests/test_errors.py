# Bad input raises Python exceptions with a clear message, never crashes:
# truncated or damaged streams, faces that do not fit, wrong shapes and
# dtypes, impossible encoder options, unreadable OBJ sequences.
import numpy as np
import pytest

import orv


@pytest.fixture(scope="module")
def coded(grid):
    pos, faces = grid
    return pos, faces, orv.encode(pos, faces)


def decode_fully(stream, faces, **kw):
    with orv.Decoder(stream, faces, **kw) as d:
        return list(d)


def test_truncated_and_damaged_streams(coded):
    _, faces, stream = coded
    for cut in (0, 3, 4, 10, len(stream) // 2, len(stream) - 1):
        with pytest.raises(orv.OrvError) as e:
            decode_fully(stream[:cut], faces)
        assert str(e.value) and "\n" not in str(e.value)
        assert e.value.status < 0
        with pytest.raises(orv.OrvError):
            orv.decode(stream[:cut], faces)
    longer = (len(stream) + 96).to_bytes(4, "little") + stream[4:]  # the length field claims 100 more bytes
    with pytest.raises(orv.OrvError):
        orv.decode(longer, faces)
    # Flipped bytes may decode to other positions but must not crash.
    rng = np.random.default_rng(5)
    for _ in range(20):
        b = bytearray(stream)
        i = int(rng.integers(4, len(b)))
        b[i] ^= 1 << int(rng.integers(0, 8))
        try:
            out = orv.decode(bytes(b), faces)
            assert out.shape[2] == 3
        except orv.OrvError as e:
            assert str(e)


def test_faces_that_do_not_fit(coded):
    pos, faces, stream = coded
    V = pos.shape[1]
    bad = faces.copy()
    bad[5, 1] = V
    with pytest.raises(orv.OrvError) as e:
        orv.decode(stream, bad)
    assert e.value.status == -3
    bad[5, 1] = -1
    with pytest.raises(orv.OrvError):
        orv.decode(stream, bad)
    with pytest.raises(orv.OrvError):
        orv.decode(stream, faces[:0])
    with pytest.raises(ValueError):
        orv.decode(stream, faces[:, :2])
    with pytest.raises(TypeError):
        orv.decode(stream, faces.astype(np.float64))
    with pytest.raises(ValueError):
        orv.decode(stream, faces.astype(np.int64) + 2**40)


def test_wrong_arguments(coded):
    pos, faces, stream = coded
    with pytest.raises(TypeError):
        orv.decode("not bytes", faces)
    with pytest.raises(ValueError):
        orv.decode(stream, faces, spatial_layers=0)
    with pytest.raises(ValueError):
        orv.encode(pos[0], faces)
    with pytest.raises(ValueError):
        orv.encode(pos[:, :, :2], faces)
    with pytest.raises(ValueError):
        orv.encode(pos[:0], faces)
    with pytest.raises(TypeError):
        orv.encode(pos.astype(np.int32), faces)
    nan = pos.copy()
    nan[2, 3, 1] = np.nan
    with pytest.raises(ValueError):
        orv.encode(nan, faces)
    bad = faces.copy()
    bad[0, 0] = pos.shape[1]
    with pytest.raises(orv.OrvError):
        orv.encode(pos, bad)
    for bad in (dict(temporal_layers=0), dict(spatial_layers=0), dict(steps=(1e-3, 0, 1e-3)), dict(steps=(1e-3,))):
        with pytest.raises(ValueError):
            orv.encode(pos, faces, effort=0, **bad)
    for bad in (dict(effort=7), dict(precision=0), dict(target_kg=-1.0), dict(temporal_layers=32),
                dict(steps=(1e-3, 1e-3, 1e297))):
        with pytest.raises(orv.OrvError):
            orv.encode(pos, faces, **bad)
    with pytest.raises(ValueError):
        orv.encode(pos, faces, target_kg=0.1, target_bpvf=2)
    with pytest.raises(ValueError):
        orv.encode(pos, faces, base_layer_pred="sideways")


def test_bad_obj_sequences(tmp_path):
    with pytest.raises(orv.OrvError) as e:
        orv.read_obj_sequence(tmp_path / "missing")
    assert "missing" in str(e.value)
    with pytest.raises(orv.OrvError):
        orv.read_obj_sequence(tmp_path)  # no .obj file
    (tmp_path / "1.obj").write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
    (tmp_path / "2.obj").write_text("v 0 0 0\nv 1 0 0\nf 1 2 3\n")
    with pytest.raises(orv.OrvError) as e:
        orv.read_obj_sequence(tmp_path)
    assert "2.obj" in str(e.value)
    (tmp_path / "2.obj").write_text("v 0 0 0\nv 1 zero 0\nv 0 1 0\nf 1 2 3\n")
    with pytest.raises(orv.OrvError) as e:
        orv.read_obj_sequence(tmp_path)
    assert "2.obj" in str(e.value)


def test_decoder_calls_out_of_range(coded):
    pos, faces, stream = coded
    with orv.Decoder(stream, faces) as d:
        for bad in (-1, pos.shape[0], 1 << 20):
            with pytest.raises(orv.OrvError):
                d.seek(bad)
        f, p = d.read_frame()  # a refused seek leaves the decoder usable
        assert f == 0 and p.shape == pos.shape[1:]
    with pytest.raises(ValueError):
        orv.Decoder(stream, faces, threads=0)
    for bad in (0, -3, True, 1.5):
        with pytest.raises(ValueError):
            orv.encode(pos, faces, threads=bad)
