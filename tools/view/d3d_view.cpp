#include "tools/view/d3d_view.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace view {
namespace {

template <class T>
struct released {
  void operator()(T* p) const {
    if (p) p->Release();
  }
};
template <class T>
using com = std::unique_ptr<T, released<T>>;

constexpr DWORD vertex_format = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(world_vertex) == 24 && sizeof(fan_vertex) == 24, "XYZ, DIFFUSE, TEX1");

std::string failed(const char* what, HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

HWND hidden_window() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"MorvaHealthRingView";
  RegisterClassW(&window_class);
  return CreateWindowW(L"MorvaHealthRingView", L"view", WS_OVERLAPPEDWINDOW, 0, 0, picture_width, picture_height,
                       nullptr, nullptr, window_class.hInstance, nullptr);
}

D3DMATRIX to_d3d(const matrix& m) {
  D3DMATRIX d;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) d.m[r][c] = m.m[r][c];
  }
  return d;
}

// A texture of the dictionary with every level it holds; compressed levels
// go in as the blocks the file stores.
com<IDirect3DTexture9> make_texture(IDirect3DDevice9* device, const txd::texture& t, std::string* error) {
  D3DFORMAT format = D3DFMT_A8R8G8B8;
  bool blocks = false;
  if (t.format == txd::pixel_format::dxt1 || t.format == txd::pixel_format::dxt3 || t.format == txd::pixel_format::dxt5) {
    blocks = true;
    for (const txd::level& l : t.levels) blocks = blocks && !l.stored.empty();
    if (blocks) {
      format = t.format == txd::pixel_format::dxt1 ? D3DFMT_DXT1 : t.format == txd::pixel_format::dxt3 ? D3DFMT_DXT3 : D3DFMT_DXT5;
    }
  }
  IDirect3DTexture9* raw = nullptr;
  const HRESULT hr = device->CreateTexture(t.levels.front().width, t.levels.front().height,
                                           static_cast<UINT>(t.levels.size()), 0, format, D3DPOOL_MANAGED, &raw, nullptr);
  if (FAILED(hr)) {
    *error = failed(("creating texture " + t.name).c_str(), hr);
    return nullptr;
  }
  com<IDirect3DTexture9> texture(raw);
  for (UINT i = 0; i < t.levels.size(); ++i) {
    const txd::level& l = t.levels[i];
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(i, &locked, nullptr, 0))) continue;
    auto* out = static_cast<std::uint8_t*>(locked.pBits);
    if (blocks) {
      const UINT block_bytes = format == D3DFMT_DXT1 ? 8 : 16;
      const UINT row_bytes = ((l.width + 3) / 4) * block_bytes;
      const UINT rows = (l.height + 3) / 4;
      for (UINT r = 0; r < rows && (r + 1) * row_bytes <= l.stored.size(); ++r) {
        std::memcpy(out + r * locked.Pitch, l.stored.data() + r * row_bytes, row_bytes);
      }
    } else {
      for (UINT y = 0; y < l.height; ++y) {
        for (UINT x = 0; x < l.width; ++x) {
          const std::uint8_t* p = &l.rgba[(static_cast<std::size_t>(y) * l.width + x) * 4];
          std::uint8_t* q = out + y * locked.Pitch + x * 4;
          q[0] = p[2];
          q[1] = p[1];
          q[2] = p[0];
          q[3] = p[3];
        }
      }
    }
    texture->UnlockRect(i);
  }
  return texture;
}

com<IDirect3DTexture9> make_grid(IDirect3DDevice9* device) {
  constexpr int side = 64;
  IDirect3DTexture9* raw = nullptr;
  if (FAILED(device->CreateTexture(side, side, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr))) return nullptr;
  com<IDirect3DTexture9> texture(raw);
  const std::vector<std::uint32_t> texels = grid_texture(side);
  D3DLOCKED_RECT locked;
  if (SUCCEEDED(texture->LockRect(0, &locked, nullptr, 0))) {
    for (int y = 0; y < side; ++y) std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, &texels[y * side], side * 4);
    texture->UnlockRect(0);
  }
  return texture;
}

