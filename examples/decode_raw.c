/* Decodes an orv stream to raw float32 positions on standard output: every
 * frame in display order, x, y, z per vertex. Usage:
 *   decode_raw STREAM.orv FACES.txt [nSL nTL] > positions.f32
 * FACES.txt holds 3 zero-based vertex indices per face (whitespace-separated).
 * Written against the public C API only (orv/orv.h). */
#include <stdio.h>
#include <stdlib.h>

#include "orv/orv.h"

static unsigned char* slurp(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* data = NULL;
    long n;
    if (!f) return NULL;
    if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
        data = (unsigned char*)malloc((size_t)n + 1);
        if (data && fread(data, 1, (size_t)n, f) == (size_t)n) *size = (size_t)n;
        else { free(data); data = NULL; }
    }
    fclose(f);
    return data;
}

int main(int argc, char** argv) {
    size_t size = 0, count = 0, cap = 0;
    int32_t* faces = NULL;
    int32_t frame, index;
    orv_decoder* d = NULL;
    orv_stream_info info;
    char err[256];
    unsigned char* stream;
    double* positions;
    float* out;
    FILE* ff;
    int status;
    size_t i;
    if (argc != 3 && argc != 5) { fprintf(stderr, "usage: %s STREAM FACES [nSL nTL]\n", argv[0]); return 2; }
    if (!(stream = slurp(argv[1], &size))) { fprintf(stderr, "%s: cannot read\n", argv[1]); return 1; }
    if (!(ff = fopen(argv[2], "r"))) { fprintf(stderr, "%s: cannot read\n", argv[2]); return 1; }
    while (fscanf(ff, "%d", &index) == 1) {
        if (count == cap) { cap = cap ? 2 * cap : 1024; faces = (int32_t*)realloc(faces, cap * sizeof *faces); }
        if (!faces) return 1;
        faces[count++] = index;
    }
    fclose(ff);
    status = orv_decoder_create(stream, size, faces, count / 3, argc == 5 ? atoi(argv[3]) : 0,
                                argc == 5 ? atoi(argv[4]) : 0, &d, err, sizeof err);
    free(stream);
    free(faces);
    if (status < 0) { fprintf(stderr, "orv: %s\n", err); return 1; }
    orv_decoder_info(d, &info);
    positions = (double*)malloc(3 * (size_t)info.vertex_count * sizeof *positions);
    out = (float*)malloc(3 * (size_t)info.vertex_count * sizeof *out);
    if (!positions || !out) return 1;
    while ((status = orv_decoder_read_frame(d, &frame, positions)) == 1) {
        for (i = 0; i < 3 * (size_t)info.vertex_count; ++i) out[i] = (float)positions[i];
        fwrite(out, sizeof *out, 3 * (size_t)info.vertex_count, stdout);
    }
    if (status < 0) fprintf(stderr, "orv: %s\n", orv_decoder_error(d));
    orv_decoder_destroy(d);
    free(positions);
    free(out);
    return status < 0 ? 1 : 0;
}
