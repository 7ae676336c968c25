#include "services/z9search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "boundary/cframe.h"
#include "tests/services/services_fixture.h"
#include "tests/support/command.h"
#include "tests/support/geos_oracle.h"

namespace {

using svctest::Box;
using svctest::Context;
using svctest::Region;

std::string Fixture(const char* name) {
  return testsupport::FixturePath(std::string("z9/") + name);
}

// Runs the fixture generator on records (CSV lines) into path.
bool MakeZ9(const std::string& csv, const std::string& path, const std::string& options = "") {
  std::string out;
  return testsupport::RunCommand(std::string(testsupport::kPython) + " " + Fixture("make_z9.py") +
                                     " " + csv + " " + path + " " + options + " 2>&1",
                                 &out);
}

// A ZIP+4 handle for one test.
class Zip4 {
 public:
  Zip4(const Context& c, const std::string& path) {
    opened_ = pipZip4FileOpen(c.handle(), path.c_str(), &handle_);
  }
  ~Zip4() {
    if (opened_ == 1) pipZip4FileClose(handle_);
  }
  Zip4(const Zip4&) = delete;
  Zip4& operator=(const Zip4&) = delete;

  int32_t result() const { return opened_; }
  uint32_t handle() const { return handle_; }
  Zip4FileHandle* object() const {
    return static_cast<Zip4FileHandle*>(HandleTable::Global().Lookup(handle_, kHandleZip4));
  }

  // Every hit as "code type name", and the last result.
  std::vector<std::string> Hits(uint32_t file, int32_t radius, int32_t* last = nullptr) {
    std::vector<std::string> out;
    char code[10], type[2], name[128];
    int32_t r = pipZip4FindFirst(handle_, file, radius, code, type, name, sizeof name);
    for (; r > 0; r = pipZip4FindNext(handle_, code, type, name, sizeof name))
      out.push_back(std::string(code) + " " + type + " " + name);
    if (last) *last = r;
    return out;
  }

