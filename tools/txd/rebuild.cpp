#include "tools/txd/rebuild.h"

#include <algorithm>

#include "txd/pixels.h"
#include "txd/format.h"

namespace txd {
namespace {

namespace fs = std::filesystem;

// The images of a manifest entry: the full-size one, then its stored levels
// or the chain computed from it.
bool load_levels(const fs::path& folder, const manifest_entry& e, std::vector<level>* levels, std::string* error) {
  png::image top;
  if (!load_image(folder / e.image, &top, error)) return false;
  if (e.level_images.empty()) {
    *levels = mip_chain(top.width, top.height, top.rgba);
    if (e.level_count > levels->size()) {
      *error = (folder / e.image).string() + ": holds " + std::to_string(levels->size()) + " levels at most, not " +
               std::to_string(e.level_count);
      return false;
    }
    levels->resize(e.level_count);
    return true;
  }
  levels->push_back(level{top.width, top.height, top.rgba, {}});
  for (std::size_t i = 0; i < e.level_images.size(); ++i) {
    png::image img;
    if (!load_image(folder / e.level_images[i], &img, error)) return false;
    const std::uint32_t w = std::max(1u, top.width >> (i + 1)), h = std::max(1u, top.height >> (i + 1));
    if (img.width != w || img.height != h) {
      *error = (folder / e.level_images[i]).string() + ": level " + std::to_string(i + 1) + " must be " +
               std::to_string(w) + "x" + std::to_string(h);
      return false;
    }
    levels->push_back(level{img.width, img.height, img.rgba, {}});
  }
  return true;
}

bool same_settings(const texture& a, const texture& b) {
  return a.name == b.name && a.mask_name == b.mask_name && a.filter == b.filter && a.addressing == b.addressing &&
         a.format == b.format && a.has_alpha == b.has_alpha && a.raster == b.raster;
}

bool holds_alpha(const texture& t) {
  if (palettised(t.format)) return palette_has_alpha(t);
  const pixel_format f = t.format;
  return f != pixel_format::bgr888 && f != pixel_format::r5g6b5 && f != pixel_format::x1r5g5b5 &&
         f != pixel_format::lum8;
}

bool any_alpha(const std::vector<level>& levels) {
  for (const level& l : levels) {
    for (std::size_t i = 3; i < l.rgba.size(); i += 4) {
      if (l.rgba[i] != 255) return true;
    }
  }
  return false;
}

// Raster fields that say what an edited texture now holds: alpha where an
// edit brought some (a texture that had it keeps its fields as they were),
// and a mip chain as long as its levels.
void update_fields(texture& t, const std::vector<level>& before, const std::string& image,
                   std::vector<std::string>* notes) {
  const std::size_t old_levels = before.empty() ? t.levels.size() : before.size();
  const bool alpha = any_alpha(t.levels) && !any_alpha(before);
  if (alpha && !holds_alpha(t)) {
    notes->push_back(image + ": " + format_name(t.format) + (palettised(t.format) ? "'s palette" : "") +
                     " has no alpha; pixels that are not opaque are written opaque");
  }
  if (alpha && holds_alpha(t)) t.has_alpha = true;
  if (!t.raster) return;
  raster_fields& r = *t.raster;
  if (alpha && holds_alpha(t)) {
    if (r.platform == platform_d3d9) r.flags |= flag_alpha;
    if (r.platform == platform_d3d8 && r.d3d_format == 0) r.d3d_format = 1;
    if (t.format == pixel_format::dxt1 && (r.raster_format & raster_pixel_mask) == raster_565) {
      r.raster_format = (r.raster_format & ~raster_pixel_mask) | raster_1555;
    }
  }
  if (t.levels.size() != old_levels) {
    r.raster_format &= ~raster_has_mipmaps;
    if (t.levels.size() > 1) r.raster_format |= raster_has_mipmaps;
  }
}

// A palettised texture whose colours outgrow its palette is written with
// every pixel as it is.
void fit_or_widen(texture& t, const std::string& image, std::vector<std::string>* notes) {
  if (fit_palette(t)) return;
  const bool alpha = palette_has_alpha(t);
  notes->push_back(image + ": more colours than " + format_name(t.format) + "'s palette holds; written as " +
                   (alpha ? "8888" : "888"));
  t.format = alpha ? pixel_format::bgra8888 : pixel_format::bgr888;
  t.palette.clear();
  if (t.raster) {
    t.raster->raster_format &= ~(raster_pal8 | raster_pal4 | raster_pixel_mask);
    t.raster->raster_format |= alpha ? raster_8888 : raster_888;
    t.raster->depth = 32;
    if (t.raster->platform == platform_d3d9) t.raster->d3d_format = alpha ? d3d_a8r8g8b8 : d3d_x8r8g8b8;
  }
}

}  // namespace

bool load_image(const fs::path& path, png::image* img, std::string* error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *error = path.string() + ": is a folder, not a PNG image";
    return false;
  }
  return png::load(path.string(), img, error);
}

