// orv for C++: RAII handles and exceptions over the C API (orv.h), nothing
// more. Every failure of the C API becomes orv::Exception, carrying its status
// and message; positions come as std::vector<double> (x, y, z per vertex).
// Needs C++20 (std::span).
#ifndef ORV_ORV_HPP
#define ORV_ORV_HPP

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "orv/orv.h"

namespace orv {

class Exception : public std::runtime_error {
public:
    Exception(int _status, const std::string& _message) : std::runtime_error(_message), status_(_status) {}
    int status() const noexcept { return status_; }

private:
    int status_;
};

inline std::string version() { return orv_version(); }

class Decoder {
public:
    // _faces: 3 zero-based vertex indices per face; 0 layers means all.
    Decoder(std::span<const uint8_t> _stream, std::span<const int32_t> _faces, int _nsl = 0, int _ntl = 0) {
        if (_faces.size() % 3 != 0) throw Exception(ORV_E_ARGUMENT, "faces: 3 indices per face");
        char err[512];
        orv_decoder* d = nullptr;
        const int s = orv_decoder_create(_stream.data(), _stream.size(), _faces.data(), _faces.size() / 3, _nsl, _ntl,
                                         &d, err, sizeof err);
        if (s < 0) throw Exception(s, err);
        d_.reset(d);
        orv_decoder_info(d, &info_);
    }

    const orv_stream_info& info() const { return info_; }

    // The next frame in display order into _positions (resized to 3V); false
    // after the last.
    bool readFrame(int32_t& _frame, std::vector<double>& _positions) {
        _positions.resize(3 * static_cast<size_t>(info_.vertex_count));
        return check(orv_decoder_read_frame(d_.get(), &_frame, _positions.data())) == 1;
    }
    void seek(int32_t _frame) { check(orv_decoder_seek(d_.get(), _frame)); }
    void setThreads(int _n) { check(orv_decoder_set_threads(d_.get(), _n)); }

private:
    int check(int _status) const {
        if (_status < 0) throw Exception(_status, orv_decoder_error(d_.get()));
        return _status;
    }
    struct Release {
        void operator()(orv_decoder* _d) const { orv_decoder_destroy(_d); }
    };
    std::unique_ptr<orv_decoder, Release> d_;
    orv_stream_info info_{};
};

class Encoder {
public:
    static orv_encoder_options defaults() {
        orv_encoder_options o;
        orv_encoder_options_default(&o);
        return o;
    }

    Encoder(int32_t _vertexCount, std::span<const int32_t> _faces, const orv_encoder_options& _options = defaults())
        : V_(_vertexCount) {
        if (_faces.size() % 3 != 0) throw Exception(ORV_E_ARGUMENT, "faces: 3 indices per face");
        char err[512];
        orv_encoder* e = nullptr;
        const int s =
            orv_encoder_create(_vertexCount, _faces.data(), _faces.size() / 3, &_options, &e, err, sizeof err);
        if (s < 0) throw Exception(s, err);
        e_.reset(e);
    }

    void addFrame(std::span<const double> _positions) {
        if (_positions.size() != 3 * static_cast<size_t>(V_))
            throw Exception(ORV_E_ARGUMENT, "a frame holds 3 coordinates per vertex");
        check(orv_encoder_add_frame(e_.get(), _positions.data()));
    }

    // Threads finish() codes frames on; the stream is the same for any count.
    void setThreads(int _n) { check(orv_encoder_set_threads(e_.get(), _n)); }

    // Off: every frame keeps the temporal hierarchy's references.
    void setReferenceChoice(bool _on) { check(orv_encoder_set_reference_choice(e_.get(), _on ? 1 : 0)); }

    // The stream file (4-byte length, then the bit stream).
    std::vector<uint8_t> finish() {
        uint8_t* bytes = nullptr;
        size_t size = 0;
        check(orv_encoder_finish(e_.get(), &bytes, &size));
        std::vector<uint8_t> out(bytes, bytes + size);
        orv_free(bytes);
        return out;
    }

    orv_encoder_quality quality() const {
        orv_encoder_quality q{};
        check(orv_encoder_quality_get(e_.get(), &q));
        return q;
    }

    std::vector<double> reconstruction(int32_t _frame) const {
        std::vector<double> p(3 * static_cast<size_t>(V_));
        check(orv_encoder_reconstruction(e_.get(), _frame, p.data()));
        return p;
    }

private:
    int check(int _status) const {
        if (_status < 0) {
            const std::string m = orv_encoder_error(e_.get());
            throw Exception(_status, m.empty() ? "call out of order or bad argument" : m);
        }
        return _status;
    }
    struct Release {
        void operator()(orv_encoder* _e) const { orv_encoder_destroy(_e); }
    };
    int32_t V_;
    std::unique_ptr<orv_encoder, Release> e_;
};

}  // namespace orv

#endif  // ORV_ORV_HPP