 private:
  uint32_t handle_ = 0;
  int32_t opened_ = -1;
};

// The regions the small fixture's centroids are tested against.
std::string SmallRegions(const testsupport::TempDir& dir) {
  const std::string path = dir.File("small.gsb");
  // With segment records, as searches with a radius need them.
  EXPECT_TRUE(svctest::BuildFile(path,
                                 {Region("A", {Box(-80000000, 35000000, -79500000, 35500000)}),
                                  Region("B", {Box(-79500000, 35000000, -79000000, 35500000)})},
                                 1, PIP_IMPORT_SEGMENTS));
  return path;
}

const std::vector<std::string> kSmallHits = {
    "270010001 S A", "270010002 H A", "270010003 F B",
    "270040001 M B", "270049999 R A", "270050000 G A",
};

TEST(Zip4Search, SmallFileGivesItsCentroidsInRegions) {
  testsupport::TempDir dir;
  const std::string regions = SmallRegions(dir);
  Context c;
  svctest::OpenFile file(c, regions);
  ASSERT_TRUE(file.ok());
  for (const char* fixture : {"small.z9", "small_form2.z9"}) {
    Zip4 z(c, Fixture(fixture));
    ASSERT_EQ(z.result(), 1) << fixture << ": " << c.Detail();
    int32_t last = 9;
    EXPECT_EQ(z.Hits(file.handle(), 0, &last), kSmallHits) << fixture;
    EXPECT_EQ(last, 0) << fixture;
    // After the last hit find-next keeps giving 0; a new find-first restarts.
    char code[10], type[2], name[64];
    EXPECT_EQ(pipZip4FindNext(z.handle(), code, type, name, sizeof name), 0);
    EXPECT_EQ(z.Hits(file.handle(), 0), kSmallHits) << fixture;
    // The two records of one centroid are tested once; ZIP Code 27003's area
    // meets no region, so its centroid is never tested.
    EXPECT_EQ(z.object()->Tests(), 8u) << fixture;
  }
}

TEST(Zip4Search, RadiusReachesCentroidsNearARegion) {
  testsupport::TempDir dir;
  const std::string regions = SmallRegions(dir);
  Context c;
  svctest::OpenFile file(c, regions);
  Zip4 z(c, Fixture("small.z9"));
  ASSERT_EQ(z.result(), 1);
  // 27002-0002 lies 0.1 degree (36,432 feet) north of region A. (Centroids
  // near both regions may be named after either.)
  auto codes = [](const std::vector<std::string>& hits) {
    std::vector<std::string> out;
    for (const std::string& h : hits) out.push_back(h.substr(0, 11));
    return out;
  };
  std::vector<std::string> within = codes(kSmallHits);
  within.insert(within.begin() + 3, "270020002 S");
  EXPECT_EQ(codes(z.Hits(file.handle(), 40000)), within);
  EXPECT_EQ(codes(z.Hits(file.handle(), 30000)), codes(kSmallHits));
  // The widest radius widens every area past the poles and the 32-bit range
  // without overflowing, and reaches every centroid.
  int32_t last = 9;
  EXPECT_EQ(z.Hits(file.handle(), INT32_MAX, &last).size(), 10u) << c.Detail();
  EXPECT_EQ(last, 0);
}

TEST(Zip4Search, BuffersAndHandles) {
  testsupport::TempDir dir;
  const std::string regions = SmallRegions(dir);
  Context c;
  svctest::OpenFile file(c, regions);
  Zip4 z(c, Fixture("small.z9"));
  char code[10], type[2], name[4];
  EXPECT_EQ(pipZip4FindFirst(z.handle(), file.handle(), 0, code, type, name, sizeof name), 1);
  EXPECT_STREQ(code, "270010001");
  EXPECT_STREQ(type, "S");
  EXPECT_STREQ(name, "A");
  EXPECT_EQ(pipZip4FindFirst(z.handle(), file.handle(), 0, code, type, name, 0), -1);
  EXPECT_EQ(pipZip4FindFirst(z.handle(), z.handle(), 0, code, type, name, sizeof name), -1);
  EXPECT_EQ(pipZip4FindFirst(file.handle(), file.handle(), 0, code, type, name, sizeof name), -1);
  EXPECT_EQ(pipZip4FindNext(c.handle(), code, type, name, sizeof name), -1);
  EXPECT_EQ(pipZip4FileClose(file.handle()), -1);
}

std::string Patched(const testsupport::TempDir& dir, const std::string& from, const char* name,
                    size_t offset, const std::string& bytes) {
  std::string data = testsupport::ReadAll(from);
  if (offset + bytes.size() > data.size()) data.resize(offset + bytes.size());
  data.replace(offset, bytes.size(), bytes);
  return dir.Write(name, data);
}

std::string U16(uint16_t v) {
  std::string s(2, '\0');
  QStoreU16LE(s.data(), v);
  return s;
}
std::string U32(uint32_t v) {
  std::string s(4, '\0');
  QStoreU32LE(s.data(), v);
  return s;
}

TEST(Zip4Search, FilesThatDoNotOpen) {
  testsupport::TempDir dir;
  const std::string small = Fixture("small.z9");
  const std::string data = testsupport::ReadAll(small);
  const uint32_t locator = QLoadU32LE(data.data() + 260);
  const size_t area = size_t(locator & 0x7FFFFFFF) * 2048;
  struct Case {
    const char* name;
    std::string path;
    int32_t code;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"missing file", dir.File("none.z9"), 2, dir.File("none.z9")},
      {"wrong signature", Patched(dir, small, "a.z9", 256, U32(0x77335599)), 102,
       "ZIP+4 centroid file"},
      {"no area index", Patched(dir, small, "b.z9", 260, U32(locator & 0x7FFFFFFF)), 100,
       "Z9 file is missing ZIP Code area index."},
      {"wrong area signature", Patched(dir, small, "c.z9", area, U32(0xAA55CDBC)), 100,
       "Z9 file has invalid ZIP Code area index."},
      {"area entries past the end", Patched(dir, small, "d.z9", area + 8, U32(1000)), 100,
       "Z9 file has invalid ZIP Code area index."},
      {"area index past the end", Patched(dir, small, "e.z9", 260, U32(0x80001000)), 100,
       "Z9 file has invalid ZIP Code area index."},
      {"largest record count past 65535", Patched(dir, small, "f.z9", 264, U32(70000)), 111,
       "ZIP+4 centroid file page 0 is damaged: its largest record count passes 65535"},
      {"key index off a page", Patched(dir, small, "g.z9", 276, U32(2050)), 111,
       "ZIP+4 centroid file page 0 is damaged: the 9-character key index does not start a page"},
      {"key index past the end", Patched(dir, small, "h.z9", 276, U32(2048 * 400)), 111,
       "ZIP+4 centroid file page 400 is damaged: it lies past the end of the file"},
      {"key index of 512 entries", Patched(dir, small, "i.z9", 2048, U16(512)), 111,
       "ZIP+4 centroid file page 1 is damaged: its index holds more than 511 entries"},
      {"439 five-character keys", Patched(dir, small, "j.z9", 280, U16(439)), 111,
       "ZIP+4 centroid file page 0 is damaged: the 5-character key index holds more than 438 "
       "entries"},
      {"cut inside the header", dir.Write("k.z9", data.substr(0, 1000)), 111,
       "ZIP+4 centroid file page 0 is damaged: it lies past the end of the file"},
  };
  for (const Case& k : cases) {
    Context c;
    uint32_t handle = 77;
    EXPECT_EQ(pipZip4FileOpen(c.handle(), k.path.c_str(), &handle), -1) << k.name;
    EXPECT_EQ(handle, 77u) << k.name;
    EXPECT_EQ(c.Code(), k.code) << k.name;
    EXPECT_EQ(c.Detail(), k.detail) << k.name;
  }
}

