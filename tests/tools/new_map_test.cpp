#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "tools/new_map.h"

#include <gtest/gtest.h>

#include "cseries/byte_swapping.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/work_folder.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/extract.h"
#include "tools/map_session.h"

namespace {

uint32_t big32(const std::vector<uint8_t>& b, size_t at) {
  return read_big_endian_32(b.data() + at);
}
uint16_t big16(const std::vector<uint8_t>& b, size_t at) { return read_big_endian_16(b.data() + at); }

uint8_t column_pattern(int32_t x, int32_t y) { return uint8_t(x % 200 + 1 + (y % 3)); }

class NewMap : public MapImageTest {
 protected:
  int32_t tag_of(tag group, const char* name) {
    tag_file_filter filter = tag_file_filter_any();
    std::snprintf(filter.name, sizeof(filter.name), "%s", name);
    filter.group_tag = group;
    int32_t found = NONE;
    return tag_file_search(filter, &found, 1) > 0 ? found : NONE;
  }
  // A saved, open map "harbour" made by New Map; the stored bytes of the map and its collection.
  void save_harbour(std::vector<uint8_t>* map_bytes, std::vector<uint8_t>* collection_bytes) {
    ASSERT_TRUE(make_map("harbour", 256, 256, column_pattern));
    ASSERT_TRUE(map_save());
    *map_bytes = store.tag_bytes(tag_of(MESH_DEFINITION_GROUP_TAG, "harbour"));
    *collection_bytes = store.tag_bytes(tag_of(COLLECTION_DEFINITION_GROUP_TAG, "harbour"));
  }
  void expect_no_tags() {
    EXPECT_EQ(tag_file_count(MESH_DEFINITION_GROUP_TAG), 0);
    EXPECT_EQ(tag_file_count(COLLECTION_DEFINITION_GROUP_TAG), 0);
    EXPECT_FALSE(map_is_open());
  }
};

TEST_F(NewMap, A256SquareBitmapMakesOneSubmeshAndTheExactCollection) {
  ASSERT_TRUE(make_map("meadow", 256, 256, column_pattern));
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_TRUE(map_is_open());
  EXPECT_EQ(map_window_title(), "mesh:meadow");
  EXPECT_EQ(mesh_globals.width, 1);
  EXPECT_EQ(mesh_globals.height, 1);
  EXPECT_EQ(mesh_globals.header->lod_size, 512);
  EXPECT_EQ(mesh_globals.header->media_tag, store.media_tag());
  for (int32_t i = 0; i < mesh_cell_count(); ++i) ASSERT_EQ(mesh_globals.cells[i].terrain_and_flags & 0xFF, 0x66);

  const int32_t mesh_tag = tag_of(MESH_DEFINITION_GROUP_TAG, "meadow");
  const int32_t collection_tag = tag_of(COLLECTION_DEFINITION_GROUP_TAG, "meadow");
  ASSERT_NE(collection_tag, NONE);
  EXPECT_EQ(tag_file_get_version(mesh_tag), 11);
  EXPECT_EQ(tag_file_get_version(collection_tag), 4);
  EXPECT_EQ(tag_file_get_user_data(collection_tag), 256u);
  EXPECT_EQ(tag_file_get_identifier(collection_tag), tag_file_get_identifier(mesh_tag));
  EXPECT_EQ(mesh_globals.header->landscape_collection_tag, tag_file_get_identifier(collection_tag));
  // The stored map is complete: its LOD data is on the disc, nothing waits to be saved.
  EXPECT_FALSE(map_is_modified());
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(map_open(tag_of(MESH_DEFINITION_GROUP_TAG, "meadow")));
  ASSERT_NE(mesh_lod(), nullptr);
  EXPECT_EQ(mesh_globals.header->lod_size, 512);
  ASSERT_EQ(ui.progress.size(), 1u);
  EXPECT_EQ(ui.progress[0].title, "Making the new map");
  EXPECT_FALSE(ui.progress[0].cancellable);
  EXPECT_EQ(ui.progress_ends, 1);

  const std::vector<uint8_t> c = store.tag_bytes(collection_tag);
  const uint32_t data_size = 67872 + 2 * (128 + 65588);
  ASSERT_EQ(c.size(), 320 + data_size);
  EXPECT_EQ(big32(c, 0), 0u);
  EXPECT_EQ(big32(c, 4), 0x100u);
  const uint32_t references[8][3] = {{1, 0, 2080}, {0, 0, 0},         {2, 67872, 256}, {0, 0, 0},
                                     {0, 0, 0},    {0, 0, 0},         {1, 2080, 65536}, {1, 67616, 256}};
  for (int k = 0; k < 8; ++k) {
    for (int f = 0; f < 3; ++f) EXPECT_EQ(big32(c, 64 + 16 * k + 4 * f), references[k][f]) << k << "," << f;
  }
  EXPECT_EQ(big32(c, 248), 320u);
  EXPECT_EQ(big32(c, 252), data_size);
  EXPECT_EQ(big32(c, 256), 0u);
  // The bitmap references and the two bitmaps behind them.
  for (uint32_t i = 0; i < 2; ++i) {
    const size_t reference = 320 + 67872 + 128 * i;
    const uint32_t offset = 67872 + 2 * 128 + 65588 * i;
    EXPECT_EQ(big32(c, reference + 64), offset);
    EXPECT_EQ(big32(c, reference + 68), 65588u);
    const size_t bitmap = 320 + offset;
    EXPECT_EQ(big16(c, bitmap + 0), 256);
    EXPECT_EQ(big16(c, bitmap + 2), 256);
    EXPECT_EQ(big16(c, bitmap + 4), 256);
    EXPECT_EQ(big16(c, bitmap + 6), i == 0 ? 0x4A1 : 0x21);  // the colour map was imported
    EXPECT_EQ(big16(c, bitmap + 8), 8);
    EXPECT_EQ(big16(c, bitmap + 10), 8);
    EXPECT_EQ(big16(c, bitmap + 12), 8);
    EXPECT_EQ(big16(c, bitmap + 14), 0);
  }
  // The colour map is the picture mirrored; the shadow map is fully lit.
  const size_t colour = 320 + 67872 + 256 + 52, shadow = colour + 65588;
  EXPECT_EQ(c[colour + 0], column_pattern(255, 0));
  EXPECT_EQ(c[colour + 255 * 256 + 10], column_pattern(245, 255));
  EXPECT_EQ(c[shadow + 1000], 0xFF);
  // The colour table is the palette in the high bytes.
  EXPECT_EQ(big32(c, 320), 256u);
  EXPECT_EQ(big16(c, 320 + 32 + 8 * 7), 0x0700);
}

TEST_F(NewMap, SubmeshesFollowTheMirroredPicture) {
  ASSERT_TRUE(make_map("coast", 512, 256, column_pattern));
  EXPECT_EQ(mesh_globals.width, 2);
  EXPECT_EQ(mesh_globals.height, 1);
  const int16_t collection = mesh_landscape_collection();
  ASSERT_EQ(collection_get_bitmap_count(collection), 4);
  // Submesh 0 (the map's left) is the picture's right half, reversed.
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 0), 3)[0], column_pattern(511, 3));
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 0), 3)[255], column_pattern(256, 3));
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 2), 3)[0], column_pattern(255, 3));
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 1), 3)[0], 0xFF);
}

