#include "tools/new_map.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/tool_messages.h"

namespace {

bool valid_texel_size(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width % MAP_TEXTURE_SIZE == 0 && height % MAP_TEXTURE_SIZE == 0 &&
         width / MAP_TEXTURE_SIZE <= MAXIMUM_MESH_SUBMESHES && height / MAP_TEXTURE_SIZE <= MAXIMUM_MESH_SUBMESHES;
}

int32_t bitmap_count_of(int32_t width, int32_t height) {
  return 2 * (width / MAP_TEXTURE_SIZE) * (height / MAP_TEXTURE_SIZE);
}

// Copies a native record into the stored block in stored order.
template <class T>
void put_stored(uint8_t* at, T record, const byte_swap_description& description) {
  byte_swap_data(description, &record, sizeof(T), 1);
  std::memcpy(at, &record, sizeof(T));
}

}  // namespace

int64_t map_collection_data_size(int32_t width, int32_t height) {
  const int64_t count = bitmap_count_of(width, height);
  return MAP_BITMAP_REFERENCES_OFFSET + count * (MAP_BITMAP_REFERENCE_SIZE + MAP_BITMAP_SIZE);
}

bool new_map_build_collection(int32_t* collection_tag_index, int32_t width, int32_t height,
                              const map_collection_contents* contents) {
  if (!valid_texel_size(width, height)) {
    POST_ERROR(error_data_mismatch, "can't build a collection of %dx%d texels.", width, height);
    return false;
  }
  const int32_t count = bitmap_count_of(width, height);
  const int64_t data_size = map_collection_data_size(width, height);
  std::vector<uint8_t> bytes;
  try {
    bytes.assign(size_t(MAP_COLLECTION_DATA_OFFSET + data_size), 0);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %d bytes for bitmap", int(MAP_COLLECTION_DATA_OFFSET + data_size));
    return false;
  }
  uint8_t* data = bytes.data() + MAP_COLLECTION_DATA_OFFSET;

  collection_header header = {};
  header.flags = COLLECTION_HOLDS_SUBMESH_TEXTURES;
  header.color_tables = {1, MAP_COLOR_TABLE_OFFSET, sizeof(color_table), 0};
  header.bitmap_references = {uint32_t(count), MAP_BITMAP_REFERENCES_OFFSET, uint32_t(MAP_BITMAP_REFERENCE_SIZE * count), 0};
  header.blend_tables = {1, MAP_BLEND_TABLE_OFFSET, MAP_BLEND_TABLE_SIZE, 0};
  header.remapping_tables = {1, MAP_REMAPPING_TABLE_OFFSET, MAP_REMAPPING_TABLE_SIZE, 0};
  header.data_offset = MAP_COLLECTION_DATA_OFFSET;
  header.data_size = uint32_t(data_size);
  put_stored(bytes.data(), header, collection_header_description);

  if (contents != nullptr && contents->tables != nullptr) {
    put_stored(data + MAP_COLOR_TABLE_OFFSET, contents->tables->colors, color_table_description);
    std::memcpy(data + MAP_BLEND_TABLE_OFFSET, contents->tables->blend, MAP_BLEND_TABLE_SIZE);
    std::memcpy(data + MAP_REMAPPING_TABLE_OFFSET, contents->tables->remapping, MAP_REMAPPING_TABLE_SIZE);
  }

  const int64_t first_bitmap = MAP_BITMAP_REFERENCES_OFFSET + int64_t(count) * MAP_BITMAP_REFERENCE_SIZE;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t offset = first_bitmap + int64_t(i) * MAP_BITMAP_SIZE;
    bitmap_reference reference = {};
    reference.offset = int32_t(offset);
    reference.size = MAP_BITMAP_SIZE;
    put_stored(data + MAP_BITMAP_REFERENCES_OFFSET + int64_t(i) * MAP_BITMAP_REFERENCE_SIZE, reference,
               bitmap_reference_description);

    bitmap_data bitmap = {};
    bitmap.width = bitmap.height = bitmap.bytes_per_row = MAP_TEXTURE_SIZE;
    int16_t flags = (i % 2 == 0) ? MAP_COLOR_MAP_FLAGS : MAP_SHADOW_MAP_FLAGS;
    bitmap.bits_per_pixel = 8;
    bitmap.log2_width = bitmap.log2_height = 8;
    uint8_t* pixels = data + offset + BITMAP_HEADER_SIZE;
    std::memset(pixels, MAP_NEW_SHADOW_PIXEL, size_t(MAP_TEXTURE_SIZE) * MAP_TEXTURE_SIZE);
    if (contents != nullptr && contents->fill_bitmap != nullptr) {
      contents->fill_bitmap(contents->context, i, pixels, &flags);
    }
    bitmap.flags = flags;
    put_stored(data + offset, bitmap, bitmap_data_description);
  }

  // The user data first, then the contents in one replacement: a failure leaves the old data.
  if (!tag_file_set_user_data(collection_tag_index, MAP_COLLECTION_USER_DATA)) {
    POST_ERROR(error_file_write, "couldn't write collection header");
    return false;
  }
  if (!tag_file_replace_contents(collection_tag_index, bytes.data(), int32_t(bytes.size()),
                                 COLLECTION_DEFINITION_VERSION)) {
    POST_ERROR(error_file_write, "couldn't write bitmap to tag");
    return false;
  }
  return true;
}

