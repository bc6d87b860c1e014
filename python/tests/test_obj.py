# read_obj_sequence reads what OrvEnc reads: folders in natural order,
# patterns, lists; zero-based faces; encode of the result round-trips.
import numpy as np

import orv


def write_frame(path, positions, faces):
    lines = ["v %r %r %r" % tuple(p) for p in positions] + ["f %d %d %d" % tuple(f + 1) for f in faces]
    path.write_text("\n".join(lines) + "\n")


def test_folder_natural_order_and_pattern(tmp_path, grid):
    pos, faces = grid
    names = ["%d.obj" % (i + 1) for i in range(pos.shape[0])]  # 1 .. 11: 10.obj sorts after 9.obj
    for name, p in zip(names, pos):
        write_frame(tmp_path / name, p, faces)
    (tmp_path / "notes.txt").write_text("not a frame")
    got_pos, got_faces = orv.read_obj_sequence(tmp_path)
    assert got_faces.dtype == np.int32 and np.array_equal(got_faces, faces)
    assert got_pos.dtype == np.float64 and got_pos.tobytes() == pos.tobytes()  # repr() round-trips doubles
    p2, _ = orv.read_obj_sequence(str(tmp_path / "%d.obj"))
    assert p2.tobytes() == pos.tobytes()
    p3, _ = orv.read_obj_sequence([tmp_path / "10.obj", tmp_path / "2.obj"])
    assert p3.tobytes() == pos[[9, 1]].tobytes()
    stream = orv.encode(got_pos, got_faces)
    r = orv.encode_with_quality(pos, faces, reconstruction=True)
    assert stream == r.stream
    assert orv.decode(stream, got_faces).tobytes() == r.reconstruction.tobytes()


def test_same_stream_as_orvenc(tmp_path, grid):
    import os
    import pathlib
    import subprocess

    import pytest

    bin_dir = os.environ.get("ORV_BIN_DIR")
    orvenc = pathlib.Path(bin_dir or ".") / "OrvEnc"
    if not bin_dir or not orvenc.is_file():
        pytest.skip("OrvEnc is not built (set ORV_BIN_DIR to its folder)")
    pos, faces = grid
    frames = tmp_path / "frames"
    frames.mkdir()
    for i, p in enumerate(pos):
        write_frame(frames / ("f%d.obj" % (i + 1)), p, faces)
    for args, options in [([], {}), (["-e", "2", "-t", "2"], dict(effort=2, temporal_layers=2, spatial_layers=None)),
                          (["--target-kg", "0.2"], dict(target_kg=0.2)),
                          (["--fixed-references", "-j", "2"], dict(fixed_references=True, threads=2))]:
        out = tmp_path / "seq.orv"
        subprocess.run([str(orvenc), "-q", *args, "-o", str(out), str(frames)], check=True, capture_output=True)
        read_pos, read_faces = orv.read_obj_sequence(frames)
        assert orv.encode(read_pos, read_faces, **options) == out.read_bytes(), args