TEST_F(NewMap, TopDownBitmapsGiveTheSameMap) {
  bmp_fixture file;
  file.height = -256;
  file.pixel = column_pattern;
  ASSERT_TRUE(new_map_create("north", store.media_tag(), write_bitmap("north.bmp", file)));
  const bitmap_data* colour = collection_get_bitmap(mesh_landscape_collection(), 0);
  EXPECT_EQ(bitmap_get_row(colour, 0)[0], column_pattern(255, 0));
  EXPECT_EQ(bitmap_get_row(colour, 255)[0], column_pattern(255, 255));
}

TEST_F(NewMap, RefusedBitmapsLeaveNoTagBehind) {
  struct refusal {
    const char* what;
    bmp_fixture file;
    std::string message;
  };
  bmp_fixture wide;
  wide.width = 300;
  bmp_fixture deep;
  deep.bits_per_pixel = 24;
  bmp_fixture rle;
  rle.compression = 1;
  bmp_fixture empty;
  empty.width = 0;
  const refusal cases[] = {
      {"300 x 256", wide, "This bitmap has dimensions 300x256.\nBitmap dimensions must be an even multiple of 256."},
      {"24-bit", deep, "Vellgrim only supports 8-bit uncompressed Windows bitmaps"},
      {"RLE", rle, "Vellgrim only supports 8-bit uncompressed Windows bitmaps"},
      {"zero width", empty, "This bitmap has dimensions 0x256.\nBitmap dimensions must be an even multiple of 256."},
  };
  for (const refusal& c : cases) {
    ui.boxes.clear();
    EXPECT_FALSE(new_map_create("refused", store.media_tag(), write_bitmap("refused.bmp", c.file))) << c.what;
    ASSERT_EQ(ui.boxes.size(), 1u) << c.what;
    EXPECT_EQ(ui.boxes[0].title, "Error");
    EXPECT_EQ(ui.boxes[0].icon, ui_icon_error);
    EXPECT_EQ(ui.boxes[0].text, c.message) << c.what;
    expect_no_tags();
  }
  // A file cut short, a file that is no bitmap, a missing file and an unknown media.
  std::string cut = bmp_fixture{}.text();
  cut.resize(cut.size() - 1);
  ASSERT_TRUE(store.folder().write_file("cut.bmp", cut));
  ASSERT_TRUE(store.folder().write_file("text.bmp", "BA is how this text starts, and it goes on for a while."));
  const std::string folder = store.folder().path();
  EXPECT_FALSE(new_map_create("refused", store.media_tag(), folder + "/cut.bmp"));
  EXPECT_FALSE(new_map_create("refused", store.media_tag(), folder + "/text.bmp"));
  EXPECT_EQ(ui.boxes.back().text, folder + "/text.bmp is not a valid bitmap file!");
  EXPECT_FALSE(new_map_create("refused", store.media_tag(), folder + "/missing.bmp"));
  EXPECT_FALSE(new_map_create("refused", make_tag("nope"), write_bitmap("fine.bmp", bmp_fixture{})));
  EXPECT_FALSE(new_map_create("", store.media_tag(), folder + "/fine.bmp"));
  EXPECT_EQ(ui.boxes.back().text, "A map needs a name.");
  for (const char* name : {"tab\there", "two\nlines", "bell\a"}) {
    EXPECT_FALSE(new_map_create(name, store.media_tag(), folder + "/fine.bmp")) << name;
    EXPECT_EQ(ui.boxes.back().text, "A map's name can't hold control characters such as tabs or line breaks.");
  }
  expect_no_tags();
}

