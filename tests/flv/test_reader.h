// A memory reader owned by one test; the destructor checks that nobody else still holds it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "host/memory_reader.h"

namespace flvdmx {

class TestReader {
 public:
  explicit TestReader(std::vector<uint8_t> bytes) : m_p(new CMemoryReader(std::move(bytes))) {}
  ~TestReader() { EXPECT_EQ(m_p->Release(), 0u) << "a reference on the reader was not given back"; }
  TestReader(const TestReader&) = delete;
  TestReader& operator=(const TestReader&) = delete;

  CMemoryReader* get() const { return m_p; }
  CMemoryReader* operator->() const { return m_p; }

 private:
  CMemoryReader* m_p;
};

}  // namespace flvdmx
