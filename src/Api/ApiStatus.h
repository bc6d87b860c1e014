// The public API's one error path: every entry point runs its body through
// guarded(), which turns whatever the library throws into a status value and
// a one-line message. Nothing crosses the C boundary as an exception, and
// nothing here prints.
#pragma once

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "Common/Check.h"
#include "orv/orv.h"

namespace orv::api {

// A failure with the status the caller sees.
class Failure : public Error {
public:
    Failure(int _status, const std::string& _message) : Error(_message), status(_status) {}
    int status;
};

// Copies a message into a caller's buffer, truncated and always terminated.
inline void copyMessage(const std::string& _message, char* _out, size_t _size) {
    if (!_out || _size == 0) return;
    const size_t n = std::min(_size - 1, _message.size());
    std::memcpy(_out, _message.data(), n);
    _out[n] = '\0';
}

// Runs _body (returning a status); orv::Error becomes _errorStatus (what a
// plain error means at this entry point: a bad stream, bad frames, ...).
template <class Body>
int guarded(std::string& _message, int _errorStatus, Body&& _body) noexcept {
    try {
        _message.clear();
        return _body();
    } catch (const Failure& e) {
        _message = e.what();
        return e.status;
    } catch (const Error& e) {
        _message = e.what();
        return _errorStatus;
    } catch (const CheckFailure& e) {
        // The checks guard against inputs that lie as much as against bugs.
        _message = std::string("the input could not be used (internal check: ") + e.what() + ")";
        return _errorStatus;
    } catch (const std::bad_alloc&) {
        _message = "out of memory";
        return ORV_E_MEMORY;
    } catch (const std::exception& e) {
        _message = std::string("internal error: ") + e.what();
        return ORV_E_INTERNAL;
    } catch (...) {
        _message = "internal error";
        return ORV_E_INTERNAL;
    }
}

}  // namespace orv::api