// ---- New Map ----

namespace {

// The colour map of every submesh is the bitmap, mirrored left to right like every map image.
struct new_map_pixels {
  const bitmap_image* image;
  int32_t columns;
};

void fill_from_image(void* context, int32_t bitmap_index, uint8_t* pixels, int16_t* flags) {
  if (bitmap_index % 2 != 0) return;  // shadow maps stay fully lit
  const auto& source = *static_cast<const new_map_pixels*>(context);
  const int32_t submesh = bitmap_index / 2;
  const int32_t left = (submesh % source.columns) * MAP_TEXTURE_SIZE, top = (submesh / source.columns) * MAP_TEXTURE_SIZE;
  const int32_t width = source.image->width;
  for (int32_t row = 0; row < MAP_TEXTURE_SIZE; ++row) {
    const uint8_t* image_row = source.image->row(top + row);
    for (int32_t m = 0; m < MAP_TEXTURE_SIZE; ++m) pixels[row * MAP_TEXTURE_SIZE + m] = image_row[width - 1 - (left + m)];
  }
  *flags = int16_t(*flags | BITMAP_IS_PROTECTED);  // as an imported colour map
}

// The visible tag of the group with that name, NONE when there is none.
int32_t find_tag_named(tag group, const char* name) {
  tag_file_filter filter = tag_file_filter_any();
  std::snprintf(filter.name, sizeof(filter.name), "%s", name);
  filter.group_tag = group;
  int32_t found = NONE;
  return tag_file_search(filter, &found, 1) > 0 ? found : NONE;
}

// A local tag of the name is kept as it is until its new contents replace it whole, so that a
// failed write never loses the map being replaced; a name that is new gets an empty tag.
int32_t tag_for_new_contents(tag group, const char* name, int16_t version) {
  const int32_t existing = find_tag_named(group, name);
  if (existing != NONE && tag_file_is_local(existing)) return existing;
  return tag_file_create(group, name, version);
}

// The new collection takes the place of any collection of the map's name. Only a map's own
// textures may be replaced so: a sprite collection of that name would be lost to the game.
bool name_frees_collection(const char* name) {
  const int32_t existing = find_tag_named(COLLECTION_DEFINITION_GROUP_TAG, name);
  if (existing == NONE) return true;
  uint8_t head[8];  // the stored header's first two words, big-endian; the flags are the second
  if (tag_file_get_size(existing) < int32_t(sizeof(head)) || !tag_file_read(existing, 0, sizeof(head), head)) {
    return false;
  }
  const uint32_t flags = read_big_endian_32(head + 4);
  return (flags & COLLECTION_HOLDS_SUBMESH_TEXTURES) != 0;
}

// A mesh made under a name another tag group already numbered may get a collection of another
// identifier: the map must name the collection it really has.
bool point_map_at_collection(int32_t map_tag, tag collection_identifier) {
  mesh_definition header;
  if (!mesh_read_header(map_tag, &header)) return false;
  if (header.landscape_collection_tag == collection_identifier) return true;
  header.landscape_collection_tag = collection_identifier;
  return tag_file_write_byte_swapped(&map_tag, 0, MESH_HEADER_SIZE, 1, &header, &mesh_definition_description);
}

}  // namespace

