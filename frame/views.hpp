// Typed views over the host's column-major, 1-based arrays.
// A view never owns memory and never checks bounds: the exported routine
// validates counts against the capacities before it reads or writes through
// a view. Leading dimensions are template arguments, fixed per argument.
#pragma once

#include <cstdint>

#include "support/complex.hpp"

namespace orvek::frame {

// One-dimensional array, element i at p[i-1].
template <class T> class Vec1 {
public:
  explicit Vec1(T *p) : p_(p) {}
  T &operator()(std::int32_t i) const { return p_[i - 1]; }
  T *data() const { return p_; }

private:
  T *p_;
};

// Two-dimensional array with fixed leading dimension LD: A(i, j).
template <class T, std::int32_t LD> class Mat {
public:
  explicit Mat(T *p) : p_(p) {}
  T &operator()(std::int32_t i, std::int32_t j) const {
    return p_[static_cast<std::int64_t>(j - 1) * LD + (i - 1)];
  }
  T *data() const { return p_; }

private:
  T *p_;
};

// Split-complex array X(LD, 2): real parts in column 1, imaginary parts in
// column 2. get/set convert to and from the interleaved Complex.
template <std::int32_t LD> class SplitComplexIn {
public:
  explicit SplitComplexIn(const float *p) : p_(p) {}
  Complex operator()(std::int32_t i) const { return {p_[i - 1], p_[LD + i - 1]}; }
  const float *data() const { return p_; }

private:
  const float *p_;
};

template <std::int32_t LD> class SplitComplexOut {
public:
  explicit SplitComplexOut(float *p) : p_(p) {}
  Complex operator()(std::int32_t i) const { return {p_[i - 1], p_[LD + i - 1]}; }
  void set(std::int32_t i, Complex v) const {
    p_[i - 1] = v.re;
    p_[LD + i - 1] = v.im;
  }
  float *data() const { return p_; }

private:
  float *p_;
};

} // namespace orvek::frame
