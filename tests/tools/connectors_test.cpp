// Connectors on maps opened from a tag store: chains of scenery posts collected, shortened, split,
// removed with their markers, saved and taken back by Undo.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/marker_utils.h"
#include "map/mesh_edit.h"
#include "map/mesh_file.h"
#include "map/mesh.h"
#include "render/shapes.h"
#include "session/engine.h"
#include "support/collection_fixtures.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "tag_files/tag_files.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_connectors.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

tag store_definition(const definition_group& group, const char* name, std::vector<uint8_t> bytes) {
  int32_t tag_index = fixture_store_tag(group.group_tag, name, group.version, bytes);
  return tag_index == NONE ? NONE_TAG : tag_file_get_identifier(tag_index);
}

std::vector<int16_t> chain(int32_t index) {
  const connector_record* record = connector_get(index);
  if (!record) return {};
  return {record->marker_identifiers, record->marker_identifiers + record->chain_length};
}

std::vector<std::vector<int16_t>> chains() {
  std::vector<std::vector<int16_t>> all;
  for (int32_t i = 0; i < connector_count(); ++i) all.push_back(chain(i));
  return all;
}

using chain_list = std::vector<std::vector<int16_t>>;

std::vector<int16_t> records_of(const chain_list& list) {
  std::vector<int16_t> words;
  for (const auto& c : list) {
    connector_record record{};
    std::copy(c.begin(), c.end(), record.marker_identifiers);
    record.chain_length = int16_t(c.size());
    const int16_t* w = reinterpret_cast<const int16_t*>(&record);
    words.insert(words.end(), w, w + CONNECTOR_RECORD_SIZE / 2);
  }
  return words;
}

enum : int16_t { UNIT_WITH_POST_IDENTIFIER = 2002 };

class Connectors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    ASSERT_TRUE(connectors_initialize());
    ASSERT_NE(store_definition(object_definitions, "basc", std::vector<uint8_t>(object_definitions.record_size, 0xFF)),
              NONE_TAG);
    ASSERT_NE(fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "plac", COLLECTION_DEFINITION_VERSION,
                                fixture_map_collection(1, 1, 3, 200).tag_data()),
              NONE);
    rock = store_definition(scenery_definitions, "rock", std::vector<uint8_t>(scenery_definitions.record_size, 0xFF));
    ASSERT_NE(rock, NONE_TAG);
    std::vector<uint8_t> rope(32, 0);
    for (size_t i = 4; i < 8; ++i) rope[i] = 0xFF;  // no collection reference
    rope_definition = store_definition(connector_definitions, "rope", rope);
    ASSERT_NE(rope_definition, NONE_TAG);
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
  }

  // One submesh: an observer, posts 2001..2006 (the first five in one chain, 2006 from a second
  // scenery entry), a unit numbered 2002 like a post, and a post 2007 outside the grid.
  void open(bool with_definitions = true, const chain_list& stored = {{2001, 2002, 2003, 2004, 2005}}) {
    map_fixture map = map_fixture_new(1, 1);
    map.header.connector_definitions_tag = with_definitions ? rope_definition : NONE_TAG;
    map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_scenery, rock, NONE),
                   map_fixture_palette_entry(_marker_scenery, make_tag("tre2"), NONE),
                   map_fixture_palette_entry(_marker_unit, make_tag("none"), 1)};
    map.markers = {map_fixture_marker(_marker_observer, 0, 1024, 2048)};
    for (int16_t i = 0; i < 7; ++i) {
      marker_data post = map_fixture_marker(_marker_scenery, i == 5 ? 1 : 0, i == 6 ? 40000 : 1000 + 1500 * i, 3000);
      post.identifier = int16_t(2001 + i);
      map.markers.push_back(post);
    }
    marker_data unit = map_fixture_marker(_marker_unit, 0, 6000, 6000);
    unit.identifier = UNIT_WITH_POST_IDENTIFIER;
    map.markers.push_back(unit);
    for (const auto& c : stored) {
      std::array<int16_t, 32> record{};
      std::copy(c.begin(), c.end(), record.begin());
      record[31] = int16_t(c.size());
      map.connectors.push_back(record);
    }
    map_tag = store.store_map("fences", map);
    ASSERT_NE(map_tag, NONE);
    ASSERT_TRUE(map_open(map_tag));
  }

  const marker_data& post(int16_t identifier) {
    const marker_data* marker = marker_find_by_identifier(_marker_scenery, identifier);
    EXPECT_NE(marker, nullptr) << identifier;
    static marker_data none{};
    return marker ? *marker : none;
  }

  void reopen() {
    ASSERT_TRUE(map_save());
    ASSERT_TRUE(map_close());
    ASSERT_TRUE(map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag))));
  }

  map_test_store store;
  scripted_ui_host ui;
  tag rock = NONE_TAG, rope_definition = NONE_TAG;
  int32_t map_tag = NONE;
};

