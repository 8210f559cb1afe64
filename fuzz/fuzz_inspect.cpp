// libFuzzer target: every input the reader accepts goes through what
// varndel-inspect does with it, in process: check, json --full, info and
// render (32x32 with the skeleton; two frames of an animated file). Besides
// the sanitizers' findings it checks what the inspector promises: the JSON
// document parses, and no printed line holds a control character (stored
// names and paths are quoted). Stored texture paths resolve against the
// working directory, where the input is taken to lie.
#include <varndel/mapped.h>
#include <varndel/reader.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "inspect/render/render.h"
#include "inspect/report.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "inspector broke its contract: %s\n", what);
  std::abort();
}

// Lines of text for a terminal: no control character but the line ends.
void RequireQuoted(const std::string& text, const char* what) {
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte != '\n' && (byte < 0x20 || byte == 0x7F)) {
      std::fprintf(stderr, "control byte 0x%02x in %s:\n%s\n", byte, what, text.c_str());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varndel::Model model;
  if (!varndel::ReadModel(data, size, model)) return 0;
  const std::string file = "input.bin";
  const inspect::Palette plain;

  for (const inspect::Finding& finding : inspect::CheckModel(model, file))
    RequireQuoted(inspect::FormatFinding(finding, file, plain), "a check finding");

  varndel::MappedModel view;
  Require(view.Open(data, size), "the view refuses what ReadModel accepts");
  std::ostringstream info;
  inspect::WriteInfo(info, file, view, size, plain);
  RequireQuoted(info.str(), "info");

  std::ostringstream json;
  inspect::WriteJson(json, view, size, true);
  const nlohmann::json document = nlohmann::json::parse(json.str(), nullptr, false);
  Require(!document.is_discarded(), "json --full wrote no valid JSON");
  Require(document.contains("animation") == model.animated, "json has animation exactly for animated files");

  render::Request request;
  request.width = request.height = 32;
  request.skeleton = true;
  request.frames = model.animated ? 2 : 0;
  std::vector<std::string> warnings;
  const render::Image picture = render::DrawPicture(model, file, request, warnings);
  for (const std::string& warning : warnings) RequireQuoted(warning, "a render warning");
  Require(picture.width == 64 || picture.width == 32, "picture of the wrong size");
  std::string png;
  Require(render::EncodePng(picture, png), "the picture cannot be encoded");
  return 0;
}
