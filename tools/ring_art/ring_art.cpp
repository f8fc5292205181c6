// Draws the ring's three textures and writes them as DEVIZAR.txd.
//   hpbg: a dark, half-transparent annulus with soft edges and a small mark
//         at the top, the camera's direction.
//   hpfg: the same annulus, bright and opaque; the plugin tints it.
//   hpar: a thin bright band at the rim, for the armour arc, which the plugin
//         draws 1.3 times as large: its band then lies just outside hpfg's.
#include <cmath>
#include <cstdio>
#include <vector>

#include "overlay/product_files.h"
#include "txd/dictionary.h"

namespace {

constexpr std::uint32_t size = 128;
constexpr float outer = 0.94f;  // of the half-size
constexpr float feather = 0.035f;
constexpr float ring_inner = 0.62f;
// 0.82 - feather, drawn 1.3 times as large, clears 0.94 + feather.
constexpr float armour_inner = 0.82f;

float smoothstep(float e0, float e1, float x) {
  const float t = std::fmin(std::fmax((x - e0) / (e1 - e0), 0.0f), 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

// Coverage of the annulus at a pixel, 4 x 4 samples for the edges.
float annulus(std::uint32_t px, std::uint32_t py, float inner) {
  float sum = 0.0f;
  for (int sy = 0; sy < 4; ++sy) {
    for (int sx = 0; sx < 4; ++sx) {
      const float x = ((static_cast<float>(px) + (sx + 0.5f) / 4.0f) / size) * 2.0f - 1.0f;
      const float y = ((static_cast<float>(py) + (sy + 0.5f) / 4.0f) / size) * 2.0f - 1.0f;
      const float r = std::sqrt(x * x + y * y);
      sum += smoothstep(inner - feather, inner + feather, r) * (1.0f - smoothstep(outer - feather, outer + feather, r));
    }
  }
  return sum / 16.0f;
}

std::uint8_t byte(float v) { return static_cast<std::uint8_t>(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f)); }

txd::texture texture(const char* name, bool foreground, float inner = ring_inner) {
  std::vector<std::uint8_t> rgba(size * size * 4);
  for (std::uint32_t y = 0; y < size; ++y) {
    for (std::uint32_t x = 0; x < size; ++x) {
      const float cover = annulus(x, y, inner);
      std::uint8_t* p = &rgba[(y * size + x) * 4];
      if (foreground) {
        p[0] = p[1] = p[2] = 245;
        p[3] = byte(cover);
      } else {
        // The mark: a lighter wedge at the top centre, inside the ring.
        const float dx = (static_cast<float>(x) + 0.5f) / size - 0.5f;
        const bool mark = std::fabs(dx) < 0.02f && y < size * 0.2f;
        const float shade = mark ? 0.55f : 0.08f;
        p[0] = p[1] = p[2] = byte(shade);
        p[3] = byte(cover * (mark ? 0.8f : 0.55f));
      }
    }
  }
  txd::texture t;
  t.name = name;
  t.addressing = 0x33;  // clamp: the rim must not pick up the opposite edge
  t.levels = txd::mip_chain(size, size, rgba);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ring_art OUT.txd\n");
    return 2;
  }
  txd::dictionary dict;
  dict.textures.push_back(texture(overlay::background_texture, false));
  dict.textures.push_back(texture(overlay::foreground_texture, true));
  dict.textures.push_back(texture(overlay::armour_texture_name, true, armour_inner));
  if (!txd::write_file(argv[1], dict)) {
    std::fprintf(stderr, "ring_art: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
