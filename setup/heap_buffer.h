// A block of bytes taken from the heap and given back when the object goes.
#pragma once

#include <cstdlib>

#include "platform.h"

class HeapBuffer {
 public:
  explicit HeapBuffer(DWORD size) : data_(static_cast<BYTE*>(std::malloc(size ? size : 1))) {}
  HeapBuffer(HeapBuffer&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
  HeapBuffer& operator=(HeapBuffer&&) = delete;
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;
  ~HeapBuffer() { std::free(data_); }

  BYTE* get() const { return data_; }
  char* text() const { return reinterpret_cast<char*>(data_); }
  bool valid() const { return data_ != nullptr; }

 private:
  BYTE* data_;
};
