// Pictures, textures and PNG: stb_image decodes textures and stb_image_write
// encodes the result, so the inspector needs no image library to link.
#include <algorithm>
#include <cstring>

#include "inspect/render/render.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_FAILURE_USERMSG
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace render {
namespace {

constexpr double kMaxTexturePixels = 64.0 * 1024 * 1024;  // 256 MB decoded

}  // namespace

Image MakeImage(int width, int height, Rgb fill) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgb.resize(size_t(width) * size_t(height) * 3);
  for (size_t i = 0; i < image.rgb.size(); i += 3) {
    image.rgb[i] = fill.r;
    image.rgb[i + 1] = fill.g;
    image.rgb[i + 2] = fill.b;
  }
  return image;
}

Rgb PixelAt(const Image& image, int x, int y) {
  const size_t i = (size_t(y) * size_t(image.width) + size_t(x)) * 3;
  return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
}

void SetPixel(Image& image, int x, int y, Rgb colour) {
  const size_t i = (size_t(y) * size_t(image.width) + size_t(x)) * 3;
  image.rgb[i] = colour.r;
  image.rgb[i + 1] = colour.g;
  image.rgb[i + 2] = colour.b;
}

void PasteImage(const Image& source, Image& target, int x, int y) {
  const int columns = std::min(source.width, target.width - x);
  for (int row = 0; row < source.height && y + row < target.height; ++row) {
    std::memcpy(&target.rgb[(size_t(y + row) * size_t(target.width) + size_t(x)) * 3],
                &source.rgb[size_t(row) * size_t(source.width) * 3], size_t(columns) * 3);
  }
}

bool ProbeTexture(const std::string& path, int& width, int& height) {
  int channels = 0;
  return stbi_info(path.c_str(), &width, &height, &channels) != 0;
}

bool LoadTexture(const std::string& path, Texture& texture, std::string& reason) {
  int width = 0, height = 0, channels = 0;
  if (stbi_info(path.c_str(), &width, &height, &channels) && double(width) * height > kMaxTexturePixels) {
    reason = std::to_string(width) + "x" + std::to_string(height) + " pixels is more than a preview decodes";
    return false;
  }
  stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
  if (pixels == nullptr) {
    const char* why = stbi_failure_reason();
    reason = why != nullptr ? why : "cannot be decoded";
    return false;
  }
  texture.width = width;
  texture.height = height;
  texture.rgba.assign(pixels, pixels + size_t(width) * size_t(height) * 4);
  stbi_image_free(pixels);
  return true;
}

Texture CheckerTexture() {
  constexpr int kSize = 64, kSquare = 8;
  Texture texture;
  texture.width = texture.height = kSize;
  texture.rgba.resize(kSize * kSize * 4);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const uint8_t level = ((x / kSquare + y / kSquare) % 2 == 0) ? 225 : 95;
      uint8_t* p = &texture.rgba[size_t(y * kSize + x) * 4];
      p[0] = p[1] = p[2] = level;
      p[3] = 255;
    }
  }
  return texture;
}

bool EncodePng(const Image& image, std::string& bytes) {
  bytes.clear();
  const auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
  };
  return stbi_write_png_to_func(append, &bytes, image.width, image.height, 3, image.rgb.data(), image.width * 3) != 0;
}

}  // namespace render