// RenderWare's texture filter modes as its Direct3D 9 driver sets the sampler.
void set_filter(IDirect3DDevice9* device, std::uint32_t mode) {
  D3DTEXTUREFILTERTYPE min_mag = D3DTEXF_LINEAR, mip = D3DTEXF_NONE;
  switch (mode) {
    case 1: min_mag = D3DTEXF_POINT; break;                               // nearest
    case 2: min_mag = D3DTEXF_LINEAR; break;                              // linear
    case 3: min_mag = D3DTEXF_POINT; mip = D3DTEXF_POINT; break;          // mip nearest
    case 4: min_mag = D3DTEXF_LINEAR; mip = D3DTEXF_POINT; break;         // mip linear
    case 5: min_mag = D3DTEXF_POINT; mip = D3DTEXF_LINEAR; break;         // linear mip nearest
    case 6: min_mag = D3DTEXF_LINEAR; mip = D3DTEXF_LINEAR; break;        // linear mip linear
    default: break;
  }
  device->SetSamplerState(0, D3DSAMP_MINFILTER, min_mag);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, min_mag);
  device->SetSamplerState(0, D3DSAMP_MIPFILTER, mip);
}

using named_textures = std::vector<std::pair<std::string, com<IDirect3DTexture9>>>;

class replayer {
 public:
  replayer(IDirect3DDevice9* device, const named_textures& textures)
      : device_(device), textures_(textures) {}

  void apply(const replay_call& c) {
    if (c.kind == replay_call::draw_fan) {
      if (c.accepted && c.indices.size() >= 3) {
        device_->SetFVF(vertex_format);
        device_->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(c.vertices.size()),
                                        static_cast<UINT>(c.indices.size() / 3), c.indices.data(), D3DFMT_INDEX16,
                                        c.vertices.data(), sizeof(fan_vertex));
      }
      return;
    }
    switch (c.state) {
      case host::rwRENDERSTATEVERTEXALPHAENABLE: device_->SetRenderState(D3DRS_ALPHABLENDENABLE, c.value ? TRUE : FALSE); break;
      case host::rwRENDERSTATESRCBLEND: device_->SetRenderState(D3DRS_SRCBLEND, c.value); break;  // the numbers are Direct3D's
      case host::rwRENDERSTATEDESTBLEND: device_->SetRenderState(D3DRS_DESTBLEND, c.value); break;
      case host::rwRENDERSTATEZTESTENABLE: device_->SetRenderState(D3DRS_ZFUNC, c.value ? D3DCMP_LESSEQUAL : D3DCMP_ALWAYS); break;
      case host::rwRENDERSTATEZWRITEENABLE: device_->SetRenderState(D3DRS_ZWRITEENABLE, c.value ? TRUE : FALSE); break;
      case host::rwRENDERSTATETEXTUREFILTER: set_filter(device_, c.value); break;
      case host::rwRENDERSTATECULLMODE: {
        const DWORD modes[4] = {D3DCULL_NONE, D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW};
        device_->SetRenderState(D3DRS_CULLMODE, c.value < 4 ? modes[c.value] : static_cast<DWORD>(D3DCULL_NONE));
        break;
      }
      case host::rwRENDERSTATETEXTURERASTER: {
        // Found as the game finds them: by name in any letter case, the
        // later of two.
        IDirect3DTexture9* t = nullptr;
        for (const auto& [name, texture] : textures_) {
          if (txd::same_texture_name(name.c_str(), c.texture.c_str())) t = texture.get();
        }
        device_->SetTexture(0, t);
        // Without a texture the vertex colour alone, as the driver does.
        device_->SetTextureStageState(0, D3DTSS_COLOROP, t ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, t ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
        break;
      }
      default: break;
    }
  }

 private:
  IDirect3DDevice9* device_;
  const named_textures& textures_;
};

}  // namespace

