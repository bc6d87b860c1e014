// FrameSlots: per-frame arrays of one kind (positions or details) kept only
// for the frames that are still needed. A frame takes a zero-filled slot when
// it is decoded and gives it back when nothing later reads it; freed slots are
// reused, so the memory follows the most frames alive at once, not F.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Common/Check.h"

namespace orv {

class FrameSlots {
public:
    FrameSlots() = default;
    // _values doubles per frame, frames 0.._F-1.
    // Room for a slot per frame is reserved, so taking a slot never moves
    // the others: at() of frames held may run beside take() and release()
    // of other frames (those two kept to one thread at a time by the caller).
    FrameSlots(size_t _values, int _F) : values_(_values), slotOf_(static_cast<size_t>(_F), -1) {
        blocks_.reserve(static_cast<size_t>(_F));
    }

    bool holds(int _f) const { return inRange(_f) && slotOf_[static_cast<size_t>(_f)] >= 0; }

    // A zero-filled slot for frame _f, which must hold none. Without
    // _zeroed the slot holds whatever it held (a caller that writes every
    // value before reading any saves the fill).
    double* take(int _f, bool _zeroed = true) {
        ORV_CHECK(inRange(_f) && slotOf_[static_cast<size_t>(_f)]<0, "Encoder/FrameSlots");
        int slot;
        if (!free_.empty()) {
            slot = free_.back();
            free_.pop_back();
            if (_zeroed) std::fill_n(blocks_[static_cast<size_t>(slot)].get(), values_, 0.0);
        } else {
            slot = static_cast<int>(blocks_.size());
            // new double[] leaves the values unset, as the standard library
            // of some targets (WebAssembly) has no make_unique_for_overwrite.
            blocks_.push_back(_zeroed ? std::make_unique<double[]>(values_)
                                      : std::unique_ptr<double[]>(new double[values_]));
        }
        slotOf_[static_cast<size_t>(_f)] = slot;
        ++live_;
        peak_ = std::max(peak_, live_);
        return blocks_[static_cast<size_t>(slot)].get();
    }

    void release(int _f) {
        if (!holds(_f)) return;
        free_.push_back(slotOf_[static_cast<size_t>(_f)]);
        slotOf_[static_cast<size_t>(_f)] = -1;
        --live_;
    }

    void releaseAll() {
        for (size_t f = 0; f < slotOf_.size(); ++f) release(static_cast<int>(f));
    }

    double* at(int _f) const {
        ORV_CHECK(holds(_f), "Encoder/FrameSlots");
        return blocks_[static_cast<size_t>(slotOf_[static_cast<size_t>(_f)])].get();
    }

    size_t live() const { return live_; }
    size_t peak() const { return peak_; }

private:
    bool inRange(int _f) const { return _f >= 0 && static_cast<size_t>(_f) < slotOf_.size(); }

    size_t values_ = 0;
    std::vector<int32_t> slotOf_;  // frame -> slot, -1: none
    std::vector<std::unique_ptr<double[]>> blocks_;
    std::vector<int> free_;
    size_t live_ = 0, peak_ = 0;
};

}  // namespace orv
