#include "support/map_test_store.h"

#include <algorithm>

#include "support/work_folder.h"
#include "tag_files/tag_files.h"

map_test_store::map_test_store() : folder_(std::make_unique<scoped_work_folder>()) {
  ready_ = map_fixture_open_store(&media_tag_);
}

map_test_store::~map_test_store() { close(); }

void map_test_store::close() { map_fixture_close_store(); }

int32_t map_test_store::store_map(const char* name, map_fixture& map, int16_t version) {
  return map_fixture_store_map(name, map, version, media_tag_);
}

std::vector<uint8_t> map_test_store::tag_bytes(int32_t tag_index) const {
  std::vector<uint8_t> bytes(size_t(std::max(tag_file_get_size(tag_index), 0)));
  if (!bytes.empty() && !tag_file_read(tag_index, 0, int32_t(bytes.size()), bytes.data())) bytes.clear();
  return bytes;
}

std::string map_test_store::log() const { return folder_->read_file("tarn_log.txt"); }