bool rebuild_texture(const fs::path& folder, const manifest_entry& e, const dictionary* original, texture* out,
                     std::string* error, std::vector<std::string>* notes) {
  const std::string image = (folder / e.image).string();
  texture t = e.settings;
  if (!load_levels(folder, e, &t.levels, error)) return false;
  // Fields of another format than the entry's are the old format's: the
  // writer gives the new one its own.
  if (t.raster && format_of(*t.raster) != t.format) t.raster.reset();
  if (!e.native) {
    update_fields(t, {}, image, notes);
    if (palettised(t.format)) fit_or_widen(t, image, notes);
    *out = std::move(t);
    return true;
  }
  if (!original || *e.native >= original->textures.size()) {
    *error = image + ": its entry names texture " + std::to_string(*e.native) + " of the original, which has " +
             std::to_string(original ? original->textures.size() : 0);
    return false;
  }
  const texture& o = original->textures[*e.native];
  // The hashes recorded at extraction tell which images were edited since,
  // and that the original is still the file they came from.
  std::vector<bool> kept(t.levels.size(), false);
  for (std::size_t i = 0; i < e.pixels.size(); ++i) {
    if (i >= o.levels.size() || pixel_hash(o.levels[i].width, o.levels[i].height, o.levels[i].rgba) != e.pixels[i]) {
      *error = image + ": the original's texture " + std::to_string(*e.native) +
               " is not the one extracted (its pixels differ); extract the dictionary again";
      return false;
    }
    const level& l = t.levels[i];
    kept[i] = pixel_hash(l.width, l.height, l.rgba) == e.pixels[i];
  }
  // Levels computed from the full-size image are as edited as it is.
  for (std::size_t i = e.pixels.size(); i < kept.size(); ++i) kept[i] = kept[0] && e.level_images.empty();
  const bool all_kept = std::find(kept.begin(), kept.end(), false) == kept.end();
  if (all_kept && t.levels.size() == o.levels.size() && same_settings(t, o)) {
    *out = o;
    return true;
  }
  t.palette = o.palette;
  t.index_bits = o.index_bits;
  t.stamp = o.stamp;
  t.extension = o.extension;
  t.more_extensions = o.more_extensions;
  const bool same_storage = t.format == o.format && (t.raster ? t.raster->platform : platform_d3d9) ==
                                                       (o.raster ? o.raster->platform : platform_d3d9);
  for (std::size_t i = 0; i < t.levels.size() && same_storage && i < o.levels.size(); ++i) {
    if (kept[i] && (!palettised(t.format) || all_kept)) {
      t.levels[i] = o.levels[i];
    } else if (!palettised(t.format)) {
      t.levels[i].stored = encode_keeping(t, t.levels[i], o.levels[i]);
    }
  }
  t.fixed_part = o.fixed_part;
  update_fields(t, o.levels, image, notes);
  if (palettised(t.format) && !all_kept) {
    fit_or_widen(t, image, notes);
    for (std::size_t i = 0; i < t.levels.size(); ++i) {
      const bool still = palettised(t.format) && i < o.levels.size();
      t.levels[i].stored = still ? encode_keeping(t, t.levels[i], o.levels[i]) : std::vector<std::uint8_t>{};
    }
  }
  *out = std::move(t);
  return true;
}

}  // namespace txd
