// varndel-inspect report: one HTML page over a library of compiled files.
// The work is split into finding the files (library_files.cpp), describing
// each one (library_entry.cpp: json's figures, check's findings, render's
// pictures), comparing with an earlier report (library_compare.cpp) and
// writing the page (library_page.cpp).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace inspect {

// A compiled file found under one of the report's paths. key names it across
// builds: the path relative to the directory argument it was found under, or
// the path as given for a file argument.
struct LibraryFile {
  std::string path;
  std::string key;
};

// Every .staticbin and .animbin under paths (directories walked recursively,
// symbolic links to directories not followed, files given by name taken
// whatever their extension), sorted by key, each file once. False, with the
// reason naming the path, when a path does not exist or cannot be walked.
bool FindCompiledFiles(const std::vector<std::string>& paths, std::vector<LibraryFile>& files, std::string& error);

struct PictureOptions {
  bool draw = true;
  int width = 288, height = 288;  // the detail panel's picture; the table shows it smaller
  int frames = 4;                 // of an animated file, spread over its duration
  uint64_t maxTriangles = 4'000'000;
  uint64_t pixelTests = uint64_t{1} << 27;
};

// One file's entry of the report (see docs/report.md for the fields). A file
// the reader refuses gets an entry with its error and no figures. Never throws
// for anything a file holds; pictures are PNG data URIs.
nlohmann::json DescribeLibraryFile(const LibraryFile& file, const PictureOptions& options);

// The bytes of a string as text: well-formed UTF-8 is kept, each maximal
// ill-formed part becomes U+FFFD (as json writes names).
std::string TextOf(std::string_view bytes);
// Lower-case hexadecimal of the bytes.
std::string HexOf(std::string_view bytes);
// Standard base64 with padding.
std::string Base64Of(std::string_view bytes);

// Marks each file of current with "change": {"status": "added" | "changed" |
// "same", "bytesDelta": n} against the files of old (a report's --json), and
// sets current["removed"] to the old files no longer there. A file changes
// when its content hash, figures, findings or error differ. False, with the
// reason, when old is no report document.
bool CompareReports(const nlohmann::json& old, nlohmann::json& current, std::string& error);

// The report as JSON text, every string valid UTF-8.
std::string DumpReport(const nlohmann::json& report, int indent);
// The self-contained page: styles, script and the report (pictures inline)
// in one file that makes no network request. Strings from files reach the
// page only as JSON text inside a script element, escaped so that no byte
// sequence can end that element, and are shown by the page's script as text.
std::string WriteReportPage(const nlohmann::json& report);

}  // namespace inspect