render_result render(const camera& cam, const world_mesh& world, const drawn_frame& frame,
                     const txd::dictionary& dictionary, bool replay) {
  render_result r;
  HWND window = hidden_window();
  if (!window) {
    r.error = "cannot create a window for the Direct3D device (is there a display?)";
    return r;
  }
  com<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
  if (!d3d) {
    r.error = "Direct3D 9 is not available";
    return r;
  }
  D3DPRESENT_PARAMETERS params{};
  params.Windowed = TRUE;
  params.SwapEffect = D3DSWAPEFFECT_DISCARD;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  params.BackBufferWidth = picture_width;
  params.BackBufferHeight = picture_height;
  params.EnableAutoDepthStencil = TRUE;
  params.AutoDepthStencilFormat = D3DFMT_D24S8;
  params.hDeviceWindow = window;
  IDirect3DDevice9* raw_device = nullptr;
  HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                 &raw_device);
  if (FAILED(hr)) {
    r.error = failed("creating the Direct3D 9 device", hr);
    return r;
  }
  com<IDirect3DDevice9> device(raw_device);

  named_textures textures;
  for (const txd::texture& t : dictionary.textures) {
    if (t.levels.empty()) continue;
    com<IDirect3DTexture9> made = make_texture(device.get(), t, &r.error);
    if (!made) return r;
    textures.emplace_back(t.name, std::move(made));
  }
  com<IDirect3DTexture9> grid = make_grid(device.get());

  const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
  const D3DMATRIX view = to_d3d(cam.view), projection = to_d3d(cam.projection);
  device->SetTransform(D3DTS_WORLD, &identity);
  device->SetTransform(D3DTS_VIEW, &view);
  device->SetTransform(D3DTS_PROJECTION, &projection);
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(150, 180, 210), 1.0f, 0);
  device->BeginScene();

  // The world: opaque, depth tested and written, unlit.
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetFVF(vertex_format);
  device->SetTexture(0, grid.get());
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
  set_filter(device.get(), 6);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  if (!world.ground.empty()) {
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(world.ground.size() / 3), world.ground.data(),
                            sizeof(world_vertex));
  }
  device->SetTexture(0, nullptr);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  if (!world.solids.empty()) {
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(world.solids.size() / 3), world.solids.data(),
                            sizeof(world_vertex));
  }

  // The plugin's calls: the states earlier frames left, then the frame's own.
  if (replay) {
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    replayer player(device.get(), textures);
    for (const replay_call& c : frame.earlier) player.apply(c);
    for (const replay_call& c : frame.calls) player.apply(c);
  }
  device->EndScene();

  IDirect3DSurface9 *target_raw = nullptr, *copy_raw = nullptr;
  device->GetRenderTarget(0, &target_raw);
  com<IDirect3DSurface9> target(target_raw);
  hr = device->CreateOffscreenPlainSurface(picture_width, picture_height, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &copy_raw,
                                           nullptr);
  if (FAILED(hr)) {
    r.error = failed("creating the read-back surface", hr);
    return r;
  }
  com<IDirect3DSurface9> copy(copy_raw);
  hr = device->GetRenderTargetData(target.get(), copy.get());
  if (FAILED(hr)) {
    r.error = failed("reading the picture back", hr);
    return r;
  }
  D3DLOCKED_RECT locked;
  if (FAILED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    r.error = "cannot lock the read-back surface";
    return r;
  }
  r.rgba.resize(static_cast<std::size_t>(picture_width) * picture_height * 4);
  for (int y = 0; y < picture_height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch;
    for (int x = 0; x < picture_width; ++x) {
      std::uint8_t* out = &r.rgba[(static_cast<std::size_t>(y) * picture_width + x) * 4];
      out[0] = row[x * 4 + 2];
      out[1] = row[x * 4 + 1];
      out[2] = row[x * 4 + 0];
      out[3] = 255;
    }
  }
  copy->UnlockRect();
  DestroyWindow(window);
  r.ok = true;
  return r;
}

}  // namespace view
