// The rings' fans of one texture, handed to the game in immediate-mode
// batches as indexed triangle lists within the game's own limits. Sized once.
#pragma once

#include <cstdint>

#include "host/renderware.h"
#include "overlay/ring_fan.h"

namespace overlay {

class ring_batch {
 public:
  static constexpr std::uint32_t max_members = host::im3d_max_indices / 3;

  // A new frame: the raster the game holds is none of ours.
  void start_frame() { raster_of_ = nullptr; }
  void begin(host::RwTexture* texture);
  bool fits(fan_size size) const {
    return vertex_count_ + size.vertices <= host::im3d_max_vertices && index_count_ + size.indices <= host::im3d_max_indices;
  }
  // Room for member's fan, which must fit: where its vertices and indices go,
  // and its hub's index.
  host::RwIm3DVertex* add(std::uint32_t member, fan_size size, std::uint16_t** indices, std::uint32_t* first);
  bool empty() const { return member_count_ == 0; }
  // Hands the batch to the game; false when the game refused it.
  bool draw();
  // The members of the batch just drawn.
  const std::uint32_t* members() const { return members_; }
  std::uint32_t member_count() const { return member_count_; }
  void clear() { vertex_count_ = index_count_ = member_count_ = 0; }

 private:
  host::RwTexture* texture_ = nullptr;
  host::RwTexture* raster_of_ = nullptr;  // whose raster the game holds, set by us this frame
  std::uint32_t vertex_count_ = 0, index_count_ = 0, member_count_ = 0;
  host::RwIm3DVertex vertices_[host::im3d_max_vertices] = {};  // normals 0, never written
  std::uint16_t indices_[host::im3d_max_indices];
  std::uint32_t members_[max_members];
};

}  // namespace overlay
