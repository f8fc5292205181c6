// Where a batch of ring fans splits into discs: each disc runs from a hub
// vertex (texture coordinates 0.5, 0.5) to the next. For any vertex type
// with u and v.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace sim {

template <class Vertex>
std::vector<std::pair<std::size_t, std::size_t>> disc_ranges(const std::vector<Vertex>& vertices) {
  std::vector<std::pair<std::size_t, std::size_t>> discs;
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    if (i != 0 && !(vertices[i].u == 0.5f && vertices[i].v == 0.5f)) continue;
    if (!discs.empty()) discs.back().second = i;
    discs.emplace_back(i, vertices.size());
  }
  return discs;
}

}  // namespace sim
