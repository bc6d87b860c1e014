// The orv._orv extension: thin pybind11 wrappers over the public C API
// (decoder and encoder handles) plus the OBJ sequence loader OrvEnc uses, so
// that arrays read here are exactly what OrvEnc would encode. Argument shapes
// and dtypes are checked in orv/__init__.py; this layer only checks what it
// relies on for memory safety (contiguous arrays of the right length).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "EncoderApp/FrameSource.h"
#include "orv/orv.h"

namespace py = pybind11;

namespace {

using DoubleArray = py::array_t<double, py::array::c_style>;
using FaceArray = py::array_t<int32_t, py::array::c_style>;

// A failure reported by the library: its status and its one-line message.
struct OrvFailure {
    int status;
    std::string message;
};

[[noreturn]] void fail(int _status, std::string _message) {
    if (_message.empty()) _message = "orv call failed with status " + std::to_string(_status);
    throw OrvFailure{_status, std::move(_message)};
}

// Faces as the C API wants them: T x 3 int32, contiguous.
std::pair<const int32_t*, size_t> faceView(const FaceArray& _faces) {
    if (_faces.ndim() != 2 || _faces.shape(1) != 3) throw py::value_error("faces must have shape (T, 3)");
    return {_faces.data(), static_cast<size_t>(_faces.shape(0))};
}

py::dict infoDict(const orv_stream_info& _i) {
    py::dict d;
    d["vertex_count"] = _i.vertex_count;
    d["frame_count"] = _i.frame_count;
    d["spatial_layers"] = _i.spatial_layers;
    d["temporal_layers"] = _i.temporal_layers;
    d["decoded_spatial_layers"] = _i.decoded_spatial_layers;
    d["decoded_temporal_layers"] = _i.decoded_temporal_layers;
    d["ref_first_frame"] = _i.ref_first_frame != 0;
    d["base_layer_pred"] = _i.base_layer_pred == 0 ? "global" : "local";
    d["step_sizes"] = py::make_tuple(_i.step_sizes[0], _i.step_sizes[1], _i.step_sizes[2]);
    return d;
}

// One decoder handle. Calls are serialised by a mutex because they run
// without the GIL: two Python threads sharing one Decoder must not race.
class Decoder {
public:
    Decoder(const py::bytes& _stream, const FaceArray& _faces, int _nsl, int _ntl) {
        const std::string_view stream = _stream;  // no copy: the library copies the bytes itself
        const auto [faces, faceCount] = faceView(_faces);
        char err[512] = "";
        int status;
        {
            py::gil_scoped_release unlocked;
            status = orv_decoder_create(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), faces,
                                        faceCount, _nsl, _ntl, &d_, err, sizeof err);
        }
        if (status < 0) fail(status, err);
        status = orv_decoder_info(d_, &info_);
        if (status < 0) fail(status, orv_decoder_error(d_));
    }
    ~Decoder() { close(); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void close() {
        std::lock_guard<std::mutex> lock(m_);
        if (d_) orv_decoder_destroy(d_);
        d_ = nullptr;
    }

    py::dict info() const { return infoDict(info_); }

    // The next frame in display order as (frame, V x 3 array), or None after the last.
    py::object readFrame() {
        DoubleArray out({static_cast<py::ssize_t>(info_.vertex_count), py::ssize_t{3}});
        int32_t frame = -1;
        int status;
        {
            std::lock_guard<std::mutex> lock(m_);
            open();
            double* p = out.mutable_data();
            py::gil_scoped_release unlocked;
            status = orv_decoder_read_frame(d_, &frame, p);
        }
        check(status);
        if (status == 0) return py::none();
        return py::make_tuple(frame, std::move(out));
    }

    // Every frame of a fresh decoder into an F x V x 3 array, written in place.
    DoubleArray readAll() {
        const py::ssize_t F = info_.frame_count, V = info_.vertex_count;
        DoubleArray out({F, V, py::ssize_t{3}});
        const size_t n = 3 * static_cast<size_t>(V);
        int status = 0;
        bool ordered = true;
        {
            std::lock_guard<std::mutex> lock(m_);
            open();
            double* p = out.mutable_data();
            py::gil_scoped_release unlocked;
            std::vector<double> extra;  // where a frame beyond F would land (never, unless the library is wrong)
            for (py::ssize_t k = 0;; ++k) {
                if (k == F) extra.resize(n);
                int32_t frame = -1;
                status = orv_decoder_read_frame(d_, &frame, k < F ? p + n * k : extra.data());
                if (status <= 0) {
                    ordered = k == F || status < 0;
                    break;
                }
                if (k >= F || frame != k) {
                    ordered = false;
                    break;
                }
            }
        }
        check(status);
        if (!ordered) fail(ORV_E_INTERNAL, "the decoder did not return every frame once in display order");
        return out;
    }

    void seek(int32_t _frame) {
        int status;
        {
            std::lock_guard<std::mutex> lock(m_);
            open();
            status = orv_decoder_seek(d_, _frame);
        }
        check(status);
    }

    void setThreads(int _n) {
        std::lock_guard<std::mutex> lock(m_);
        open();
        check(orv_decoder_set_threads(d_, _n));
    }

private:
    void open() const {
        if (!d_) fail(ORV_E_ARGUMENT, "the decoder is closed");
    }
    void check(int _status) const {
        if (_status < 0) fail(_status, d_ ? orv_decoder_error(d_) : "the decoder is closed");
    }

    orv_decoder* d_ = nullptr;
    orv_stream_info info_{};
    std::mutex m_;
};

class Encoder {
public:
    Encoder(int32_t _V, const FaceArray& _faces, const py::dict& _options) {
        orv_encoder_options o;
        orv_encoder_options_default(&o);
        int threads = 1, chooseReferences = 1;
        for (auto item : _options) {
            const std::string key = py::cast<std::string>(item.first);
            py::handle v = item.second;
            if (key == "spatial_layers") o.spatial_layers = py::cast<int32_t>(v);
            else if (key == "temporal_layers") o.temporal_layers = py::cast<int32_t>(v);
            else if (key == "effort") o.effort = py::cast<int32_t>(v);
            else if (key == "precision") o.precision_bits = py::cast<int32_t>(v);
            else if (key == "steps") {
                const auto s = py::cast<std::vector<double>>(v);
                if (s.size() != 3) throw py::value_error("steps must hold 3 step sizes");
                std::copy(s.begin(), s.end(), o.steps);
            } else if (key == "target") o.target = py::cast<int32_t>(v);
            else if (key == "target_value") o.target_value = py::cast<double>(v);
            else if (key == "ref_first_frame") o.ref_first_frame = py::cast<int32_t>(v);
            else if (key == "base_layer_pred") o.base_layer_pred = py::cast<int32_t>(v);
            else if (key == "threads") threads = py::cast<int>(v);
            else if (key == "reference_choice") chooseReferences = py::cast<int>(v);
            else throw py::value_error("unknown encoder option " + key);
        }
        const auto [faces, faceCount] = faceView(_faces);
        char err[512] = "";
        const int status = orv_encoder_create(_V, faces, faceCount, &o, &e_, err, sizeof err);
        if (status < 0) fail(status, err);
        V_ = _V;
        check(orv_encoder_set_threads(e_, threads));
        check(orv_encoder_set_reference_choice(e_, chooseReferences));
    }
    ~Encoder() {
        if (e_) orv_encoder_destroy(e_);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Frames as an F x V x 3 float64 array.
    void addFrames(const DoubleArray& _positions) {
        if (_positions.ndim() != 3 || _positions.shape(1) != V_ || _positions.shape(2) != 3)
            throw py::value_error("positions must have shape (F, V, 3)");
        const double* p = _positions.data();
        const size_t n = 3 * static_cast<size_t>(V_);
        std::lock_guard<std::mutex> lock(m_);
        for (py::ssize_t f = 0; f < _positions.shape(0); ++f) check(orv_encoder_add_frame(e_, p + n * f));
    }

    py::bytes finish() {
        uint8_t* stream = nullptr;
        size_t size = 0;
        int status;
        {
            std::lock_guard<std::mutex> lock(m_);
            py::gil_scoped_release unlocked;
            status = orv_encoder_finish(e_, &stream, &size);
        }
        check(status);
        py::bytes out(reinterpret_cast<const char*>(stream), size);
        orv_free(stream);
        return out;
    }

    py::dict quality() {
        orv_encoder_quality q{};
        {
            std::lock_guard<std::mutex> lock(m_);
            check(orv_encoder_quality_get(e_, &q));
        }
        py::dict d;
        d["vertex_count"] = q.vertex_count;
        d["frame_count"] = q.frame_count;
        d["spatial_layers"] = q.spatial_layers;
        d["temporal_layers"] = q.temporal_layers;
        d["step_sizes"] = py::make_tuple(q.step_sizes[0], q.step_sizes[1], q.step_sizes[2]);
        d["stream_bytes"] = q.stream_bytes;
        d["bits_per_vertex_frame"] = q.bits_per_vertex_frame;
        d["diagonal"] = q.diagonal;
        d["rmse"] = q.rmse;
        d["max_error"] = q.max_error;
        d["kg_error"] = q.kg_error;
        d["encodes"] = q.encodes;
        d["target_met"] = q.target_met != 0;
        return d;
    }

    DoubleArray reconstruction(int32_t _frames) {
        DoubleArray out({static_cast<py::ssize_t>(_frames), static_cast<py::ssize_t>(V_), py::ssize_t{3}});
        double* p = out.mutable_data();
        const size_t n = 3 * static_cast<size_t>(V_);
        std::lock_guard<std::mutex> lock(m_);
        for (int32_t f = 0; f < _frames; ++f) check(orv_encoder_reconstruction(e_, f, p + n * f));
        return out;
    }

private:
    void check(int _status) const {
        if (_status < 0) fail(_status, orv_encoder_error(e_));
    }

    orv_encoder* e_ = nullptr;
    int32_t V_ = 0;
    std::mutex m_;
};

// The frames OrvEnc would read for these arguments (a folder in natural
// order, a printf pattern, files), as F x V x 3 positions and T x 3 faces.
py::tuple readObjSequence(const std::vector<std::string>& _args) {
    orv::LoadedAnimation anim;
    {
        py::gil_scoped_release unlocked;
        try {
            anim = orv::loadAnimation(orv::expandFrameArguments(_args));
        } catch (const std::bad_alloc&) {
            fail(ORV_E_MEMORY, "not enough memory for the frames");
        } catch (const std::exception& e) {
            fail(ORV_E_ARGUMENT, e.what());
        }
    }
    const int F = anim.positions.F, V = anim.positions.V;
    DoubleArray positions({static_cast<py::ssize_t>(F), static_cast<py::ssize_t>(V), py::ssize_t{3}});
    double* p = positions.mutable_data();
    const size_t n = 3 * static_cast<size_t>(V);
    for (int f = 0; f < F; ++f) std::memcpy(p + n * f, anim.positions.frame(f), n * sizeof(double));
    FaceArray faces({static_cast<py::ssize_t>(anim.faces.size()), py::ssize_t{3}});
    int32_t* q = faces.mutable_data();
    for (size_t i = 0; i < anim.faces.size(); ++i)
        for (size_t k = 0; k < 3; ++k) q[3 * i + k] = anim.faces[i][k];  // the loader admits triangles only
    return py::make_tuple(std::move(positions), std::move(faces));
}

}  // namespace

PYBIND11_MODULE(_orv, m) {
    m.doc() = "orv's C API for Python (use the orv package, not this module)";
    static py::exception<OrvFailure> orvError(m, "OrvError", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const OrvFailure& f) {
            py::object e = py::handle(orvError.ptr())(f.message);
            e.attr("status") = f.status;
            PyErr_SetObject(orvError.ptr(), e.ptr());
        }
    });

    m.def("version", [] { return std::string(orv_version()); });
    m.def("read_obj_sequence", &readObjSequence, py::arg("args"));

    py::class_<Decoder>(m, "Decoder")
        .def(py::init<const py::bytes&, const FaceArray&, int, int>(), py::arg("stream"), py::arg("faces"),
             py::arg("nsl"), py::arg("ntl"))
        .def("info", &Decoder::info)
        .def("read_frame", &Decoder::readFrame)
        .def("read_all", &Decoder::readAll)
        .def("seek", &Decoder::seek, py::arg("frame"))
        .def("set_threads", &Decoder::setThreads, py::arg("n"))
        .def("close", &Decoder::close);

    py::class_<Encoder>(m, "Encoder")
        .def(py::init<int32_t, const FaceArray&, const py::dict&>(), py::arg("vertex_count"), py::arg("faces"),
             py::arg("options"))
        .def("add_frames", &Encoder::addFrames, py::arg("positions"))
        .def("finish", &Encoder::finish)
        .def("quality", &Encoder::quality)
        .def("reconstruction", &Encoder::reconstruction, py::arg("frames"));
}