TEST_F(Connectors, RemovingPostsShortensSplitsAndRemovesChains) {
  open();
  ASSERT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}}));
  EXPECT_EQ(connector_remove_marker(post(2003)), _connector_removal_done);
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}}));
  EXPECT_EQ(mesh_header()->connector_count, 2);
  EXPECT_EQ(mesh_header()->connectors_size, 2 * CONNECTOR_RECORD_SIZE);
  EXPECT_EQ(connector_remove_marker(post(2001)), _connector_removal_done);  // an end
  EXPECT_EQ(chains(), (chain_list{{2002}, {2004, 2005}}));
  EXPECT_EQ(connector_remove_marker(post(2002)), _connector_removal_done);  // the only post
  EXPECT_EQ(chains(), (chain_list{{2004, 2005}}));
  EXPECT_EQ(connector_remove_marker(post(2006)), _connector_removal_none);  // in no chain
  EXPECT_TRUE(map_is_modified());

  int16_t position = -1;
  EXPECT_EQ(connector_find_marker(post(2005), -1, &position), 0);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(connector_find_marker(post(2005), 0), NONE);  // none after the first

  // Each removal is one step; Undo walks them back to the stored chain.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}}));
  EXPECT_FALSE(map_is_modified());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}}));
}

TEST_F(Connectors, ASplitWithTheTableFullJoinsTheNeighbours) {
  open();
  chain_list full = {{2001, 2002, 2003, 2004, 2005}};
  for (int16_t i = 1; i < MAXIMUM_CONNECTORS_PER_MAP; ++i) full.push_back({int16_t(3000 + i)});
  ASSERT_TRUE(connectors_replace_all(records_of(full)));
  ASSERT_EQ(connector_count(), 32);

  EXPECT_EQ(connector_remove_marker(post(2003)), _connector_removal_joined);
  EXPECT_NE(std::string(error_last_message()).find("without splitting"), std::string::npos) << error_last_message();
  EXPECT_EQ(connector_count(), 32);
  EXPECT_EQ(mesh_header()->connectors_size, 32 * CONNECTOR_RECORD_SIZE);
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2002, 2004, 2005}));
  EXPECT_EQ(chain(31), (std::vector<int16_t>{3031}));  // the last record is untouched
  // The ends still go without a word, and the next split fits once a connector has gone.
  EXPECT_EQ(connector_remove_marker(post(2005)), _connector_removal_done);
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2002, 2003, 2004, 2005}));
}

TEST_F(Connectors, ARemovalWhileCollectingKeepsTheNewChainApart) {
  open();
  ASSERT_TRUE(connector_begin());
  for (int16_t identifier : {2006, 2003, 2002}) EXPECT_TRUE(connector_add_marker(post(identifier)));
  // Deleting post 2003 (the Delete key) splits the stored chain and leaves the new one.
  ASSERT_TRUE(marker_operation_delete(int32_t(&post(2003) - mesh_markers())));
  EXPECT_EQ(std::vector<int16_t>(connector_collected().begin(), connector_collected().end()),
            (std::vector<int16_t>{2006, 2002}));
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}}));
  ASSERT_TRUE(connector_end());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}, {2006, 2002}}));
  // Undo takes back the new connector, then the deletion with its split.
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(connector_count(), 2);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}}));
  EXPECT_NE(marker_find_by_identifier(_marker_scenery, 2003), nullptr);
}

