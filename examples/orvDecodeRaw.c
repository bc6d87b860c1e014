/* Decodes an orv stream to raw float32 positions on standard output: frame
 * after frame in display order, x, y, z per vertex. A user of the installed
 * package in a few lines of C99:  orvDecodeRaw STREAM.orv CON.obj [nSL nTL] */
#include <orv/orv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void* slurp(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    char* data = NULL;
    long n;
    if (!f || fseek(f, 0, SEEK_END) != 0 || (n = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) goto done;
    if ((data = malloc((size_t)n + 1)) && fread(data, 1, (size_t)n, f) == (size_t)n) {
        data[n] = 0;
        *size = (size_t)n;
    } else {
        free(data);
        data = NULL;
    }
done:
    if (f) fclose(f);
    return data;
}

/* The "f a b c" lines of an OBJ file, as zero-based indices. */
static int32_t* readFaces(const char* text, size_t* count) {
    size_t cap = 1024, n = 0;
    int32_t* faces = malloc(cap * 3 * sizeof *faces);
    for (const char* line = text; faces && line && *line; line = strchr(line, '\n'), line += line ? 1 : 0) {
        long a, b, c;
        if (sscanf(line, "f %ld%*[^ ] %ld%*[^ ] %ld", &a, &b, &c) != 3 && sscanf(line, "f %ld %ld %ld", &a, &b, &c) != 3)
            continue;
        if (n == cap && !(faces = realloc(faces, (cap *= 2) * 3 * sizeof *faces))) break;
        faces[3 * n] = (int32_t)(a - 1), faces[3 * n + 1] = (int32_t)(b - 1), faces[3 * n + 2] = (int32_t)(c - 1);
        ++n;
    }
    *count = n;
    return faces;
}

int main(int argc, char** argv) {
    size_t streamSize = 0, objSize = 0, faceCount = 0;
    char err[256];
    orv_decoder* d = NULL;
    orv_stream_info info;
    if (argc != 3 && argc != 5) return fprintf(stderr, "usage: orvDecodeRaw STREAM.orv CON.obj [nSL nTL]\n"), 2;
    uint8_t* stream = slurp(argv[1], &streamSize);
    char* obj = slurp(argv[2], &objSize);
    if (!stream || !obj) return fprintf(stderr, "orvDecodeRaw: cannot read %s\n", stream ? argv[2] : argv[1]), 1;
    int32_t* faces = readFaces(obj, &faceCount);
    int nsl = argc == 5 ? atoi(argv[3]) : 0, ntl = argc == 5 ? atoi(argv[4]) : 0;
    if (orv_decoder_create(stream, streamSize, faces, faceCount, nsl, ntl, &d, err, sizeof err) != ORV_OK)
        return fprintf(stderr, "orvDecodeRaw: %s\n", err), 1;
    orv_decoder_info(d, &info);
    size_t n = 3 * (size_t)info.vertex_count;
    double* positions = malloc(n * sizeof *positions);
    float* out = malloc(n * sizeof *out);
    int32_t frame;
    int status;
    while (positions && out && (status = orv_decoder_read_frame(d, &frame, positions)) == 1) {
        for (size_t i = 0; i < n; ++i) out[i] = (float)positions[i];
        if (fwrite(out, sizeof *out, n, stdout) != n) return fprintf(stderr, "orvDecodeRaw: write failed\n"), 1;
    }
    if (status < 0) fprintf(stderr, "orvDecodeRaw: %s\n", orv_decoder_error(d));
    orv_decoder_destroy(d);
    free(positions), free(out), free(faces), free(stream), free(obj);
    return status < 0 || fflush(stdout) != 0;
}
