// Counts heap allocations made through operator new in this test program.
#pragma once

#include <cstddef>

namespace test {

std::size_t allocations();

// Allocations made while this object lived.
class allocation_scope {
 public:
  allocation_scope() : start_(allocations()) {}
  std::size_t count() const { return allocations() - start_; }

 private:
  std::size_t start_;
};

}  // namespace test