TEST_F(NewMap, ReplacingAskedThenCancelledKeepsTheOldMap) {
  map_fixture old_map = map_fixture_new(1, 1);
  old_map.markers = {map_fixture_marker(_marker_observer, 0, 700, 700)};
  old_map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0)};
  const int32_t old_tag = store.store_map("harbour", old_map);
  const std::vector<uint8_t> old_bytes = store.tag_bytes(old_tag);

  // Yes to the question, then a later input fails: the old map is untouched.
  ui.answers.push_back(ui_answer_yes);
  bmp_fixture wide;
  wide.width = 300;
  EXPECT_FALSE(new_map_create("harbour", store.media_tag(), write_bitmap("wide.bmp", wide)));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Are you sure you want to replace 'harbour'?");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no);
  // No ends it at once.
  ui.answers.push_back(ui_answer_no);
  EXPECT_FALSE(new_map_create("harbour", store.media_tag(), write_bitmap("fine.bmp", bmp_fixture{})));
  EXPECT_EQ(ui.boxes.size(), 3u);

  const int32_t current = tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(old_tag));
  EXPECT_EQ(store.tag_bytes(current), old_bytes);
  ASSERT_TRUE(map_open(current));
  EXPECT_EQ(mesh_globals.header->marker_count, 1);

  // Yes with good inputs replaces it under the same identifier.
  ui.answers.push_back(ui_answer_yes);
  ASSERT_TRUE(new_map_create("harbour", store.media_tag(), store.folder().path() + "/fine.bmp"));
  EXPECT_EQ(mesh_globals.header->marker_count, 0);
  EXPECT_EQ(tag_file_get_identifier(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(old_tag))),
            tag_file_get_identifier(old_tag));
}

