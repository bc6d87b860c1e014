/* orv: compressed, scalable animated triangle meshes — the C API.
 *
 * This is the only header a C user includes (C99; no C++ types cross it).
 * Handles are opaque. Every function that can fail returns a status: 0 (or a
 * positive count where documented) on success, a negative ORV_E_* value on
 * failure, with a one-line message that names the problem in the caller's
 * terms. No function prints, aborts, exits or lets an exception escape; all
 * of them are safe to call with untrusted streams and faces.
 *
 * Positions are doubles, x, y, z per vertex, vertices in stream order. A
 * decoded position is bit-identical to what OrvDec writes (before text
 * formatting) and to the encoder's own reconstruction, on every platform.
 */
#ifndef ORV_ORV_H
#define ORV_ORV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status values. */
#define ORV_OK 0
#define ORV_E_ARGUMENT (-1)  /* a null pointer, a count out of range, a call out of order */
#define ORV_E_STREAM (-2)    /* the stream is malformed, truncated or inconsistent */
#define ORV_E_FACES (-3)     /* the faces do not fit the stream (index out of range, wrong mesh) */
#define ORV_E_MEMORY (-4)    /* the memory needed could not be had */
#define ORV_E_ENCODE (-5)    /* the frames cannot be encoded with these options */
#define ORV_E_INTERNAL (-6)  /* an internal consistency check failed (a bug: please report it) */

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* orv_version(void);

/* Releases a buffer the library allocated for the caller (orv_encoder_finish). */
void orv_free(void* p);

/* ---- Decoding -------------------------------------------------------- */

typedef struct orv_decoder orv_decoder;

typedef struct orv_stream_info {
    int32_t vertex_count;      /* V */
    int32_t frame_count;       /* F */
    int32_t spatial_layers;    /* nSL held by the stream */
    int32_t temporal_layers;   /* nTL held by the stream */
    int32_t decoded_spatial_layers;   /* what this decoder decodes: the request, at most all */
    int32_t decoded_temporal_layers;
    int32_t ref_first_frame;   /* 1: every group's key frame refers to frame 0 */
    int32_t base_layer_pred;   /* 0 global, 1 local */
    double step_sizes[3];      /* first frame, base layer, enhancement layers */
} orv_stream_info;

/* Opens a decoder on a whole stream file (4-byte little-endian length, then
 * the bit stream) and its connectivity: face_count faces of 3 zero-based
 * vertex indices each, in the connectivity file's order. nsl / ntl are the
 * spatial and temporal layers to decode (0 = all). The stream bytes are
 * copied; the caller's buffers may be released after the call.
 * Returns 0 and a handle in *out, or a negative status, *out = NULL and a
 * one-line message in err (if err is not NULL; truncated to err_size). */
int orv_decoder_create(const uint8_t* stream, size_t stream_size, const int32_t* faces, size_t face_count, int nsl,
                       int ntl, orv_decoder** out, char* err, size_t err_size);

int orv_decoder_info(const orv_decoder* d, orv_stream_info* info);

/* The next frame in display order (0, 1, ..., F-1): writes its number to
 * *frame and 3*V doubles to positions. Returns 1 while a frame was written,
 * 0 after the last, a negative status on error (see orv_decoder_error). The
 * decoder holds only what later frames still need: memory does not grow
 * with F. */
int orv_decoder_read_frame(orv_decoder* d, int32_t* frame, double* positions);

/* The next orv_decoder_read_frame returns `frame` (0..F-1), decoding only
 * the records it depends on. */
int orv_decoder_seek(orv_decoder* d, int32_t frame);

/* Decodes the records of one temporal layer (those whose references are
 * decoded already) on up to nthreads threads, from the next read on; 1, the
 * default, decodes on the caller's thread. The frames do not change, bit for
 * bit. More threads than 64, or than the platform can start, count as fewer
 * (a WebAssembly build without threads uses 1). Besides what later frames
 * need, the decoder then holds up to nthreads - 1 frames decoded ahead and a
 * working copy of the layering per thread. Returns 0, ORV_E_ARGUMENT for
 * nthreads < 1, ORV_E_MEMORY when that memory is not there (the decoder
 * keeps its count). */
int orv_decoder_set_threads(orv_decoder* d, int nthreads);

/* The last error's one-line message ("" when there was none). Valid until
 * the next call on d. */
const char* orv_decoder_error(const orv_decoder* d);

void orv_decoder_destroy(orv_decoder* d);

/* ---- Encoding -------------------------------------------------------- */

typedef struct orv_encoder orv_encoder;

/* What to search the step size for, instead of a fixed precision. */
#define ORV_TARGET_NONE 0
#define ORV_TARGET_KG 1          /* KG error in percent, at most target_value */
#define ORV_TARGET_MAX_ERROR 2   /* largest vertex error / bounding-box diagonal, at most target_value */
#define ORV_TARGET_BPVF 3        /* bits per vertex per frame, at most target_value */

