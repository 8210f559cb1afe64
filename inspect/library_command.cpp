// varndel-inspect report PATH... -o report.html: one HTML page over every
// compiled file under the paths, with pictures, sizes and findings.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/library_report.h"
#include "inspect/progress.h"
#include "inspect/render/render.h"
#include "reader/file_access.h"

namespace {

using Json = nlohmann::json;

const char* const kPrefix = "varndel-inspect report: ";
constexpr size_t kMaxJobs = 256;
constexpr int kMaxCompareDepth = 64;  // a report's JSON nests about 6 deep

// A report's JSON read back for --compare: refused, with the reason, when it
// cannot be read or parsed, or nests deeper than any report does.
bool ReadOldReport(const std::string& path, Json& old, std::string& reason) {
  std::string text;
  if (!varndel::file_access::ReadRegularFile(path, text, reason)) return false;
  try {
    old = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxCompareDepth) throw std::length_error("nested more deeply than a report's JSON");
      return true;
    });
  } catch (const Json::exception& e) {
    reason = path + ": not JSON: " + e.what();
    return false;
  } catch (const std::length_error& e) {
    reason = path + ": " + e.what();
    return false;
  }
  return true;
}

// The report's JSON for --json: everything but the pictures' pixels.
Json WithoutPixels(Json report) {
  for (Json& file : report["files"])
    if (file.contains("picture")) file["picture"].erase("frames");
  return report;
}

}  // namespace

int RunReport(int argc, char** argv) {
  CLI::App app{
      "Writes one self-contained HTML page over every compiled file (.staticbin, .animbin) under the paths: a "
      "picture, sizes, textures, animation figures and check's findings per file, sortable and filterable. A "
      "file that cannot be read gets a row with the reader's error; it does not fail the report.\n"
      "Exit 0 when the page is written, 1 when it cannot be written, 2 on a usage error, a path that does not "
      "exist or an unusable --compare file.",
      "varndel-inspect report"};
  std::vector<std::string> paths;
  std::string output, thumb = "96x96", jsonOutput, compareWith;
  size_t jobs = std::max(1u, std::thread::hardware_concurrency());
  uint64_t maxTriangles = inspect::PictureOptions{}.maxTriangles;
  app.add_option("PATH", paths, "compiled files, or directories searched recursively")->required();
  app.add_option("-o,--output", output, "the HTML page to write")->required();
  app.add_option("-j,--jobs", jobs, "files described and drawn at once (default: the processor count)")
      ->check(CLI::Range(size_t{1}, kMaxJobs));
  app.add_option("--thumb", thumb, "thumbnail size in the table, WxH; the detail panel's picture is three times as large")
      ->capture_default_str();
  app.add_option("--json", jsonOutput, "also write the report (without pictures) as JSON, for a later --compare");
  app.add_option("--compare", compareWith, "an earlier report's --json: mark files added, removed and changed");
  app.add_option("--max-triangles", maxTriangles, "files with more triangles get a placeholder instead of a picture")
      ->capture_default_str();
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "no progress on stderr");
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  inspect::PictureOptions options;
  options.maxTriangles = maxTriangles;
  int width = 0, height = 0;
  if (!render::ParseSize(thumb, width, height) || width > 1024 || height > 1024) {
    std::cerr << kPrefix << "--thumb " << thumb << ": expected WxH, each side from 1 to 1024\n";
    return inspect::kExitUnreadable;
  }
  options.width = 3 * width;
  options.height = 3 * height;

  Json old;
  if (!compareWith.empty()) {
    std::string reason;
    if (!ReadOldReport(compareWith, old, reason)) {
      std::cerr << kPrefix << "--compare: " << reason << "\n";
      return inspect::kExitUnreadable;
    }
    if (Json probe = Json{{"files", Json::array()}}; !inspect::CompareReports(old, probe, reason)) {
      std::cerr << kPrefix << "--compare: " << compareWith << ": " << reason << "\n";
      return inspect::kExitUnreadable;
    }
  }

  std::vector<inspect::LibraryFile> files;
  std::string error;
  if (!inspect::FindCompiledFiles(paths, files, error)) {
    std::cerr << kPrefix << error << "\n";
    return inspect::kExitUnreadable;
  }
  if (files.empty()) std::cerr << kPrefix << "warning: no compiled files (.staticbin, .animbin) under the paths\n";

  // Each worker takes the next file; the progress line counts files as they finish.
  std::vector<Json> entries(files.size());
  std::atomic<size_t> next{0};
  std::mutex finishing;
  size_t finished = 0;
  progress::Line line("varndel-inspect report: files described", !quiet);
  const auto work = [&] {
    for (size_t i = next++; i < files.size(); i = next++) {
      Json entry;
      try {
        entry = inspect::DescribeLibraryFile(files[i], options);
      } catch (const std::exception& e) {
        // Out of memory, or a failure of the drawing: the file keeps its row.
        entry = Json{{"path", inspect::TextOf(files[i].path)}, {"key", inspect::TextOf(files[i].key)},
                     {"error", std::string("cannot describe the file: ") + e.what()}};
      }
      std::lock_guard<std::mutex> lock(finishing);
      ++finished;
      if (entry.contains("error")) {
        line.Clear();
        std::cerr << kPrefix << "warning: " << files[i].path << ": " << entry["error"].get<std::string>() << "\n";
      }
      line.Update(finished, files.size());
      entries[i] = std::move(entry);
    }
  };
  std::vector<std::thread> workers;
  const size_t count = std::min(jobs, std::max<size_t>(files.size(), 1));
  for (size_t t = 1; t < count; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  line.Finish();

  Json report{{"format", "varndel-inspect report"}, {"version", 1}, {"thumb", {width, height}},
              {"files", std::move(entries)}};
  if (!compareWith.empty()) {
    inspect::CompareReports(old, report, error);
    report["compareWith"] = inspect::TextOf(compareWith);
  }

  std::string reason;
  if (!jsonOutput.empty() && !inspect::WriteWholeFile(jsonOutput, inspect::DumpReport(WithoutPixels(report), 2) + "\n", reason)) {
    std::cerr << kPrefix << "cannot write " << jsonOutput << ": " << reason << "\n";
    return inspect::kExitFindings;
  }
  if (!inspect::WriteWholeFile(output, inspect::WriteReportPage(report), reason)) {
    std::cerr << kPrefix << "cannot write " << output << ": " << reason << "\n";
    return inspect::kExitFindings;
  }
  return inspect::kExitOk;
}
