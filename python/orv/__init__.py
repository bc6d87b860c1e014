"""orv: compressed, scalable animated triangle meshes, from and to numpy.

    positions, faces = orv.read_obj_sequence("frames/")    # (F, V, 3) float64, (T, 3) int32
    stream = orv.encode(positions, faces, precision=12)     # bytes: a whole .orv file
    again = orv.decode(stream, faces)                       # (F, V, 3) float64
    for frame, p in orv.Decoder(stream, faces, spatial_layers=2):
        ...                                                 # p: (V, 3), frames in display order

encode_with_quality() returns the stream with OrvEnc's quality figures (and,
on request, the encoder's reconstruction, which decode() reproduces bit for
bit). Failures reported by the library raise OrvError (a ValueError) carrying
the library's one-line message and its status code; arrays of the wrong shape
raise ValueError, of the wrong dtype TypeError.
"""

from dataclasses import dataclass
import os
from typing import Iterator, Optional, Sequence, Tuple, Union

import numpy as np

from . import _orv

__all__ = ["OrvError", "encode", "encode_with_quality", "EncodeResult", "Quality", "StreamInfo",
           "decode", "Decoder", "read_obj_sequence", "version"]

__version__ = _orv.version()
OrvError = _orv.OrvError
OrvError.__module__ = "orv"
OrvError.__doc__ = ("A failure reported by the orv library: str(e) is its one-line message, "
                    "e.status its negative status code (see STATUS_NAMES).")

# The library's status codes (include/orv/orv.h).
STATUS_NAMES = {-1: "argument", -2: "stream", -3: "faces", -4: "memory", -5: "encode", -6: "internal"}


def version() -> str:
    """The C++ library's version, "MAJOR.MINOR.PATCH"."""
    return _orv.version()


# ---- argument checks ------------------------------------------------------

def _faces_array(faces) -> np.ndarray:
    a = np.asarray(faces)
    if a.dtype.kind not in "iu":
        raise TypeError("faces must be an integer array, got dtype %s" % a.dtype)
    if a.ndim != 2 or a.shape[1] != 3:
        raise ValueError("faces must have shape (T, 3), got %s" % (a.shape,))
    if a.size and (a.min() < np.iinfo(np.int32).min or a.max() > np.iinfo(np.int32).max):
        raise ValueError("faces hold an index outside the 32-bit range")
    return np.ascontiguousarray(a, dtype=np.int32)


def _positions_array(positions) -> np.ndarray:
    a = np.asarray(positions)
    if a.dtype not in (np.float64, np.float32):
        raise TypeError("positions must be float64 or float32, got dtype %s" % a.dtype)
    if a.ndim != 3 or a.shape[2] != 3:
        raise ValueError("positions must have shape (F, V, 3), got %s" % (a.shape,))
    if a.shape[0] == 0 or a.shape[1] == 0:
        raise ValueError("positions must hold at least one frame of at least one vertex, got %s" % (a.shape,))
    if not np.isfinite(a).all():
        raise ValueError("positions hold a non-finite coordinate")
    # float32 widens to float64 exactly, so the stream codes the caller's values.
    return np.ascontiguousarray(a, dtype=np.float64)


def _stream_bytes(stream) -> bytes:
    if isinstance(stream, bytes):
        return stream
    if isinstance(stream, (bytearray, memoryview)):
        return bytes(stream)
    if isinstance(stream, np.ndarray) and stream.dtype == np.uint8:
        return stream.tobytes()
    raise TypeError("stream must be bytes (a whole .orv file), got %s" % type(stream).__name__)


def _layers(n, what: str) -> int:
    """A layer count for the C API, where 0 means all (or the default)."""
    if n is None:
        return 0
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)) or n < 1:
        raise ValueError("%s must be a positive integer or None (all), got %r" % (what, n))
    return int(n)


# ---- encoding -------------------------------------------------------------