typedef struct orv_encoder_options {
    int32_t spatial_layers;    /* 0: the effort's choice (8, or 10 at effort 2) */
    int32_t temporal_layers;   /* default 4; at effort 2, nTL, ref_first_frame and base_layer_pred left at
                                  their defaults may be changed by the effort's trials, as in OrvEnc */
    int32_t effort;            /* 0 plain, 1 default, 2 smallest */
    int32_t precision_bits;    /* enhancement step = bounding-box diagonal / 2^bits; default 12 */
    double steps[3];           /* all > 0: explicit step sizes instead of a precision (plain rounding) */
    int32_t target;            /* ORV_TARGET_* */
    double target_value;
    int32_t ref_first_frame;   /* 0 or 1 */
    int32_t base_layer_pred;   /* 0 global, 1 local (default) */
} orv_encoder_options;

/* The defaults OrvEnc uses. */
void orv_encoder_options_default(orv_encoder_options* options);

/* The figures OrvEnc reports, known after orv_encoder_finish. */
typedef struct orv_encoder_quality {
    int32_t vertex_count, frame_count;
    int32_t spatial_layers, temporal_layers;
    double step_sizes[3];
    uint64_t stream_bytes;             /* the whole stream file */
    double bits_per_vertex_frame;
    double diagonal;                   /* bounding-box diagonal of the original sequence */
    double rmse, max_error, kg_error;  /* kg_error in percent */
    int32_t encodes;                   /* complete encodes a target search ran (1 otherwise) */
    int32_t target_met;                /* 1 when a target was given and met */
} orv_encoder_quality;

/* faces: face_count faces of 3 zero-based indices into vertex_count vertices;
 * options may be NULL for the defaults. */
int orv_encoder_create(int32_t vertex_count, const int32_t* faces, size_t face_count,
                       const orv_encoder_options* options, orv_encoder** out, char* err, size_t err_size);

/* Appends one frame of 3*V doubles (copied). */
int orv_encoder_add_frame(orv_encoder* e, const double* positions);

/* Encodes the frames added so far into a stream file; *stream is released
 * with orv_free. */
int orv_encoder_finish(orv_encoder* e, uint8_t** stream, size_t* size);

/* Codes the frames whose references are coded already on up to nthreads
 * threads in orv_encoder_finish (1, the default, codes on the caller's
 * thread). The stream does not change, by a single bit, with the count; more
 * than 256, or than the platform can start, count as fewer. Returns 0, or
 * ORV_E_ARGUMENT for nthreads < 1. */
int orv_encoder_set_threads(orv_encoder* e, int nthreads);

/* At effort 1 and 2 each frame may reference, instead of the temporal
 * hierarchy's frames, earlier frames that resemble it more (the same phase
 * of a cycle, say); on = 0 keeps the hierarchy's references, as OrvEnc's
 * --fixed-references does. On by default. Returns 0, or ORV_E_ARGUMENT for
 * a value other than 0 or 1. */
int orv_encoder_set_reference_choice(orv_encoder* e, int on);

int orv_encoder_quality_get(const orv_encoder* e, orv_encoder_quality* quality);

/* The encoder's own reconstruction of frame f (3*V doubles), after finish:
 * equal, bit for bit, to what a decoder of the whole stream gives. */
int orv_encoder_reconstruction(const orv_encoder* e, int32_t f, double* positions);

const char* orv_encoder_error(const orv_encoder* e);

void orv_encoder_destroy(orv_encoder* e);

/* ---- Packages (.orvp) -------------------------------------------------
 * One file with the metadata, the connectivity (coded losslessly, in its
 * exact face order and rotation) and the stream file unchanged; the layout
 * is docs/package-format.md. These functions are kept apart from the rest
 * of this header (they live in src/Api/PackageApi.cpp). */

typedef struct orv_package orv_package;

typedef struct orv_package_info {
    double frame_rate;            /* frames per second */
    double start_time;            /* seconds of the first frame */
    int32_t vertex_count;         /* V of the stream and the faces */
    int32_t source_vertex_count;  /* the vertex count of the source the package was made from */
    size_t face_count;
    size_t tex_coord_count;       /* 0 when the package has no texture coordinates */
    const char* name;             /* "" when none; valid while the package is */
} orv_package_info;

/* Parses a package held in memory (copied) or read from a file. Returns 0
 * and a handle in *out, or ORV_E_STREAM for a malformed package (ORV_E_ARGUMENT
 * for an unreadable file), *out = NULL and a one-line message in err. */
int orv_package_open(const uint8_t* data, size_t size, orv_package** out, char* err, size_t err_size);
int orv_package_read_file(const char* path, orv_package** out, char* err, size_t err_size);

int orv_package_get_info(const orv_package* p, orv_package_info* info);
/* 3 * face_count zero-based vertex ids, ready for orv_decoder_create. */
const int32_t* orv_package_faces(const orv_package* p);
/* The stream file (4-byte length, then the bit stream); *size receives its size. */
const uint8_t* orv_package_stream(const orv_package* p, size_t* size);
/* 2 * tex_coord_count doubles (u, v) and 3 * face_count texture ids, or NULL. */
const double* orv_package_tex_coords(const orv_package* p);
const int32_t* orv_package_tex_faces(const orv_package* p);

/* Writes a package from a stream file and its faces. name may be NULL. */
int orv_package_write_file(const char* path, const uint8_t* stream, size_t stream_size, const int32_t* faces,
                           size_t face_count, int32_t vertex_count, double frame_rate, const char* name, char* err,
                           size_t err_size);

void orv_package_destroy(orv_package* p);

#ifdef __cplusplus
}
#endif

#endif /* ORV_ORV_H */
