// A tag store in a fresh working folder for the tests that open maps.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/map_fixtures.h"

class scoped_work_folder;

// A tag store in a fresh working folder, with the definition groups, shapes and the mesh module
// ready, a media definition "water" and the mesh lighting "gras" stored.
class map_test_store {
 public:
  map_test_store();
  ~map_test_store();
  map_test_store(const map_test_store&) = delete;
  map_test_store& operator=(const map_test_store&) = delete;

  bool ready() const { return ready_; }
  const scoped_work_folder& folder() const { return *folder_; }
  tag media_tag() const { return media_tag_; }

  // map_fixture_store_map with this store's media.
  int32_t store_map(const char* name, map_fixture& map, int16_t version = MESH_VERSION);
  // Closes the map and the tag store, so that another process can use the folder.
  void close();
  // The log so far (every report names its map).
  std::string log() const;
  // The bytes of a stored tag's data.
  std::vector<uint8_t> tag_bytes(int32_t tag_index) const;

 private:
  std::unique_ptr<scoped_work_folder> folder_;
  tag media_tag_ = NONE_TAG;
  bool ready_ = false;
};