@dataclass(frozen=True)
class Quality:
    """The figures OrvEnc reports for an encode."""
    vertex_count: int
    frame_count: int
    spatial_layers: int
    temporal_layers: int
    step_sizes: Tuple[float, float, float]  # first frame, base layer, enhancement layers
    stream_bytes: int                       # the whole stream file
    bits_per_vertex_frame: float
    diagonal: float                         # bounding-box diagonal of the input
    rmse: float
    max_error: float                        # largest vertex error
    kg_error: float                         # KG error in percent
    encodes: int                            # complete encodes a target search ran (1 otherwise)
    target_met: bool                        # a target was given and met


@dataclass(frozen=True)
class EncodeResult:
    stream: bytes
    quality: Quality
    reconstruction: Optional[np.ndarray]    # (F, V, 3) float64 when asked for, else None


_TARGETS = {"target_kg": 1, "target_max_error": 2, "target_bpvf": 3}


def encode_with_quality(positions, faces, effort: int = 1, precision: int = 12,
                        spatial_layers: Optional[int] = 8, temporal_layers: int = 4,
                        target_kg: Optional[float] = None, target_max_error: Optional[float] = None,
                        target_bpvf: Optional[float] = None,
                        steps: Optional[Sequence[float]] = None, ref_first_frame: bool = False,
                        base_layer_pred: str = "local", reconstruction: bool = False,
                        threads: int = 1, fixed_references: bool = False) -> EncodeResult:
    """Encodes positions (F, V, 3) with faces (T, 3) as OrvEnc would.

    spatial_layers is 8 by default; None takes the effort's choice (8, or 10
    at effort 2), as OrvEnc does without -s. At most one target (target_kg in percent, target_max_error
    relative to the bounding-box diagonal, target_bpvf in bits per vertex per
    frame) searches the step size instead of using precision; steps = (first
    frame, base layer, enhancement layers) gives explicit step sizes.
    reconstruction=True also returns the encoder's reconstruction, which
    decode() of the stream reproduces bit for bit. threads codes frames side
    by side (the stream is the same for every count); fixed_references keeps
    the temporal hierarchy's references, as OrvEnc --fixed-references does.
    """
    p = _positions_array(positions)
    f = _faces_array(faces)
    # 0 means "the default" to the C API; here a layer count is given or None.
    options = {"effort": int(effort), "precision": int(precision),
               "temporal_layers": _layers(temporal_layers, "temporal_layers"),
               "ref_first_frame": 1 if ref_first_frame else 0}
    if spatial_layers is not None:
        options["spatial_layers"] = _layers(spatial_layers, "spatial_layers")
    if base_layer_pred not in ("local", "global"):
        raise ValueError("base_layer_pred must be 'local' or 'global', got %r" % (base_layer_pred,))
    options["base_layer_pred"] = 1 if base_layer_pred == "local" else 0
    if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or threads < 1:
        raise ValueError("threads must be a positive integer, got %r" % (threads,))
    options["threads"] = int(threads)
    options["reference_choice"] = 0 if fixed_references else 1
    targets = {k: v for k, v in (("target_kg", target_kg), ("target_max_error", target_max_error),
                                 ("target_bpvf", target_bpvf)) if v is not None}
    if len(targets) > 1:
        raise ValueError("give at most one of target_kg, target_max_error, target_bpvf")
    for k, v in targets.items():
        options["target"] = _TARGETS[k]
        options["target_value"] = float(v)
    if steps is not None:
        steps = [float(x) for x in steps]
        # The C API falls back to the precision unless all three are positive.
        if len(steps) != 3 or not all(np.isfinite(x) and x > 0 for x in steps):
            raise ValueError("steps must be 3 positive step sizes (first frame, base layer, enhancement), got %r"
                             % (steps,))
        options["steps"] = steps
    e = _orv.Encoder(p.shape[1], f, options)
    e.add_frames(p)
    stream = e.finish()
    quality = Quality(**e.quality())
    recon = e.reconstruction(p.shape[0]) if reconstruction else None
    return EncodeResult(stream, quality, recon)


