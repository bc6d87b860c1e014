// The package functions of the C API: thin wrappers over Package/, turning
// every exception into a status and a one-line message.
#include <cstring>
#include <new>
#include <string>

#include "Common/Check.h"
#include "Package/Package.h"
#include "orv/orv.h"

struct orv_package {
    orv::Package package;
};

namespace {

void setError(char* _err, size_t _size, const std::string& _message) {
    if (_err == nullptr || _size == 0) return;
    const size_t n = _message.size() < _size - 1 ? _message.size() : _size - 1;
    std::memcpy(_err, _message.data(), n);
    _err[n] = '\0';
}

template <class F>
int guarded(char* _err, size_t _errSize, int _failure, F&& _f) {
    try {
        _f();
        setError(_err, _errSize, "");
        return ORV_OK;
    } catch (const orv::Error& e) {
        setError(_err, _errSize, e.what());
        return _failure;
    } catch (const std::bad_alloc&) {
        setError(_err, _errSize, "out of memory");
        return ORV_E_MEMORY;
    } catch (const std::exception& e) {
        setError(_err, _errSize, e.what());
        return ORV_E_INTERNAL;
    }
}

}  // namespace

extern "C" int orv_package_open(const uint8_t* data, size_t size, orv_package** out, char* err, size_t err_size) {
    if (out == nullptr) return ORV_E_ARGUMENT;
    *out = nullptr;
    if (data == nullptr && size > 0) {
        setError(err, err_size, "no package data");
        return ORV_E_ARGUMENT;
    }
    return guarded(err, err_size, ORV_E_STREAM, [&] {
        auto* p = new orv_package{orv::parsePackage(data, size, "package")};
        *out = p;
    });
}

extern "C" int orv_package_read_file(const char* path, orv_package** out, char* err, size_t err_size) {
    if (out == nullptr) return ORV_E_ARGUMENT;
    *out = nullptr;
    if (path == nullptr) {
        setError(err, err_size, "no package path");
        return ORV_E_ARGUMENT;
    }
    if (!orv::isPackageFile(path)) {
        // Tell an unreadable file from one that is not a package.
        return guarded(err, err_size, ORV_E_ARGUMENT, [&] { *out = new orv_package{orv::readPackageFile(path)}; });
    }
    return guarded(err, err_size, ORV_E_STREAM, [&] { *out = new orv_package{orv::readPackageFile(path)}; });
}

extern "C" int orv_package_get_info(const orv_package* p, orv_package_info* info) {
    if (p == nullptr || info == nullptr) return ORV_E_ARGUMENT;
    info->frame_rate = p->package.frameRate;
    info->start_time = p->package.startTime;
    info->vertex_count = p->package.connectivity.vertexCount;
    info->source_vertex_count = p->package.sourceVertexCount;
    info->face_count = p->package.connectivity.faceCount();
    info->tex_coord_count = p->package.texFaces.empty() ? 0 : p->package.texCoords.size() / 2;
    info->name = p->package.name.c_str();
    return ORV_OK;
}

extern "C" const int32_t* orv_package_faces(const orv_package* p) {
    return p == nullptr ? nullptr : p->package.connectivity.indices.data();
}

extern "C" const uint8_t* orv_package_stream(const orv_package* p, size_t* size) {
    if (p == nullptr) return nullptr;
    if (size != nullptr) *size = p->package.stream.size();
    return p->package.stream.data();
}

extern "C" const double* orv_package_tex_coords(const orv_package* p) {
    return p == nullptr || p->package.texFaces.empty() ? nullptr : p->package.texCoords.data();
}

extern "C" const int32_t* orv_package_tex_faces(const orv_package* p) {
    return p == nullptr || p->package.texFaces.empty() ? nullptr : p->package.texFaces.data();
}

extern "C" int orv_package_write_file(const char* path, const uint8_t* stream, size_t stream_size, const int32_t* faces,
                                      size_t face_count, int32_t vertex_count, double frame_rate, const char* name,
                                      char* err, size_t err_size) {
    if (path == nullptr || stream == nullptr || (faces == nullptr && face_count > 0)) {
        setError(err, err_size, "a null argument");
        return ORV_E_ARGUMENT;
    }
    return guarded(err, err_size, ORV_E_ARGUMENT, [&] {
        orv::Package p;
        p.frameRate = frame_rate;
        p.sourceVertexCount = vertex_count;
        if (name != nullptr) p.name = name;
        p.connectivity.vertexCount = vertex_count;
        p.connectivity.indices.assign(faces, faces + 3 * face_count);
        p.stream.assign(stream, stream + stream_size);
        orv::writePackageFile(path, p);
    });
}

extern "C" void orv_package_destroy(orv_package* p) { delete p; }
