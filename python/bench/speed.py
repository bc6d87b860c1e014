"""Encode and decode speed from Python against OrvEnc and OrvDec on the same
sequence (a folder of OBJ frames), best of N wall-clock runs each.

  python python/bench/speed.py FRAMES_FOLDER BUILD_DIR [--runs N] [--effort E]

BUILD_DIR holds OrvEnc and OrvDec. The programs' times include reading
(OrvEnc) and writing (OrvDec) the OBJ text; the Python rows show reading the
OBJ frames apart, and decode() returns arrays without writing anything, so
OrvDec is also timed with its output discarded as far as it allows (written
to a scratch folder in /tmp). Million vertex-frames per second = V * F / time.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

import orv


def best(fn, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        r = fn()
        times.append(time.perf_counter() - t)
    return min(times), r


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("frames")
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--effort", type=int, default=1)
    a = ap.parse_args()
    enc, dec = (os.path.abspath(os.path.join(a.build, p)) for p in ("OrvEnc", "OrvDec"))

    t_read, (pos, faces) = best(lambda: orv.read_obj_sequence(a.frames), a.runs)
    F, V = pos.shape[:2]
    mvf = V * F / 1e6
    t_enc, stream = best(lambda: orv.encode(pos, faces, effort=a.effort), a.runs)
    t_dec, out = best(lambda: orv.decode(stream, faces), a.runs)
    t_iter, _ = best(lambda: sum(1 for _ in orv.Decoder(stream, faces)), a.runs)

    with tempfile.TemporaryDirectory() as tmp:
        s = os.path.join(tmp, "seq.orv")
        t_cenc, r = best(lambda: subprocess.run([enc, "-e", str(a.effort), "-o", s, a.frames], check=True,
                                                capture_output=True, text=True), a.runs)
        # OrvEnc's own report: "encoding speed : ... (1.50 s; loading 2.10 s)" (its last run)
        m = re.search(r"encoding speed.*\(([0-9.]+) s; loading ([0-9.]+) s\)", r.stdout)
        t_cenc_only, t_cload = (float(m.group(1)), float(m.group(2))) if m else (float("nan"),) * 2
        with open(s, "rb") as f:
            same = f.read() == stream
        con = os.path.join(tmp, "seq_con.obj")
        t_cdec, r = best(lambda: subprocess.run([dec, s, con], check=True, cwd=tmp,
                                                capture_output=True, text=True), a.runs)
        # OrvDec's report: decomposition time and decoding frame rate, before writing (its last run)
        m1 = re.search(r"Decomposition time :\s*([0-9.]+)sec", r.stdout)
        m2 = re.search(r"Decoding frame rate:\s*([0-9.]+)fps", r.stdout)
        t_cdec_only = float(m1.group(1)) + F / float(m2.group(1)) if m1 and m2 else float("nan")

    print("sequence %s: F=%d V=%d (%.3f M vertex-frames), stream %d bytes, effort %d; "
          "OrvEnc's stream %s orv.encode's" % (a.frames, F, V, mvf, len(stream), a.effort,
                                               "==" if same else "!="))
    rows = [("orv.read_obj_sequence", t_read), ("orv.encode", t_enc), ("OrvEnc (reads OBJ, writes stream)", t_cenc),
            ("  OrvEnc's encoding alone (its report)", t_cenc_only), ("  OrvEnc's loading (its report)", t_cload),
            ("orv.decode", t_dec), ("orv.Decoder iteration", t_iter), ("OrvDec (writes OBJ frames)", t_cdec),
            ("  OrvDec's decoding alone (its report)", t_cdec_only)]
    for name, t in rows:
        print("  %-36s %8.3f s  %7.2f M vertex-frames/s" % (name, t, mvf / t))
    return 0


if __name__ == "__main__":
    sys.exit(main())