def encode(positions, faces, effort: int = 1, precision: int = 12, spatial_layers: Optional[int] = 8,
           temporal_layers: int = 4, target_kg: Optional[float] = None, **options) -> bytes:
    """Encodes positions (F, V, 3) with faces (T, 3) into a stream file (bytes);
    the options are encode_with_quality's."""
    return encode_with_quality(positions, faces, effort=effort, precision=precision,
                               spatial_layers=spatial_layers, temporal_layers=temporal_layers,
                               target_kg=target_kg, **options).stream


# ---- decoding -------------------------------------------------------------

@dataclass(frozen=True)
class StreamInfo:
    vertex_count: int
    frame_count: int
    spatial_layers: int            # held by the stream
    temporal_layers: int
    decoded_spatial_layers: int    # what this decoder decodes
    decoded_temporal_layers: int
    ref_first_frame: bool
    base_layer_pred: str           # "global" or "local"
    step_sizes: Tuple[float, float, float]


class Decoder:
    """Decodes a stream frame by frame, in display order, holding only what
    later frames need. Iterating yields (frame, positions (V, 3) float64);
    seek(f) makes the next frame f. Closes with close() or as a context
    manager."""

    def __init__(self, stream, faces, spatial_layers: Optional[int] = None,
                 temporal_layers: Optional[int] = None, threads: int = 1):
        self._d = _orv.Decoder(_stream_bytes(stream), _faces_array(faces),
                               _layers(spatial_layers, "spatial_layers"), _layers(temporal_layers, "temporal_layers"))
        if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or threads < 1:
            raise ValueError("threads must be a positive integer, got %r" % (threads,))
        if threads != 1:
            self._d.set_threads(int(threads))
        self.info = StreamInfo(**self._d.info())

    @property
    def vertex_count(self) -> int:
        return self.info.vertex_count

    @property
    def frame_count(self) -> int:
        return self.info.frame_count

    def __len__(self) -> int:
        return self.info.frame_count

    def read_frame(self) -> Optional[Tuple[int, np.ndarray]]:
        """(frame, positions (V, 3)) of the next frame, or None after the last."""
        return self._d.read_frame()

    def seek(self, frame: int) -> None:
        self._d.seek(int(frame))

    def __iter__(self) -> Iterator[Tuple[int, np.ndarray]]:
        return self

    def __next__(self) -> Tuple[int, np.ndarray]:
        r = self._d.read_frame()
        if r is None:
            raise StopIteration
        return r

    def close(self) -> None:
        self._d.close()

    def __enter__(self) -> "Decoder":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def decode(stream, faces, spatial_layers: Optional[int] = None, temporal_layers: Optional[int] = None,
           threads: int = 1) -> np.ndarray:
    """Every frame of the stream as (F, V, 3) float64, in display order,
    bit-identical to OrvDec's positions. spatial_layers / temporal_layers
    limit the layers decoded (None: all)."""
    d = Decoder(stream, faces, spatial_layers, temporal_layers, threads)
    try:
        return d._d.read_all()
    finally:
        d.close()


# ---- OBJ input ------------------------------------------------------------

PathArg = Union[str, os.PathLike]


def read_obj_sequence(folder: Union[PathArg, Sequence[PathArg]]) -> Tuple[np.ndarray, np.ndarray]:
    """The frames OrvEnc reads for the same argument(s): a folder's .obj files
    in natural order (2.obj before 10.obj), a printf pattern such as
    "walk/%04d.obj", or a list of these and files. Returns positions
    (F, V, 3) float64 and the first frame's faces (T, 3) int32 (zero-based);
    frames whose vertex count or faces differ raise OrvError."""
    args = [folder] if isinstance(folder, (str, os.PathLike)) else list(folder)
    return _orv.read_obj_sequence([os.fspath(a) for a in args])