TEST_F(Connectors, OnlySceneryMarkersTouchChains) {
  open();
  const marker_data* unit = marker_find_by_identifier(_marker_unit, UNIT_WITH_POST_IDENTIFIER);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(connector_remove_marker(*unit), _connector_removal_none);
  EXPECT_EQ(connector_find_marker(*unit, -1), NONE);
  ASSERT_TRUE(marker_operation_delete(int32_t(unit - mesh_markers())));
  EXPECT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}}));
  // Selecting a unit while collecting adds nothing.
  ASSERT_TRUE(connector_begin());
  const marker_data* observer = &mesh_markers()[0];
  EXPECT_FALSE(connector_add_marker(*observer));
  EXPECT_TRUE(connector_collected().empty());
  EXPECT_FALSE(connector_end());
}

TEST_F(Connectors, EveryWayOfDeletingAPostTakesItOutOfItsChain) {
  open(true, {{2001, 2006, 2002}, {2006}, {2003, 2007, 2004}});
  // The palette entry of post 2006 goes with its marker; its chains follow (the first one splits).
  ASSERT_TRUE(marker_operation_delete_palette_entry(_marker_scenery, 1));
  EXPECT_EQ(marker_find_by_identifier(_marker_scenery, 2006), nullptr);
  EXPECT_EQ(chains(), (chain_list{{2001}, {2003, 2007, 2004}, {2002}}));
  // Post 2007 stands outside the grid: dropping it splits its chain.
  EXPECT_EQ(mesh_delete_markers_outside(), 1);
  EXPECT_EQ(chains(), (chain_list{{2001}, {2003}, {2002}, {2004}}));
  // A post added and deleted again gives its identifier to the next new post, which joins no old fence.
  const marker_data* added = marker_operation_add(map_fixture_marker(_marker_scenery, 0, 9000, 9000));
  ASSERT_NE(added, nullptr);
  const int16_t identifier = added->identifier;
  ASSERT_TRUE(connector_begin());
  ASSERT_TRUE(connector_add_marker(*added));
  ASSERT_TRUE(connector_add_marker(post(2005)));
  ASSERT_TRUE(connector_end());
  ASSERT_TRUE(marker_operation_delete(int32_t(&post(identifier) - mesh_markers())));
  EXPECT_EQ(chain(4), (std::vector<int16_t>{2005}));
  added = marker_operation_add(map_fixture_marker(_marker_scenery, 0, 9500, 9000));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->identifier, identifier);
  EXPECT_EQ(connector_find_marker(*added, -1), NONE);
  // Undo of the palette entry's deletion brings back both the marker and its place in the chains.
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2006, 2002}, {2006}, {2003, 2007, 2004}}));
  EXPECT_NE(marker_find_by_identifier(_marker_scenery, 2006), nullptr);
}

TEST_F(Connectors, CreatingCommitsOnlyAChainWithPostsAndDefinitions) {
  open();
  // Nothing collected: nothing changes, nothing to undo.
  ASSERT_TRUE(connector_begin());
  EXPECT_TRUE(connector_creating());
  EXPECT_FALSE(connector_end());
  EXPECT_FALSE(connector_creating());
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(edit_journal_can_undo());

  // A 32nd post in one chain is ignored.
  ASSERT_TRUE(connector_begin());
  for (int32_t i = 0; i < MAXIMUM_MARKERS_PER_CONNECTOR; ++i) EXPECT_TRUE(connector_add_marker(post(2006)));
  EXPECT_FALSE(connector_add_marker(post(2001)));
  ASSERT_TRUE(connector_end());
  EXPECT_EQ(chain(1).size(), size_t(MAXIMUM_MARKERS_PER_CONNECTOR));
  EXPECT_TRUE(map_is_modified());
  EXPECT_STREQ(edit_journal_undo_name(), "Create New Connector");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(connector_count(), 1);
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(connector_count(), 2);

  // A 33rd connector can't begin.
  chain_list full(MAXIMUM_CONNECTORS_PER_MAP, std::vector<int16_t>{2001});
  ASSERT_TRUE(connectors_replace_all(records_of(full)));
  EXPECT_FALSE(connector_begin());
  EXPECT_FALSE(connector_creating());

  // Remove All leaves collecting and empties the table in one step.
  ASSERT_TRUE(connectors_replace_all(records_of({{2001}})));
  ASSERT_TRUE(connector_begin());
  EXPECT_TRUE(connectors_remove_all());
  EXPECT_FALSE(connector_creating());
  EXPECT_EQ(connector_count(), 0);
  EXPECT_EQ(mesh_header()->connectors_size, 0);
  EXPECT_FALSE(connectors_remove_all());  // none left: no step
  EXPECT_STREQ(edit_journal_undo_name(), "Remove All Connectors");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(connector_count(), 1);
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(connector_count(), 0);
}

