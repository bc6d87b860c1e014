// MatrixT: the abstract, bounds-checked matrix of T; DenseMatrixT: its one
// implementation, column-major, so each column (one frame of a geometry) is a
// contiguous run. Index arithmetic is 64-bit: a 100,000-vertex x 10,000-frame
// geometry has more than 2^31 elements.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "Common/Check.h"
#include "Common/ZeroedBlocks.h"

namespace orv {

template <typename T>
class MatrixT {
public:
    virtual T operator()(int _i, int _j) const = 0;
    virtual MatrixT& operator=(const MatrixT& B) = 0;
    virtual int nRows() const = 0;
    virtual int nCols() const = 0;

protected:
    MatrixT() = default;
    MatrixT(const MatrixT&) = default;
    ~MatrixT() = default;
};

// Zero-initialised element storage (Common/ZeroedBlocks): large blocks come
// as fresh zero pages from the system, so a geometry of several gigabytes is
// not written once with zeros before the decoder writes it again, and pages a
// decoding never reaches cost nothing.
template <typename T>
class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T>, "elements are copied bytewise");

public:
    explicit ZeroedArray(size_t _n) : n_(_n), p_(allocate(_n)) {}
    ZeroedArray(const ZeroedArray& _b) : n_(_b.n_), p_(allocate(_b.n_)) {
        if (n_ != 0) std::memcpy(p_, _b.p_, n_ * sizeof(T));
    }
    ZeroedArray(ZeroedArray&& _b) noexcept : n_(std::exchange(_b.n_, 0)), p_(std::exchange(_b.p_, nullptr)) {}
    ZeroedArray& operator=(ZeroedArray _b) noexcept {
        std::swap(n_, _b.n_);
        std::swap(p_, _b.p_);
        return *this;
    }
    ~ZeroedArray() { freeZeroed(p_, n_ * sizeof(T)); }

    T* data() { return p_; }
    const T* data() const { return p_; }
    T& operator[](size_t _i) { return p_[_i]; }
    const T& operator[](size_t _i) const { return p_[_i]; }

private:
    static T* allocate(size_t _n) {
        if (_n == 0) return nullptr;
        if (_n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void* p = allocateZeroed(_n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }

    size_t n_;
    T* p_;
};

template <typename T>
class DenseMatrixT : public MatrixT<T> {
public:
    DenseMatrixT(int rows, int cols)
        : nRows_(rows), nCols_(cols), elements_(static_cast<size_t>(rows) * static_cast<size_t>(cols)) {}
    DenseMatrixT(const DenseMatrixT&) = default;
    DenseMatrixT(DenseMatrixT&&) noexcept = default;
    // Written out: a defaulted one would call the base's pure virtual assignment.
    DenseMatrixT& operator=(DenseMatrixT&& B) noexcept {
        nRows_ = B.nRows_;
        nCols_ = B.nCols_;
        elements_ = std::move(B.elements_);
        return *this;
    }
    DenseMatrixT& operator=(const DenseMatrixT& B) {
        assign(B);
        return *this;
    }

    T operator()(int _i, int _j) const override { return elements_[index(_i, _j)]; }
    T& at(int _i, int _j) { return elements_[index(_i, _j)]; }

    MatrixT<T>& operator=(const MatrixT<T>& B) override {
        assign(B);
        return *this;
    }

    int nRows() const override { return nRows_; }
    int nCols() const override { return nCols_; }

    // Contiguous column access for bulk work (frame writers, metrics).
    const T* column(int _j) const { return elements_.data() + index(0, _j); }
    T* column(int _j) { return elements_.data() + index(0, _j); }

private:
    size_t index(int _i, int _j) const {
        ORV_CHECK(_i>=0 && _i<nRows_, "Matrix/MatrixT");
        ORV_CHECK(_j>=0 && _j<nCols_, "Matrix/MatrixT");
        return static_cast<size_t>(_i) + static_cast<size_t>(_j) * static_cast<size_t>(nRows_);
    }
    void assign(const MatrixT<T>& B) {
        ORV_CHECK(B.nRows()==nRows(), "Matrix/MatrixT");
        ORV_CHECK(B.nCols()==nCols(), "Matrix/MatrixT");
        for (int j = 0; j < nCols_; ++j)
            for (int i = 0; i < nRows_; ++i) elements_[index(i, j)] = B(i, j);
    }

    int nRows_;
    int nCols_;
    ZeroedArray<T> elements_;
};

}  // namespace orv