TEST(Zip4Search, CommittedFixturesAreTheGeneratorsOutput) {
  ASSERT_TRUE(std::filesystem::exists(testsupport::kPython)) << "the generator needs Python";
  testsupport::TempDir dir;
  const struct {
    const char* fixture;
    const char* options;
  } fixtures[] = {{"small.z9", "--per-page 3"}, {"small_form2.z9", "--form 2 --per-page 4"}};
  for (const auto& f : fixtures) {
    const std::string made = dir.File(f.fixture);
    ASSERT_TRUE(MakeZ9(Fixture("small.csv"), made, f.options)) << f.fixture;
    EXPECT_TRUE(testsupport::ReadAll(made) == testsupport::ReadAll(Fixture(f.fixture)))
        << f.fixture << " differs from make_z9.py small.csv " << f.options;
  }
}

TEST(Zip4Search, FileFoundForItsName) {
  testsupport::TempDir dir;
  std::filesystem::copy_file(Fixture("small.z9"), dir.File("centroids.z9"));
  Context c;
  Zip4 exact(c, dir.File("centroids.z9"));
  EXPECT_EQ(exact.result(), 1);
  Zip4 pattern(c, dir.File("centr*.z9"));
  EXPECT_EQ(pattern.result(), 1) << c.Detail();
  Zip4 versioned(c, dir.File("centroids.z9;1"));
  EXPECT_EQ(versioned.result(), 1) << c.Detail();
}

TEST(Zip4Search, DamagedPagesGiveErrors) {
  testsupport::TempDir dir;
  const std::string regions = SmallRegions(dir);
  const std::string small = Fixture("small.z9");
  // Page 1 is the key index, page 2 the block index, pages 3.. data pages.
  const size_t block = 2 * 2048, first = 3 * 2048;
  const std::string data = testsupport::ReadAll(small);
  const size_t keys = first + 20 + QLoadU16LE(data.data() + first);  // the add-on column
  struct Case {
    const char* name;
    std::string path;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"record count above the largest", Patched(dir, small, "a.z9", first + 16, U16(4)),
       "ZIP+4 centroid file page 3 is damaged: its record count passes the header's largest"},
      {"columns past the page", Patched(dir, small, "b.z9", first + 6, U16(2000)),
       "ZIP+4 centroid file page 3 is damaged: its columns pass the end of the page"},
      {"a column's checkpoint length of 0",
       Patched(dir, small, "c.z9", first + 20, std::string(1, '\0')),
       "ZIP+4 centroid file page 3 is damaged: a column does not decode"},
      {"a key column cut short", Patched(dir, small, "d.z9", keys + 1, std::string(1, '\xC0')),
       "ZIP+4 centroid file page 3 is damaged: its key column does not decode"},
      {"keys out of order", Patched(dir, small, "e.z9", keys + 1, std::string(1, '\x4D')),
       "ZIP+4 centroid file page 3 is damaged: its keys do not ascend"},
      {"block index of 600 entries", Patched(dir, small, "f.z9", block, U16(600)),
       "ZIP+4 centroid file page 2 is damaged: its index holds more than 511 entries"},
      {"empty block index", Patched(dir, small, "g.z9", block, U16(0)),
       "ZIP+4 centroid file page 2 is damaged: its block index is empty"},
      {"block index past the end", Patched(dir, small, "h.z9", 2048, U16(2)),
       "ZIP+4 centroid file page 514 is damaged: it lies past the end of the file"},
      {"garbage data page", Patched(dir, small, "i.z9", first + 2048, std::string(2048, '\xA7')),
       "ZIP+4 centroid file page 4 is damaged: its record count passes the header's largest"},
  };
  for (const Case& k : cases) {
    Context c;
    svctest::OpenFile file(c, regions);
    uint32_t handle = 0;
    int32_t opened = pipZip4FileOpen(c.handle(), k.path.c_str(), &handle);
    // Each file opens: the damage lies in pages read only by a search.
    ASSERT_EQ(opened, 1) << k.name << ": " << c.Detail();
    // The hits before the damaged page, then -1; the handle stays usable, and
    // a new find-first runs the same way again.
    std::vector<std::string> hits[2];
    for (auto& run : hits) {
      char code[10], type[2], name[64];
      int32_t r = pipZip4FindFirst(handle, file.handle(), 0, code, type, name, sizeof name);
      for (int guard = 0; r > 0 && guard < 100; ++guard) {
        run.push_back(std::string(code) + " " + type + " " + name);
        r = pipZip4FindNext(handle, code, type, name, sizeof name);
      }
      EXPECT_EQ(r, -1) << k.name;
      EXPECT_EQ(c.Detail(), k.detail) << k.name;
    }
    EXPECT_EQ(hits[0], hits[1]) << k.name;
    EXPECT_EQ(pipZip4FileClose(handle), 1) << k.name;
  }
}