TEST_F(Connectors, WithoutDefinitionsAChainIsDiscardedAndNothingIsShown) {
  open(false);
  EXPECT_TRUE(connectors_display_records().empty());
  ASSERT_TRUE(connector_begin());
  EXPECT_TRUE(connector_add_marker(post(2001)));
  EXPECT_FALSE(connector_end());
  EXPECT_EQ(connector_count(), 1);  // the stored one only
  EXPECT_FALSE(map_is_modified());
}

TEST_F(Connectors, SaveAndReopenKeepTheChains) {
  open();
  ASSERT_TRUE(connector_begin());
  for (int16_t identifier : {2006, 2001}) connector_add_marker(post(identifier));
  ASSERT_TRUE(connector_end());
  ASSERT_EQ(connector_remove_marker(post(2003)), _connector_removal_done);
  const chain_list before = chains();
  reopen();
  EXPECT_EQ(chains(), before);
  EXPECT_FALSE(map_is_modified());
  // With none left, the section is stored empty.
  ASSERT_TRUE(connectors_remove_all());
  reopen();
  EXPECT_EQ(connector_count(), 0);
  EXPECT_EQ(mesh_header()->connectors_size, 0);
}

TEST_F(Connectors, ASaveStopsWhenTheHeaderDisagreesWithTheSection) {
  open();
  EXPECT_TRUE(connectors_store());
  mesh_definition* header = mesh_edit_header();
  header->connectors_size = 3 * CONNECTOR_RECORD_SIZE;
  EXPECT_FALSE(connectors_store());
  EXPECT_NE(std::string(error_last_message()).find("don't match their section"), std::string::npos);
  header->connectors_size = CONNECTOR_RECORD_SIZE;
}

TEST_F(Connectors, DisplayRecordsBreakWhereAPostIsMissing) {
  // 2009 is no marker: the chain shows as two bands.
  open(true, {{2001, 2002, 2009, 2004, 2005}, {2009}});
  const std::span<const connector_display> records = connectors_display_records();
  ASSERT_EQ(records.size(), 1u);  // the chain with no post shown builds nothing
  const connector_display& display = records[0];
  EXPECT_EQ(display.connector_index, 0);
  EXPECT_EQ(display.definition_index, mesh_header()->connector_definitions_index);
  EXPECT_EQ(display.color_table_index, NONE);  // the definition names no collection reference
  ASSERT_EQ(display.link_count, 4);
  const uint16_t joined[] = {1, 0, 1, 0};
  const int16_t posts[] = {2001, 2002, 2004, 2005};
  for (int i = 0; i < 4; ++i) {
    const connector_link& link = display.links[i];
    EXPECT_EQ(link.marker_identifier, posts[i]);
    EXPECT_EQ(link.flags & _connector_link_joined, joined[i]) << i;
    EXPECT_EQ(link.object_index, post(posts[i]).object_index);
    EXPECT_NE(link.object_index, NONE);
  }
  EXPECT_EQ(display.links[0].next_object_index, post(2002).object_index);
  EXPECT_EQ(display.links[0].next_object_identifier, post(2002).object_identifier);
  EXPECT_EQ(display.links[1].next_object_index, NONE);
  // The records follow Undo of a removal.
  ASSERT_EQ(connector_remove_marker(post(2001)), _connector_removal_done);
  EXPECT_EQ(connectors_display_records()[0].link_count, 3);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(connectors_display_records()[0].link_count, 4);
}

