// A texture built back from its entry in an extracted manifest: the
// original's texture as it was when neither its images nor its settings were
// edited, else encoded anew around what was kept.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/txd/manifest.h"
#include "png/png_io.h"
#include "txd/dictionary.h"

namespace txd {

// A PNG image; false with a one-line reason naming the file.
bool load_image(const std::filesystem::path& path, png::image* img, std::string* error);

// folder holds the manifest and its images; original is the dictionary the
// manifest names, or null. False with a one-line reason; notes gets a line
// for each change the texture had to take (a palette outgrown).
bool rebuild_texture(const std::filesystem::path& folder, const manifest_entry& e, const dictionary* original,
                     texture* out, std::string* error, std::vector<std::string>* notes);

}  // namespace txd