// ---- against GEOS --------------------------------------------------------------

struct Centroid {
  uint32_t zip;
  uint32_t addOn;
  int32_t x;  // millionths of a degree, multiples of 100
  int32_t y;
};

// Writes the centroids as the generator's records and makes the Z9 file.
bool WriteZ9(const testsupport::TempDir& dir, const std::vector<Centroid>& centroids,
             const std::string& path, const std::string& options = "") {
  const std::string csv = dir.File("records.csv");
  {
    std::ofstream out(csv);
    for (const Centroid& k : centroids) {
      out << k.zip << "," << k.addOn << ",0,0," << -k.x / 100 << "," << k.y / 100 << ","
          << char('A' + (k.addOn % 26)) << ",0\n";
    }
  }
  return MakeZ9(csv, path, options);
}

// The centroid-region pairs of the search, each as "zip+4 name".
std::set<std::string> SearchPairs(const Context& c, const std::string& z9, const std::string& gsb) {
  svctest::OpenFile file(c, gsb);
  Zip4 z(c, z9);
  EXPECT_TRUE(file.ok());
  EXPECT_EQ(z.result(), 1) << c.Detail();
  std::set<std::string> pairs;
  int32_t last = 9;
  for (const std::string& hit : z.Hits(file.handle(), 0, &last)) {
    EXPECT_TRUE(pairs.insert(hit.substr(0, 9) + " " + hit.substr(12)).second) << "twice: " << hit;
  }
  EXPECT_EQ(last, 0) << c.Detail();
  return pairs;
}