TEST_F(Connectors, TheSelectionFeedsCollectingAndItsCommands) {
  open();
  ASSERT_TRUE(connector_begin());
  EXPECT_TRUE(connector_selection_add(_marker_scenery, 2006));
  EXPECT_TRUE(connector_selection_add(_marker_unit, UNIT_WITH_POST_IDENTIFIER));  // selected, not collected
  EXPECT_FALSE(connector_selection_add(_marker_scenery, 2006));                   // already selected
  EXPECT_FALSE(connector_selection_add(_marker_scenery, 2999));                   // no such marker
  EXPECT_TRUE(connector_selection_add(_marker_scenery, 2003));
  EXPECT_EQ(std::vector<int16_t>(connector_collected().begin(), connector_collected().end()),
            (std::vector<int16_t>{2006, 2003}));
  ASSERT_TRUE(connector_end());

  // "Remove Connector from Selection": one step over every selected post; the unit is left alone.
  EXPECT_EQ(connector_selection_remove_from_connectors(), _connector_removal_done);
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}}));
  EXPECT_EQ(connector_selection_count(), 3);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}, {2006, 2003}}));

  // The Delete key: the selected markers go, out of their chains first, in one step.
  EXPECT_EQ(connector_selection_delete_markers(), 3);
  EXPECT_EQ(connector_selection_count(), 0);
  EXPECT_EQ(chains(), (chain_list{{2001, 2002}, {2004, 2005}}));
  EXPECT_NE(marker_find_by_identifier(_marker_scenery, 2001), nullptr);
  EXPECT_EQ(marker_find_by_identifier(_marker_unit, UNIT_WITH_POST_IDENTIFIER), nullptr);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(chains(), (chain_list{{2001, 2002, 2003, 2004, 2005}, {2006, 2003}}));
  EXPECT_NE(marker_find_by_identifier(_marker_unit, UNIT_WITH_POST_IDENTIFIER), nullptr);

  // A new map starts with nothing selected and nothing collected.
  ASSERT_TRUE(connector_selection_add(_marker_scenery, 2001));
  ASSERT_TRUE(connector_begin());
  reopen();
  EXPECT_EQ(connector_selection_count(), 0);
  EXPECT_FALSE(connector_creating());
}

// The selection is kept in the marker records: it stays on the same markers through a save that
// stores them sorted by type, the stored bytes never carry it, and a map opened again starts empty.
TEST_F(Connectors, SelectionStaysWithItsMarkersThroughSaveAndIsNeverStored) {
  open();
  // An observer added last: the stored list sorts it first, ahead of every selected marker.
  marker_data observer = map_fixture_marker(_marker_observer, 0, 2048, 1024);
  const marker_data* added = marker_operation_add(observer);
  ASSERT_NE(added, nullptr);
  const marker_data observer_added = *added;
  ASSERT_TRUE(connector_selection_add(observer_added.type, observer_added.identifier));
  ASSERT_TRUE(connector_selection_add(_marker_unit, UNIT_WITH_POST_IDENTIFIER));
  ASSERT_TRUE(connector_selection_add(_marker_scenery, 2004));
  const std::vector<int32_t> before = connector_selection_indices();
  ASSERT_EQ(before.size(), 3u);

  ASSERT_TRUE(map_save());
  std::vector<uint8_t> stored;
  ASSERT_TRUE(mesh_build_stored_data(&stored));
  const mesh_definition& h = *mesh_header();
  ASSERT_LE(size_t(1024 + h.markers_offset) + size_t(h.marker_count) * sizeof(marker_data), stored.size());
  for (int32_t i = 0; i < h.marker_count; ++i) {
    const uint8_t* flags = stored.data() + 1024 + h.markers_offset + size_t(i) * sizeof(marker_data);
    EXPECT_EQ(flags[0] | flags[1] | flags[2] | flags[3], 0) << "stored marker " << i;
  }

  EXPECT_EQ(connector_selection_indices(), before);
  EXPECT_TRUE(connector_selection_contains(observer_added.type, observer_added.identifier));
  EXPECT_TRUE(connector_selection_contains(_marker_unit, UNIT_WITH_POST_IDENTIFIER));
  EXPECT_TRUE(connector_selection_contains(_marker_scenery, 2004));
  EXPECT_FALSE(connector_selection_contains(_marker_scenery, 2002));
  // The Delete key after the save takes exactly those three, and Undo brings them back.
  EXPECT_EQ(connector_selection_delete_markers(), 3);
  EXPECT_EQ(marker_find_by_identifier(_marker_scenery, 2004), nullptr);
  EXPECT_NE(marker_find_by_identifier(_marker_scenery, 2002), nullptr);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_NE(marker_find_by_identifier(_marker_scenery, 2004), nullptr);

  reopen();
  EXPECT_EQ(connector_selection_count(), 0);
}