bool new_map_create(const char* name, tag media_tag, const std::string& bitmap_path, bool replace_confirmed) {
  char clean[TAG_NAME_SIZE] = {};
  std::snprintf(clean, sizeof(clean), "%s", name ? name : "");
  sanitize_tag_name(clean);
  if (clean[0] == '\0') {
    tool_show_error("A map needs a name.");
    return false;
  }
  // Tabs and line breaks in a name break every list that shows it, and the tool's output.
  for (const char* c = name; *c; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
      tool_show_error("A map's name can't hold control characters such as tabs or line breaks.");
      return false;
    }
  }
  // Every input is checked before anything is created or replaced.
  if (!name_frees_collection(clean)) {
    tool_show_error("The collection '%s' holds other graphics than a map's textures: give the map another name.",
                    clean);
    return false;
  }
  if (!replace_confirmed && find_tag_named(MESH_DEFINITION_GROUP_TAG, clean) != NONE &&
      !tool_ask_warning("Are you sure you want to replace '%s'?", clean)) {
    return false;
  }
  if (tag_file_find(media_definitions.group_tag, media_tag) == NONE) {
    tool_show_error("There is no media '%s'.", tag_to_text(media_tag).c_str());
    return false;
  }
  ui_progress_scope progress("Making the new map", 5, false);
  bitmap_image image;
  if (!extract_read_whole_map_bitmap(bitmap_path, &image)) return false;
  progress.step(1);
  const int16_t columns = int16_t(image.width / MAP_TEXTURE_SIZE), rows = int16_t(image.height / MAP_TEXTURE_SIZE);

  // The colour tables come from the palette, counted over the bitmap, with a new map's remap colour.
  block_ptr<map_color_tables> tables = block_new<map_color_tables>();
  if (!tables) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %d bytes for blend table", int(sizeof(map_color_tables)));
    return false;
  }
  uint32_t counts[256] = {};
  for (uint8_t pixel : image.pixels) ++counts[pixel];
  mesh_definition defaults;
  mesh_definition_set_defaults(&defaults, NONE_TAG, media_tag, columns, rows);
  extract_build_color_tables(image.palette, counts, extract_remap_color(defaults), tables.get());

  progress.step(2);
  // The map open now goes first (with its own question); then the tags are made.
  if (!map_close()) return false;
  const bool map_is_new = find_tag_named(MESH_DEFINITION_GROUP_TAG, clean) == NONE;
  const bool collection_is_new = find_tag_named(COLLECTION_DEFINITION_GROUP_TAG, clean) == NONE;
  // The collection and the map reach the disc together in one commit: a failure or a kill on the
  // way leaves the old map and its textures as they were, and no half-made new map.
  tag_files_commit_scope commit;
  int32_t collection_tag = tag_for_new_contents(COLLECTION_DEFINITION_GROUP_TAG, clean, COLLECTION_DEFINITION_VERSION);
  if (collection_tag == NONE) {
    POST_ERROR(error_file_create, "couldn't create tag");
    return false;
  }
  new_map_pixels source = {&image, columns};
  map_collection_contents contents;
  contents.tables = tables.get();
  contents.fill_bitmap = fill_from_image;
  contents.context = &source;
  if (!new_map_build_collection(&collection_tag, image.width, image.height, &contents)) {
    POST_ERROR(error_file_create, "couldn't build the collection header and bitmap references");
    return false;
  }
  const int32_t map_tag = tag_for_new_contents(MESH_DEFINITION_GROUP_TAG, clean, MESH_VERSION);
  if (map_tag == NONE) {
    POST_ERROR(error_file_create, "couldn't create tag");
    return false;
  }
  if (!mesh_create(map_tag, media_tag, columns, rows) ||
      !point_map_at_collection(map_tag, tag_file_get_identifier(collection_tag))) {
    POST_ERROR(error_unknown, "couldn't build new mesh %s.", clean);
    return false;
  }
  // Tag indices may change as the commit lands; the identifiers stay.
  const tag map_identifier = tag_file_get_identifier(map_tag);
  const tag collection_identifier = tag_file_get_identifier(collection_tag);
  if (!commit.end()) return false;
  progress.step(3);
  // A new map that can't be opened, or stored whole, is of no use to the author: it goes again, so
  // that the store is as it was. (A replaced map stays, the old one being gone already.)
  auto withdraw = [&] {
    if (map_is_open()) {
      map_set_modified(false);
      map_close();
    }
    if (map_is_new) (void)tag_file_delete(tag_file_find(MESH_DEFINITION_GROUP_TAG, map_identifier));
    if (collection_is_new) (void)tag_file_delete(tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, collection_identifier));
    return false;
  };
  if (!map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, map_identifier))) return withdraw();
  progress.step(4);
  // The map goes to the store complete, its LOD data included, as a saved map would.
  return map_save() || withdraw();
}