// Compares the search's pairs with GEOS: a centroid inside a region (GEOS
// contains) is paired with it; one on a region's border may be paired with
// any region it touches; others are not paired.
void CompareWithGeos(const std::vector<Centroid>& centroids, const std::string& gsb,
                     const std::set<std::string>& pairs, const char* what) {
  Context c;
  svctest::OpenFile file(c, gsb);
  ASSERT_TRUE(file.ok());
  testsupport::Geos geos;
  struct Prepared {
    std::string name;
    testsupport::Geos::Geom geom;
    testsupport::Geos::Prepared prepared;
  };
  std::vector<Prepared> regions;
  for (auto& r : svctest::Regions(file.handle())) {
    auto g = geos.Region(r.rings);
    if (!g) continue;
    auto p = geos.Prepare(g.get());
    regions.push_back({r.name, std::move(g), std::move(p)});
  }
  ASSERT_GT(regions.size(), 5u);
  std::map<std::string, std::string> found;
  for (const std::string& pair : pairs) found[pair.substr(0, 9)] = pair.substr(10);
  size_t inside = 0;
  for (const Centroid& k : centroids) {
    char code[16];
    std::snprintf(code, sizeof code, "%05u%04u", k.zip, k.addOn);
    auto point = geos.Point(k.x, k.y);
    std::set<std::string> contains, touches;
    for (const Prepared& r : regions) {
      if (GEOSPreparedContainsProperly_r(geos.context(), r.prepared.get(), point.get()))
        contains.insert(r.name);
      else if (GEOSPreparedIntersects_r(geos.context(), r.prepared.get(), point.get()))
        touches.insert(r.name);
    }
    auto it = found.find(code);
    if (contains.size() == 1 && touches.empty()) {
      ++inside;
      EXPECT_TRUE(it != found.end() && it->second == *contains.begin())
          << what << ": " << code << " lies in " << *contains.begin();
    } else if (contains.empty() && touches.empty()) {
      EXPECT_TRUE(it == found.end())
          << what << ": " << code << " lies in no region, found in " << it->second;
    } else if (it != found.end()) {
      EXPECT_TRUE(contains.count(it->second) || touches.count(it->second))
          << what << ": " << code << " found in " << it->second;
    }
  }
  EXPECT_GT(inside, centroids.size() / 10) << what;
}

TEST(Zip4Search, GridOverNcEqualsGeos) {
  ASSERT_TRUE(std::filesystem::exists(testsupport::kPython)) << "the generator needs Python";
  const std::string gsb = svctest::RealFile(svctest::kNc);
  ASSERT_FALSE(gsb.empty());
  testsupport::TempDir dir;
  // A grid over the state and around it, every 0.03 degree; each ZIP Code a
  // block of 8 x 8 points, so that areas both meet and miss the counties.
  std::vector<Centroid> centroids;
  for (int32_t i = 0; i < 330; ++i) {
    for (int32_t j = 0; j < 110; ++j) {
      const int32_t x = -84500000 + i * 30000, y = 33700000 + j * 30000;
      const uint32_t zip = 10000 + uint32_t((i / 8) * 20 + j / 8);
      centroids.push_back({zip, uint32_t((i % 8) * 8 + j % 8) * 37, x, y});
    }
  }
  const std::string z9 = dir.File("grid.z9");
  ASSERT_TRUE(WriteZ9(dir, centroids, z9, "--pages-per-block 40"));
  Context c;
  const std::set<std::string> pairs = SearchPairs(c, z9, gsb);
  CompareWithGeos(centroids, gsb, pairs, "grid over nc");
}

TEST(Zip4Search, CitiesInCountriesEqualGeos) {
  ASSERT_TRUE(std::filesystem::exists(testsupport::kPython)) << "the generator needs Python";
  const std::string cities = svctest::RealFile(svctest::kCities);
  const std::string countries = svctest::RealFile(svctest::kCountries);
  ASSERT_FALSE(cities.empty() || countries.empty());
  // The area grid covers the western hemisphere's north, west of 60 W.
  Context c;
  svctest::OpenFile file(c, cities);
  ASSERT_TRUE(file.ok());
  std::vector<Centroid> centroids;
  std::mt19937 random(5);
  std::uniform_int_distribution<int32_t> jitter(-3000, 3000);
  char name[128];
  uint32_t zip = 20000;
  for (int32_t r = pipObjectFindFirstName(file.handle(), "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(file.handle(), name, sizeof name)) {
    pipObjectInfoStruct info;
    ASSERT_EQ(pipObjectGetInfo(file.handle(), &info), 1);
    if (info.x > -61000000 || info.x < -179000000 || info.y < 1000000) continue;
    ++zip;
    // The city and points scattered a few tens of miles about it.
    for (uint32_t k = 0; k < 40; ++k) {
      const int32_t x = info.x / 100 * 100 + (k ? jitter(random) * 100 : 0);
      const int32_t y = info.y / 100 * 100 + (k ? jitter(random) * 100 : 0);
      centroids.push_back({zip, k * 11, x, y});
    }
  }
  ASSERT_GT(zip, 20020u);
  testsupport::TempDir dir;
  const std::string z9 = dir.File("cities.z9");
  ASSERT_TRUE(WriteZ9(dir, centroids, z9, "--form 2 --per-page 50 --pages-per-block 7"));
  const std::set<std::string> pairs = SearchPairs(c, z9, countries);
  CompareWithGeos(centroids, countries, pairs, "cities in countries");
}

}  // namespace
