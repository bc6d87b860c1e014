# Encoding and decoding through the bindings: the decode of a stream equals
# the encoder's reconstruction bit for bit, for the option sets that change
# the coding; reduced layers; the streaming decoder against decode().
import numpy as np
import pytest

import orv


def same_bits(a, b):
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


@pytest.mark.parametrize("options", [
    dict(),
    dict(effort=0),
    dict(effort=2),
    dict(precision=8, spatial_layers=3, temporal_layers=2),
    dict(ref_first_frame=True, base_layer_pred="global"),
    dict(steps=(1e-3, 2e-3, 4e-3), effort=0),
    dict(target_kg=0.5),
])
def test_decode_equals_reconstruction(grid, options):
    pos, faces = grid
    r = orv.encode_with_quality(pos, faces, reconstruction=True, **options)
    out = orv.decode(r.stream, faces)
    assert same_bits(out, r.reconstruction)
    q = r.quality
    assert (q.frame_count, q.vertex_count) == pos.shape[:2]
    assert q.stream_bytes == len(r.stream)
    # The figures describe this reconstruction of this input.
    assert q.max_error == pytest.approx(np.linalg.norm(out - pos, axis=2).max(), rel=1e-9)
    assert 0 < q.max_error < 0.05 * q.diagonal
    if "target_kg" in options:
        assert q.target_met and q.kg_error <= options["target_kg"] and q.encodes > 1


def test_encode_matches_encode_with_quality_and_float32(grid):
    pos, faces = grid
    s = orv.encode(pos, faces, precision=10)
    assert s == orv.encode_with_quality(pos, faces, precision=10).stream
    # float32 input is the same as its exact float64 widening.
    p32 = pos.astype(np.float32)
    assert orv.encode(p32, faces) == orv.encode(p32.astype(np.float64), faces)
    # Non-contiguous input and int64 faces are accepted as their values.
    assert orv.encode(np.asfortranarray(pos), faces.astype(np.int64), precision=10) == s


def test_info_and_reduced_layers(grid):
    pos, faces = grid
    stream = orv.encode(pos, faces, spatial_layers=4, temporal_layers=3)
    with orv.Decoder(stream, faces) as d:
        assert (d.info.spatial_layers, d.info.temporal_layers) == (4, 3)
        assert (d.vertex_count, d.frame_count, len(d)) == (pos.shape[1], pos.shape[0], pos.shape[0])
    full = orv.decode(stream, faces)
    err_full = np.abs(full - pos).max()
    for nsl, ntl in [(1, 1), (2, 3), (4, 1), (3, 2)]:
        with orv.Decoder(stream, faces, spatial_layers=nsl, temporal_layers=ntl) as d:
            assert (d.info.decoded_spatial_layers, d.info.decoded_temporal_layers) == (nsl, ntl)
        part = orv.decode(stream, faces, spatial_layers=nsl, temporal_layers=ntl)
        assert part.shape == pos.shape and np.isfinite(part).all()
        assert not same_bits(part, full)
        assert np.abs(part - pos).max() >= err_full
        # The streaming decoder gives the same frames at the same layers.
        streamed = np.stack([p for _, p in orv.Decoder(stream, faces, nsl, ntl)])
        assert same_bits(streamed, part)
    assert same_bits(orv.decode(stream, faces, spatial_layers=4, temporal_layers=3), full)
    # More layers than the stream holds decodes them all, as OrvDec does.
    assert same_bits(orv.decode(stream, faces, spatial_layers=99, temporal_layers=9), full)


def test_streaming_decoder_order_seek_and_threads(grid):
    pos, faces = grid
    stream = orv.encode(pos, faces, temporal_layers=3)
    full = orv.decode(stream, faces)
    d = orv.Decoder(stream, faces)
    frames = list(d)
    assert [f for f, _ in frames] == list(range(pos.shape[0]))
    assert same_bits(np.stack([p for _, p in frames]), full)
    assert d.read_frame() is None
    for target in (7, 0, 10, 3):
        d.seek(target)
        f, p = d.read_frame()
        assert f == target and same_bits(p, full[target])
    d.seek(9)
    assert [f for f, _ in d] == [9, 10]
    d.close()
    with pytest.raises(orv.OrvError):
        d.read_frame()
    assert same_bits(orv.decode(stream, faces, threads=2), full)
