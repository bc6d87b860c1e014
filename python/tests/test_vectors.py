# Decoding the independent stream vectors: every position equals the
# reference decode (the .f64.xz files, which OrvDec matches) bit for bit, for
# full and reduced layers. Skips when ../shared is absent.
import lzma

import numpy as np
import pytest

import orv
from conftest import sequence_dir, shared_dir

# stream, sequence and first frame of its connectivity, decode layers, positions file
CASES = [
    ("horse10", "horse-gallop", "0001.obj", None, None, "horse10"),
    ("horse10", "horse-gallop", "0001.obj", 2, 2, "horse10_s2t2"),
    ("cow17", "pcow", "1.obj", None, None, "cow17"),
    ("cow17", "pcow", "1.obj", 1, 2, "cow17_s1t2"),
    ("chicken9", "chickenCrossing", "1.obj", None, None, "chicken9"),
    ("chicken9", "chickenCrossing", "1.obj", 1, 1, "chicken9_s1t1"),
]


@pytest.mark.parametrize("stream,sequence,first,nsl,ntl,expected", CASES, ids=[c[5] for c in CASES])
def test_vector_decodes_exactly(stream, sequence, first, nsl, ntl, expected):
    vectors = shared_dir() / "vectors"
    if not (vectors / (stream + ".orv")).is_file():
        pytest.skip("stream vectors are absent (%s)" % vectors)
    seq = sequence_dir(sequence)
    if seq is None:
        pytest.skip("shared data for %s is absent (../shared/data)" % sequence)
    _, faces = orv.read_obj_sequence([seq / first])
    data = (vectors / (stream + ".orv")).read_bytes()
    want = np.frombuffer(lzma.decompress((vectors / (expected + ".f64.xz")).read_bytes()), dtype="<f8")
    got = orv.decode(data, faces, nsl, ntl)
    assert got.size == want.size
    assert got.reshape(-1).tobytes() == want.tobytes()
    streamed = np.stack([p for _, p in orv.Decoder(data, faces, nsl, ntl)])
    assert streamed.tobytes() == want.tobytes()
