// The tag store at full size: five install archives and 500 local tags in a temporary working
// folder, 9,999 tag headers in all (the header table holds 10,000). Half of the local tags hide an
// archive tag, as edited maps and definitions do.
//   BM_tag_files_open: closing and reloading the whole store.
//   BM_tag_file_find: looking up visible tags (and some that are missing) by group and identifier.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "tag_files/archive_writer.h"
#include "tag_files/tag_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLocalTags = 500;
constexpr int kArchiveTags = 9999 - kLocalTags;
constexpr tag kGroups[] = {make_tag("mesh"), make_tag("scen"), make_tag("unit"), make_tag("obje"),
                           make_tag("soun"), make_tag("mode"), make_tag("proj"), make_tag("stli")};
constexpr int kGroupCount = int(std::size(kGroups));

struct stored_key {
  tag group;
  tag identifier;
};

archive_writer_tag bench_tag(int number) {
  archive_writer_tag entry;
  entry.group_tag = kGroups[number % kGroupCount];
  entry.tag_identifier = tag(0x41000000u + uint32_t(number));
  entry.name = "tag " + std::to_string(number);
  entry.version = 1;
  entry.install_class = 0;
  entry.data.assign(size_t(32 + number % 200), uint8_t(number));
  return entry;
}

// A temporary working folder holding the store, built once for every benchmark of the program.
class bench_store {
 public:
  bench_store() {
    std::string folder = (fs::temp_directory_path() / "vellgrim-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) std::abort();
    root_ = folder;
    fs::current_path(root_);
    error_manager_initialize("bench_tag_store");
    fs::create_directories("tags");

    int number = 0;
    for (int archive_index = 0; archive_index < NUMBER_OF_INSTALL_ARCHIVES; ++archive_index) {
      archive_writer_archive archive;
      archive.type = _tag_file_install_archive;
      archive.name = install_archive_names[archive_index];
      int count = kArchiveTags / NUMBER_OF_INSTALL_ARCHIVES + (archive_index < kArchiveTags % NUMBER_OF_INSTALL_ARCHIVES);
      for (int i = 0; i < count; ++i, ++number) {
        archive.tags.push_back(bench_tag(number));
        keys_.push_back({archive.tags.back().group_tag, archive.tags.back().tag_identifier});
      }
      file_specification file;
      file_spec_initialize(&file, 0);
      file_spec_append_folder(&file, "tags");
      file_spec_set_name(&file, install_archive_names[archive_index]);
      if (!archive_writer_write(archive, &file)) std::abort();
    }
    for (int i = 0; i < kLocalTags; ++i) {
      // Even ones hide an archive tag, odd ones are new.
      archive_writer_tag entry = bench_tag(i % 2 == 0 ? i * 7 : kArchiveTags + i);
      entry.name = "local " + std::to_string(i);
      if (i % 2 != 0) keys_.push_back({entry.group_tag, entry.tag_identifier});
      if (!archive_writer_write_local_tag_in_place(entry)) std::abort();
    }
    if (!tag_files_initialize() || !tag_files_open(false, {}, NONE)) std::abort();
  }

  ~bench_store() {
    tag_files_close();
    std::error_code error;
    fs::current_path(fs::temp_directory_path(), error);
    fs::remove_all(root_, error);
  }

  const std::vector<stored_key>& keys() const { return keys_; }

 private:
  fs::path root_;
  std::vector<stored_key> keys_;
};

bench_store& store() {
  static bench_store instance;
  return instance;
}

void BM_tag_files_open(benchmark::State& state) {
  store();
  for (auto _ : state) {
    bool opened = tag_files_open(false, {}, NONE);
    benchmark::DoNotOptimize(opened);
  }
  tag_file_filter any = tag_file_filter_any();
  int32_t visible = tag_file_search(any, nullptr, MAXIMUM_TAG_HEADERS);
  if (visible != int32_t(store().keys().size())) state.SkipWithError("the store did not load every tag");
  state.counters["visible_tags"] = double(visible);
}
BENCHMARK(BM_tag_files_open)->Unit(benchmark::kMillisecond);

void BM_tag_file_find(benchmark::State& state) {
  const std::vector<stored_key>& keys = store().keys();
  tag_files_open(false, {}, NONE);
  // Every eighth look-up asks for a tag that is not there.
  size_t next = 0;
  int64_t found = 0;
  for (auto _ : state) {
    const stored_key& key = keys[next];
    tag identifier = next % 8 == 7 ? key.identifier ^ 0x00800000u : key.identifier;
    int32_t tag_index = tag_file_find(key.group, identifier);
    found += tag_index != NONE;
    benchmark::DoNotOptimize(tag_index);
    if (++next == keys.size()) next = 0;
  }
  if (state.iterations() > 8 && found == 0) state.SkipWithError("no look-up found its tag");
}
BENCHMARK(BM_tag_file_find);

}  // namespace