// A caller that has asked already (the editor's naming dialog) is not asked again; the open map's
// own save question still comes.
TEST_F(NewMap, AConfirmedReplacementIsNotAskedAgain) {
  std::vector<uint8_t> old_map, old_textures;
  ASSERT_NO_FATAL_FAILURE(save_harbour(&old_map, &old_textures));
  map_set_modified(true);
  ui.boxes.clear();
  ui.answers = {ui_answer_no};
  ASSERT_TRUE(new_map_create("harbour", store.media_tag(), write_bitmap("other.bmp", bmp_fixture{}), true));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Save 'harbour' before closing?");
  EXPECT_TRUE(map_is_open());
  EXPECT_NE(store.tag_bytes(tag_of(COLLECTION_DEFINITION_GROUP_TAG, "harbour")), old_textures);

  // A new name has nothing to confirm either way.
  ui.boxes.clear();
  ASSERT_TRUE(new_map_create("meadow", store.media_tag(), store.folder().path() + "/other.bmp", true));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(map_window_title(), "mesh:meadow");
}

bool refuse_replacement(const file_specification*) { return false; }

TEST_F(NewMap, AWriteFailureWhileReplacingKeepsTheOldMapAndItsCollection) {
  std::vector<uint8_t> old_map, old_textures;
  ASSERT_NO_FATAL_FAILURE(save_harbour(&old_map, &old_textures));
  const std::string other = write_bitmap("other.bmp", bmp_fixture{});

  // The collection and the map are one commit: when it can't be recorded, neither changes.
  atomic_file_set_test_hook(refuse_replacement);
  ui.answers = {ui_answer_yes};
  EXPECT_FALSE(new_map_create("harbour", store.media_tag(), other));
  atomic_file_set_test_hook(nullptr);
  const int32_t map_now = tag_of(MESH_DEFINITION_GROUP_TAG, "harbour");
  ASSERT_NE(map_now, NONE);
  EXPECT_EQ(store.tag_bytes(map_now), old_map);
  EXPECT_EQ(store.tag_bytes(tag_of(COLLECTION_DEFINITION_GROUP_TAG, "harbour")), old_textures);
  ASSERT_TRUE(map_open(map_now));
  ASSERT_TRUE(map_close());
}

TEST_F(NewMap, CancellingTheOpenMapsCloseAfterReplaceChangesNothing) {
  std::vector<uint8_t> old_map, old_textures;
  ASSERT_NO_FATAL_FAILURE(save_harbour(&old_map, &old_textures));
  mesh_edit_cell(3, 3)->ground_height = 700;
  map_set_modified(true);

  // Yes to replacing it, then Cancel when the open map asks to be saved first.
  ui.boxes.clear();
  ui.answers = {ui_answer_yes, ui_answer_cancel};
  EXPECT_FALSE(new_map_create("harbour", store.media_tag(), write_bitmap("other.bmp", bmp_fixture{})));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "Save 'harbour' before closing?");
  EXPECT_TRUE(map_is_open());
  EXPECT_TRUE(map_is_modified());
  EXPECT_EQ(mesh_edit_cell(3, 3)->ground_height, 700);
  EXPECT_EQ(store.tag_bytes(tag_of(MESH_DEFINITION_GROUP_TAG, "harbour")), old_map);
  EXPECT_EQ(store.tag_bytes(tag_of(COLLECTION_DEFINITION_GROUP_TAG, "harbour")), old_textures);
}