// Chains as a damaged or hand-made map may hold them: any identifiers (missing, repeated, zero,
// negative, a unit's), empty chains, a full table. Showing them and taking markers out must keep
// every chain within its record and the table within 32, and Undo must give the chains back.
TEST_F(Connectors, HostileChainsAreSafeToShowAndEdit) {
  open();
  std::mt19937 random(20261207);
  const int16_t pool[] = {2001, 2002, 2003, 2004, 2005, 2006, 2007, UNIT_WITH_POST_IDENTIFIER, 0, -1, -32768, 32767, 9999};
  auto pick = [&](int32_t n) { return int32_t(random() % uint32_t(n)); };
  for (int round = 0; round < 60; ++round) {
    chain_list stored(size_t(pick(MAXIMUM_CONNECTORS_PER_MAP + 1)));
    for (auto& c : stored) {
      c.resize(size_t(pick(MAXIMUM_MARKERS_PER_CONNECTOR + 1)));
      for (int16_t& identifier : c) identifier = pool[pick(int32_t(std::size(pool)))];
    }
    ASSERT_TRUE(connectors_replace_all(records_of(stored)));
    for (const connector_display& display : connectors_display_records()) {
      ASSERT_GE(display.connector_index, 0);
      ASSERT_LT(display.connector_index, connector_count());
      ASSERT_LE(display.link_count, connector_get(display.connector_index)->chain_length);
      for (int16_t at = 0; at < display.link_count; ++at) ASSERT_NE(display.links[at].object_index, NONE);
    }
    int steps = 0;
    for (int removal = 0; removal < 6; ++removal) {
      marker_data marker{};
      marker.type = _marker_scenery;
      marker.identifier = pool[pick(int32_t(std::size(pool)))];
      int32_t occurrences = 0, before = 0;
      for (const auto& c : chains()) {
        occurrences += int32_t(std::count(c.begin(), c.end(), marker.identifier));
        before += int32_t(c.size());
      }
      const connector_removal removed = connector_remove_marker(marker);
      ASSERT_EQ(removed != _connector_removal_none, occurrences > 0);
      steps += occurrences > 0;
      int32_t after = 0;
      for (const auto& c : chains()) {
        ASSERT_LE(c.size(), size_t(MAXIMUM_MARKERS_PER_CONNECTOR));
        ASSERT_EQ(std::count(c.begin(), c.end(), marker.identifier), 0);
        after += int32_t(c.size());
      }
      ASSERT_EQ(after, before - occurrences);
      ASSERT_LE(connector_count(), MAXIMUM_CONNECTORS_PER_MAP);
      ASSERT_EQ(mesh_header()->connectors_size, connector_count() * CONNECTOR_RECORD_SIZE);
      ASSERT_TRUE(connectors_store());
    }
    for (int i = 0; i < steps; ++i) ASSERT_TRUE(edit_journal_undo());
    ASSERT_EQ(chains(), stored) << "round " << round;
  }
}

}  // namespace
