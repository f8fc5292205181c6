#include "overlay/ring_batch.h"

#include "host/host_services.h"

namespace overlay {

void ring_batch::begin(host::RwTexture* texture) {
  texture_ = texture;
  clear();
}

host::RwIm3DVertex* ring_batch::add(std::uint32_t member, fan_size size, std::uint16_t** indices, std::uint32_t* first) {
  host::RwIm3DVertex* v = vertices_ + vertex_count_;
  *indices = indices_ + index_count_;
  *first = vertex_count_;
  vertex_count_ += size.vertices;
  index_count_ += size.indices;
  members_[member_count_++] = member;
  return v;
}

bool ring_batch::draw() {
  if (texture_ != raster_of_) {
    host::RwRenderStateSet(host::rwRENDERSTATETEXTURERASTER, reinterpret_cast<std::uintptr_t>(texture_->raster));
    raster_of_ = texture_;
  }
  if (host::RwIm3DTransform(vertices_, vertex_count_, nullptr, host::rwIM3D_VERTEXUV) == nullptr) return false;
  const bool drawn = host::RwIm3DRenderIndexedPrimitive(host::rwPRIMTYPETRILIST, indices_, static_cast<std::int32_t>(index_count_));
  host::RwIm3DEnd();
  return drawn;
}

}  // namespace overlay