TEST_F(NewMap, ASpriteCollectionOfTheNameIsNeverReplaced) {
  collection_fixture sprites;
  sprites.bitmaps = {fixture_raw_bitmap(4, 4, 0x21, 8, [](int32_t, int32_t) -> uint16_t { return 3; })};
  const int32_t sprite_tag = fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "dwarf", 4, sprites.tag_data());
  ASSERT_NE(sprite_tag, NONE);
  const std::vector<uint8_t> sprite_bytes = store.tag_bytes(sprite_tag);
  EXPECT_FALSE(make_map("dwarf", 256, 256));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].text,
            "The collection 'dwarf' holds other graphics than a map's textures: give the map another name.");
  EXPECT_EQ(tag_file_count(MESH_DEFINITION_GROUP_TAG), 0);
  EXPECT_EQ(store.tag_bytes(tag_of(COLLECTION_DEFINITION_GROUP_TAG, "dwarf")), sprite_bytes);
  // A map's own collection of the name is replaced with the map.
  ASSERT_TRUE(make_map("dwarf hold", 256, 256));
  ui.answers.push_back(ui_answer_yes);
  EXPECT_TRUE(make_map("dwarf hold", 512, 256));
}

TEST_F(NewMap, TheMapNamesTheCollectionItReallyHas) {
  // Another collection already holds the identifier the new name gives, so the new collection
  // is numbered past it while the map keeps the first.
  ASSERT_NE(fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "meadows", 4, fixture_map_collection(1, 1, 1, 1).tag_data()),
            NONE);
  ASSERT_TRUE(make_map("meadow", 256, 256));
  const int32_t map_tag = tag_of(MESH_DEFINITION_GROUP_TAG, "meadow");
  const int32_t collection_tag = tag_of(COLLECTION_DEFINITION_GROUP_TAG, "meadow");
  EXPECT_NE(tag_file_get_identifier(collection_tag), tag_file_get_identifier(map_tag));
  EXPECT_EQ(mesh_globals.header->landscape_collection_tag, tag_file_get_identifier(collection_tag));
  EXPECT_STREQ(collection_get_name(mesh_landscape_collection()), "meadow");
}

TEST_F(NewMap, TheColorTablesComeFromThePalette) {
  // Only indices 1 and 2 are used: every other index receives a blended colour.
  bmp_fixture file;
  file.palette.assign(256, 0);
  file.palette[1] = 0x00FF0000;  // red
  file.palette[2] = 0x000000FF;  // blue
  file.pixel = [](int32_t x, int32_t) -> uint8_t { return x < 192 ? 1 : 2; };
  ASSERT_TRUE(new_map_create("tables", store.media_tag(), write_bitmap("tables.bmp", file)));
  const int16_t collection = mesh_landscape_collection();
  const color_table* colors = collection_get_color_table(collection);
  ASSERT_NE(colors, nullptr);
  EXPECT_EQ(colors->count, 256u);
  EXPECT_EQ(colors->colors[1].red, 0xFF00);
  EXPECT_EQ(colors->colors[2].blue, 0xFF00);
  // A new map's remap colour is pure red: the unused slots lie halfway from the used colours to it.
  EXPECT_EQ(colors->colors[0].red, 0xFF7F);
  EXPECT_EQ(colors->colors[0].green, 0);
  const std::span<uint8_t> blend = collection_get_blend_tables(collection);
  const std::span<uint8_t> remapping = collection_get_remapping_tables(collection);
  ASSERT_EQ(blend.size(), 65536u);
  ASSERT_EQ(remapping.size(), 256u);
  EXPECT_EQ(blend[5 + 256 * 0], 5);
  EXPECT_EQ(blend[0 + 256 * 9], 9);
  EXPECT_EQ(blend[1 + 256 * 2], blend[2 + 256 * 1]);
  EXPECT_EQ(blend[1 + 256 * 1], 1);
  for (int i = 0; i < 256; ++i) EXPECT_NE(remapping[i], 1) << i;  // remapped colours are the new ones
}

}  // namespace
