// varndel-inspect report's pieces that the browser test cannot see: the page
// keeps every string from a file inside its data, the comparison with an
// earlier report, and the walk that finds the files. The page itself is
// tested in a browser (tests/report/report_browser_test.py).
#include <fstream>

#include "inspect/library_report.h"
#include "tests/inspect_support.h"

namespace {

using Json = nlohmann::json;

TEST(InspectReport, Base64) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(inspect::Base64Of(bytes), text) << bytes;
  EXPECT_EQ(inspect::Base64Of(std::string("\xff\x00\xfe", 3)), "/wD+");
}

// Names that would end the data's script element, open a comment or a new
// element, or are not UTF-8, stay inside the data and read back as text.
TEST(InspectReport, PageKeepsHostileNamesInsideItsData) {
  const std::string names[] = {"</script><script>alert(1)</script>", "<!--", "a&b \"q\" 'q'",
                               "</SCRIPT >", std::string("bad\xff\xfe", 5), "\xe2\x80\xa8 line separator"};
  Json report{{"files", Json::array()}};
  for (const std::string& name : names) report["files"].push_back(Json{{"key", inspect::TextOf(name)}});
  const std::string page = inspect::WriteReportPage(report);

  const std::string open = "<script id=\"report-data\" type=\"application/json\">";
  const size_t start = page.find(open);
  ASSERT_NE(start, std::string::npos);
  const size_t end = page.find("</script>", start);
  const std::string data = page.substr(start + open.size(), end - start - open.size());
  EXPECT_EQ(data.find('<'), std::string::npos);
  EXPECT_EQ(data.find('&'), std::string::npos);
  // The data element, then the page's script: no other element ends.
  size_t closings = 0;
  for (size_t at = page.find("</script"); at != std::string::npos; at = page.find("</script", at + 1)) ++closings;
  EXPECT_EQ(closings, 2u);

  const Json back = Json::parse(data);
  ASSERT_EQ(back["files"].size(), std::size(names));
  for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(back["files"][i]["key"], inspect::TextOf(names[i]));
  EXPECT_EQ(inspect::TextOf(std::string("bad\xff\xfe", 5)), "bad\xef\xbf\xbd\xef\xbf\xbd");
  // The same report gives the same page.
  EXPECT_EQ(inspect::WriteReportPage(report), page);
}

Json Entry(const std::string& key, uint64_t bytes, const std::string& hash) {
  return Json{{"key", key}, {"hash", hash}, {"bytes", {{"total", bytes}}}, {"figures", {{"bytes", bytes}}}};
}

TEST(InspectReport, CompareMarksAddedChangedSameAndRemoved) {
  const Json old{{"files", {Entry("a", 100, "1"), Entry("b", 200, "2"), Entry("gone", 50, "3"), Entry("same", 10, "4")}}};
  Json current{{"files", {Entry("a", 100, "9"), Entry("b", 260, "2"), Entry("new", 70, "5"), Entry("same", 10, "4")}}};
  std::string error;
  ASSERT_TRUE(inspect::CompareReports(old, current, error)) << error;
  const std::tuple<const char*, const char*, int64_t> expected[] = {
      {"a", "changed", 0}, {"b", "changed", 60}, {"new", "added", 70}, {"same", "same", 0}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    const auto& [key, status, delta] = expected[i];
    const Json& file = current["files"][i];
    EXPECT_EQ(file["key"], key);
    EXPECT_EQ(file["change"]["status"], status) << key;
    EXPECT_EQ(file["change"]["bytesDelta"], delta) << key;
  }
  ASSERT_EQ(current["removed"].size(), 1u);
  EXPECT_EQ(current["removed"][0]["key"], "gone");
  EXPECT_EQ(current["removed"][0]["change"]["bytesDelta"], -50);
  EXPECT_EQ(current["compare"], (Json{{"added", 1}, {"changed", 2}, {"removed", 1}}));
}

TEST(InspectReport, CompareRefusesWhatIsNoReport) {
  const Json cases[] = {Json::array(), Json{{"files", 3}}, Json{{"other", Json::array()}},
                        Json{{"files", {Json{{"path", "x"}}}}}, Json{{"files", {1}}}};
  for (const Json& old : cases) {
    Json current{{"files", Json::array()}};
    std::string error;
    EXPECT_FALSE(inspect::CompareReports(old, current, error)) << old;
    EXPECT_NE(error.find("not the JSON of a report"), std::string::npos) << error;
  }
}

TEST(InspectReport, FindsCompiledFilesOnceSortedByKey) {
  ScratchDir dir;
  fs::create_directories(dir.path / "lib" / "sub");
  for (const char* name : {"lib/b.staticbin", "lib/sub/a.animbin", "lib/a.STATICBIN", "lib/notes.txt", "lib/x.staticbin.bak"})
    std::ofstream(dir.path / name) << "x";
  std::vector<inspect::LibraryFile> files;
  std::string error;
  const std::string lib = (dir.path / "lib").string();
  ASSERT_TRUE(inspect::FindCompiledFiles({lib, lib + "/b.staticbin", lib + "/notes.txt"}, files, error)) << error;
  std::vector<std::string> keys;
  for (const inspect::LibraryFile& file : files) keys.push_back(file.key);
  // Named on the command line: taken whatever its name, so that its row says what it is.
  EXPECT_EQ(keys, (std::vector<std::string>{lib + "/notes.txt", "a.STATICBIN", "b.staticbin", "sub/a.animbin"}));

  EXPECT_FALSE(inspect::FindCompiledFiles({(dir.path / "missing").string()}, files, error));
  EXPECT_NE(error.find("missing: no such file or directory"), std::string::npos) << error;
}

}  // namespace
