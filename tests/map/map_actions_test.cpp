#include "map/map_actions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "map/map_actions_edit.h"
#include "support/map_fixtures.h"

namespace {

std::span<const std::byte> bytes_of(const void* data, size_t size) { return {static_cast<const std::byte*>(data), size}; }

class MapActions : public ::testing::Test {
 protected:
  scoped_test_grid grid{1, 1};
  void SetUp() override { ASSERT_TRUE(grid.ready()); }

  int32_t action(const char* name) {
    const int32_t slot = map_action_new(-1);
    EXPECT_NE(slot, -1);
    EXPECT_TRUE(map_action_set_name(slot, name));
    return slot;
  }
  int32_t integers(int32_t slot, tag name, std::vector<int32_t> values) {
    const int32_t p = map_action_add_parameter(slot, name, _parameter_integer);
    EXPECT_TRUE(map_action_set_elements(slot, p, int32_t(values.size()), bytes_of(values.data(), values.size() * 4)));
    return p;
  }
  // The blocks tile the used bytes without gaps or overlaps.
  void expect_packed() {
    int64_t total = 0;
    for (int32_t s = map_action_next(-1); s != -1; s = map_action_next(s)) total += map_action_get(s)->parameter_bytes;
    EXPECT_EQ(total, map_actions_parameter_bytes());
    EXPECT_TRUE(map_actions_check().empty()) << map_actions_check().front();
  }
  std::vector<std::byte> stored(int32_t* count) {
    std::vector<std::byte> bytes;
    EXPECT_TRUE(map_actions_save(&bytes, count));
    return bytes;
  }
};

TEST_F(MapActions, ParametersTakeAHeaderAndElementsPaddedToFourBytes) {
  EXPECT_EQ(map_action_parameter_size(_parameter_flag, 5), 16);
  EXPECT_EQ(map_action_parameter_size(_parameter_world_point3d, 2), 32);
  EXPECT_EQ(map_action_parameter_size(21, 1), -1);
  const int32_t slot = action("a");
  const int32_t before = map_actions_parameter_bytes();
  const int32_t p = map_action_add_parameter(slot, make_tag("flgs"), _parameter_flag);
  ASSERT_TRUE(map_action_append_elements(slot, p, 5, {}));
  EXPECT_EQ(map_actions_parameter_bytes() - before, 16);
}

TEST_F(MapActions, NewActionsAreNamedAndCopiesCarryTheirParameters) {
  const int32_t slot = map_action_new(-1);
  EXPECT_EQ(map_action_name(slot), "new action");
  EXPECT_EQ(map_action_get(slot)->action_type, NONE_TAG);
  const int32_t bare = map_action_new_empty();
  EXPECT_EQ(map_action_name(bare), "<unnamed action>");
  integers(slot, make_tag("numb"), {7, 8});
  const int32_t copy = map_action_new(slot);
  ASSERT_NE(copy, -1);
  EXPECT_NE(map_action_get(copy)->identifier, map_action_get(slot)->identifier);
  EXPECT_EQ(map_action_name(copy), "new action");
  EXPECT_EQ(map_action_element_text(copy, 1, 1), "8");
  ASSERT_TRUE(map_action_set_record_fields(slot, 2, 0xFF, make_tag("move"), 30, 60));
  EXPECT_EQ(map_action_list_line(slot), "\xA5MOVE.new action");
  EXPECT_EQ(map_action_list_line(copy), "  new action");
  EXPECT_EQ(map_action_get(slot)->action_flags, 0xFu);  // only the four editable flags are set
  expect_packed();
}

TEST_F(MapActions, ShrinkingABlockAtANearlyFullBufferMovesTheBlocksBehindInPlace) {
  // Fill the buffer to within 20 bytes with three actions, the first one holding a big block.
  const int32_t first = action("first");
  integers(first, make_tag("big "), std::vector<int32_t>(8000, 1));
  const int32_t second = action("second");
  integers(second, make_tag("tail"), {11, 12, 13});
  // Blocks hold at most 32767 bytes: fill the rest with several actions.
  int32_t third = -1, room = 0;
  while (MAP_ACTION_BUFFER_SIZE - map_actions_parameter_bytes() > 60) {
    third = action("third");
    room = std::min(30000, MAP_ACTION_BUFFER_SIZE - map_actions_parameter_bytes() - 20 - 8);
    integers(third, make_tag("fill"), std::vector<int32_t>(size_t(room / 4), 2));
  }
  ASSERT_GE(map_actions_parameter_bytes(), MAP_ACTION_BUFFER_SIZE - 60);
  // Growing past the buffer is refused and changes nothing.
  const auto before = std::vector<std::byte>(map_actions_image().begin(), map_actions_image().end());
  EXPECT_FALSE(map_action_append_elements(second, 1, 100, {}));
  EXPECT_EQ(std::vector<std::byte>(map_actions_image().begin(), map_actions_image().end()), before);
  // Shrinking the first block moves the others down; renaming at a full buffer works.
  ASSERT_TRUE(map_action_resize_parameter(first, 1, 10));
  EXPECT_TRUE(map_action_set_name(first, "a longer name than before"));
  EXPECT_EQ(map_action_element_text(second, 1, 2), "13");
  EXPECT_EQ(map_action_name(third), "third");
  EXPECT_EQ(map_action_element_text(third, 1, room / 4 - 1), "2");
  expect_packed();
}

TEST_F(MapActions, AParameterNumberOutsideTheActionAnswersNone) {
  const int32_t slot = action("a");
  EXPECT_NE(map_action_parameter(slot, 0), nullptr);
  EXPECT_EQ(map_action_parameter(slot, 1), nullptr);
  EXPECT_EQ(map_action_parameter(slot, -1), nullptr);
  EXPECT_EQ(map_action_parameter(slot + 7, 0), nullptr);
  EXPECT_TRUE(map_action_parameter_elements(slot, 3).empty());
  EXPECT_FALSE(map_action_set_element_value(slot, 3, 0, 1));
  EXPECT_EQ(map_action_element_text(slot, 3, 0), "<error>");
}

TEST_F(MapActions, DeletingAnActionClearsTheLinksToIt) {
  const int32_t a = action("a"), b = action("b");
  const int16_t b_identifier = map_action_get(b)->identifier;
  const int32_t link = map_action_add_parameter(a, make_tag("link"), _parameter_action_identifier);
  ASSERT_TRUE(map_action_append_elements(a, link, 1, bytes_of(&b_identifier, 2)));
  EXPECT_EQ(map_action_element_text(a, link, 0), "b");
  ASSERT_TRUE(map_action_delete(b));
  int32_t value = 0;
  ASSERT_TRUE(map_action_element_value(a, link, 0, &value));
  EXPECT_EQ(value, -1);
  EXPECT_EQ(map_action_element_text(a, link, 0), "<deleted action>");
  expect_packed();
  // An element appended without data links to its own action.
  ASSERT_TRUE(map_action_append_elements(a, link, 1, {}));
  ASSERT_TRUE(map_action_element_value(a, link, 1, &value));
  EXPECT_EQ(int16_t(value), map_action_get(a)->identifier);
}

TEST_F(MapActions, NoActionTakesTheIdentifierThatMeansNone) {
  // Run the identifier counter up to its last value.
  for (int32_t i = 0; i < 0x7FFF; ++i) {  // 0x8000..0xFFFE
    const int32_t slot = map_action_new_empty();
    ASSERT_NE(slot, -1);
    ASSERT_TRUE(map_action_delete(slot));
  }
  const int32_t slot = map_action_new_empty();
  EXPECT_EQ(uint16_t(map_action_get(slot)->identifier), 0x8000);  // 0xFFFF was passed over
}

TEST_F(MapActions, TheCheckNamesLinksToMissingActions) {
  const int32_t a = action("a");
  const int32_t link = map_action_add_parameter(a, make_tag("link"), _parameter_action_identifier);
  ASSERT_TRUE(map_action_append_elements(a, link, 2, {}));  // links to itself
  EXPECT_TRUE(map_actions_check().empty());
  ASSERT_TRUE(map_action_set_element_value(a, link, 1, 0x8123));
  ASSERT_EQ(map_actions_check().size(), 1u);
  EXPECT_NE(map_actions_check()[0].find("links to missing action 33059"), std::string::npos) << map_actions_check()[0];
}

TEST_F(MapActions, ShiftMovesTwoAndThreeDimensionalPointsAndRectangles) {
  const int32_t slot = action("a");
  const int32_t p2 = map_action_add_parameter(slot, make_tag("pt2d"), _parameter_world_point2d);
  const int32_t p3 = map_action_add_parameter(slot, make_tag("pt3d"), _parameter_world_point3d);
  const int32_t pr = map_action_add_parameter(slot, make_tag("rect"), _parameter_world_rectangle2d);
  const int32_t two[2] = {100, 200}, three[3] = {10, 20, 30}, rect[4] = {1, 2, 3, 4};
  ASSERT_TRUE(map_action_set_elements(slot, p2, 1, bytes_of(two, 8)));
  ASSERT_TRUE(map_action_set_elements(slot, p3, 1, bytes_of(three, 12)));
  ASSERT_TRUE(map_action_set_elements(slot, pr, 1, bytes_of(rect, 16)));
  map_actions_shift_points(512, -1024);
  int32_t v = 0;
  const std::pair<int32_t, std::vector<int32_t>> expected[] = {
      {p2, {612, -824}}, {p3, {522, -1004, 30}}, {pr, {513, -1022, 515, -1020}}};
  for (const auto& [p, values] : expected) {
    for (size_t c = 0; c < values.size(); ++c) {
      ASSERT_TRUE(map_action_element_value(slot, p, 0, &v, int32_t(c)));
      EXPECT_EQ(v, values[c]) << "parameter " << p << " component " << c;
    }
  }
}

TEST_F(MapActions, ElementTextsAndTheirReadingRoundTripExactly) {
  const int32_t slot = action("a");
  const int32_t angle = map_action_add_parameter(slot, make_tag("face"), _parameter_angle);
  ASSERT_TRUE(map_action_append_elements(slot, angle, 1, {}));
  ASSERT_TRUE(map_action_element_from_text(slot, angle, 0, "90"));
  int32_t v = 0;
  map_action_element_value(slot, angle, 0, &v);
  EXPECT_EQ(v, 16384);
  EXPECT_EQ(map_action_element_text(slot, angle, 0), "90.00");
  for (int32_t value = 0; value < 65536; value += 7) {
    int32_t back = -1;
    ASSERT_TRUE(map_action_angle_from_text(map_action_angle_text(value), &back));
    ASSERT_EQ(back, value);
  }
  for (int32_t value = -5000; value <= 5000; ++value) {
    int32_t back = 0;
    ASSERT_TRUE(map_action_distance_from_text(map_action_distance_text(value), &back));
    ASSERT_EQ(back, value) << map_action_distance_text(value);
    ASSERT_TRUE(map_action_fixed_from_text(map_action_fixed_text(value * 13), &back));
    ASSERT_EQ(back, value * 13) << map_action_fixed_text(value * 13);
    ASSERT_TRUE(map_action_ticks_from_text(map_action_seconds_text(value).c_str(), &back));
    ASSERT_EQ(back, value);
  }
  for (int32_t value : {INT32_MIN, INT32_MAX, 0x12345678}) {
    int32_t back = 0;
    ASSERT_TRUE(map_action_distance_from_text(map_action_distance_text(value), &back));
    EXPECT_EQ(back, value);
    ASSERT_TRUE(map_action_fixed_from_text(map_action_fixed_text(value), &back));
    EXPECT_EQ(back, value);
  }
  EXPECT_EQ(map_action_distance_text(-256), "-0.499");  // the shown form keeps its bias
  for (const char* bad : {"nan", "inf", "1e300", "", "1.5x", "--1"}) {
    EXPECT_FALSE(map_action_distance_from_text(bad, &v)) << bad;
    EXPECT_FALSE(map_action_ticks_from_text(bad, &v)) << bad;
  }
  // The Edit dialog's OK keeps the trigger times however often it is pressed.
  ASSERT_TRUE(map_action_set_record_fields(slot, 0, 0, NONE_TAG, 31, 40));
  for (int i = 0; i < 3; ++i) {
    map_action_properties properties;
    ASSERT_TRUE(map_action_get_properties(slot, &properties));
    ASSERT_TRUE(map_action_set_properties(slot, properties));
  }
  EXPECT_EQ(map_action_get(slot)->trigger_time_lower, 31);
  EXPECT_EQ(map_action_get(slot)->trigger_time_range, 40);
  map_action_properties bad;
  map_action_get_properties(slot, &bad);
  bad.trigger_upper = "nan";
  EXPECT_FALSE(map_action_set_properties(slot, bad));
}

TEST_F(MapActions, PointAndFlagTextsShowTheirElementNumberAndValue) {
  const int32_t slot = action("a");
  const int32_t p = map_action_add_parameter(slot, make_tag("dest"), _parameter_world_point2d);
  const int32_t point[4] = {512, 1024, -256, 0};
  ASSERT_TRUE(map_action_set_elements(slot, p, 2, bytes_of(point, 16)));
  EXPECT_EQ(map_action_element_text(slot, p, 1), "#2 (-0.499,0.001)");
  const int32_t flag = map_action_add_parameter(slot, make_tag("fast"), _parameter_flag);
  ASSERT_TRUE(map_action_append_elements(slot, flag, 1, {}));
  EXPECT_EQ(map_action_element_text(slot, flag, 0), "false");
  EXPECT_TRUE(map_action_element_from_text(slot, flag, 0, "T"));
  EXPECT_EQ(map_action_element_text(slot, flag, 0), "true");
  EXPECT_FALSE(map_action_element_from_text(slot, flag, 0, "maybe"));
  EXPECT_EQ(map_action_element_text(slot, flag, 0), "true");
}

TEST_F(MapActions, SearchFollowsLinksOnceAndStopsGrowingAtSixtyFourActions) {
  std::vector<int32_t> slots;
  for (int i = 0; i < 70; ++i) slots.push_back(action(("a" + std::to_string(i)).c_str()));
  // Each links to the next, the first one twice.
  for (int i = 0; i + 1 < 70; ++i) {
    const int16_t next = map_action_get(slots[size_t(i) + 1])->identifier;
    const int16_t links[2] = {next, next};
    const int32_t p = map_action_add_parameter(slots[size_t(i)], make_tag("link"), _parameter_action_identifier);
    ASSERT_TRUE(map_action_set_elements(slots[size_t(i)], p, i == 0 ? 2 : 1, bytes_of(links, 4)));
  }
  map_action_search_state search;
  map_action_search_begin(&search, slots[0], 0, make_tag("name"), _parameter_string);
  int32_t slot = -1, parameter = -1, found = 0;
  while (map_action_search(&search, &slot, &parameter)) ++found;
  EXPECT_EQ(found, MAP_ACTION_SEARCH_LIST_SIZE);
  EXPECT_EQ(search.list_count, MAP_ACTION_SEARCH_LIST_SIZE);
  map_action_search_begin(&search, slots[0], _search_links_are_candidates, make_tag("link"), -1);
  ASSERT_TRUE(map_action_search(&search, &slot, &parameter));
  EXPECT_EQ(slot, slots[0]);
  EXPECT_FALSE(map_action_search(&search, &slot, &parameter));
}

TEST_F(MapActions, ImagesPutTheModelBackExactlyAndRefuseOtherBytes) {
  const int32_t a = action("a");
  integers(a, make_tag("numb"), {1, 2, 3});
  const int32_t b = action("b");
  ASSERT_TRUE(map_action_delete(a));  // a free slot before b
  const std::vector<std::byte> image(map_actions_image().begin(), map_actions_image().end());
  action("c");
  ASSERT_TRUE(map_actions_restore_image(image));
  EXPECT_EQ(std::vector<std::byte>(map_actions_image().begin(), map_actions_image().end()), image);
  EXPECT_EQ(map_action_get(a), nullptr);
  EXPECT_EQ(map_action_name(b), "b");
  std::vector<std::byte> bad = image;
  bad[16 + MAP_ACTION_SIZE + 24] = std::byte{0x70};  // b's block offset far outside
  EXPECT_FALSE(map_actions_restore_image(bad));
  EXPECT_EQ(std::vector<std::byte>(map_actions_image().begin(), map_actions_image().end()), image);
  EXPECT_FALSE(map_actions_restore_image(std::vector<std::byte>(7)));
}

// ---- the stored section ----

class MapActionsStored : public MapActions {
 protected:
  // One action with a string and an integer parameter, stored.
  std::vector<std::byte> sample(int32_t* count) {
    const int32_t slot = action("stored one");
    integers(slot, make_tag("numb"), {-5});
    map_action_set_record_fields(slot, 3, 0x5, make_tag("wait"), 90, 30);
    return stored(count);
  }
  std::string refusal(std::vector<std::byte> bytes, int32_t count) {
    std::vector<std::string> faults;
    map_actions_begin();
    EXPECT_FALSE(map_actions_load(count, bytes, true, &faults));
    EXPECT_EQ(map_actions_count(), 0);
    return faults.empty() ? "" : faults.front();
  }
  static void put16(std::vector<std::byte>& b, size_t at, uint16_t v) {
    b[at] = std::byte(v >> 8);
    b[at + 1] = std::byte(v & 0xFF);
  }
};

TEST_F(MapActionsStored, SavedActionsLoadBackWithTheirIdentifiersAndBytes) {
  int32_t count = 0;
  std::vector<std::byte> bytes = sample(&count);
  bytes[40] = std::byte{0x66};  // kept bytes of the record
  const int16_t identifier = map_action_get(map_action_next(-1))->identifier;
  map_actions_begin();
  std::vector<std::string> faults;
  ASSERT_TRUE(map_actions_load(count, bytes, true, &faults));
  const int32_t slot = map_action_next(-1);
  EXPECT_EQ(map_action_get(slot)->identifier, identifier);
  EXPECT_EQ(map_action_get(slot)->trigger_time_lower, 90);
  EXPECT_EQ(map_action_name(slot), "stored one");
  EXPECT_EQ(map_action_element_text(slot, 1, 0), "-5");
  int32_t again_count = 0;
  EXPECT_EQ(stored(&again_count), bytes);
}

TEST_F(MapActionsStored, CorruptSectionsAreRefusedNamingTheFault) {
  int32_t count = 0;
  const std::vector<std::byte> good = sample(&count);
  ASSERT_EQ(count, 1);
  const size_t parameters = MAP_ACTION_SIZE;  // the first parameter header
  auto edited = [&](auto change) {
    std::vector<std::byte> b = good;
    change(b);
    return b;
  };
  EXPECT_NE(refusal(edited([&](auto& b) { put16(b, 22, 0x7000); }), 1).find("outside the"), std::string::npos);
  EXPECT_NE(refusal(edited([&](auto& b) { put16(b, parameters, 21); }), 1).find("has type 21"), std::string::npos);
  EXPECT_NE(refusal(edited([&](auto& b) { put16(b, parameters + 2, 30000); }), 1).find("runs past"), std::string::npos);
  EXPECT_NE(refusal(edited([&](auto& b) { put16(b, 20, 1); }), 1).find("fills"), std::string::npos);
  EXPECT_NE(refusal(edited([&](auto& b) { put16(b, 20, 3); }), 1).find("block ends"), std::string::npos);
  // The name's text loses its end.
  EXPECT_NE(refusal(edited([&](auto& b) {
              for (size_t i = parameters + 8; i < parameters + 20; ++i) b[i] = std::byte{'x'};
            }), 1).find("without an end"), std::string::npos);
  EXPECT_NE(refusal(good, 2).find("does not fit"), std::string::npos);
  EXPECT_NE(refusal(good, -1).find("does not fit"), std::string::npos);
  std::vector<std::byte> huge(size_t(MAP_ACTION_BUFFER_SIZE) + 4);
  EXPECT_NE(refusal(huge, 0).find("exceed"), std::string::npos);
  // Two actions whose blocks overlap.
  std::vector<std::byte> two(good.begin(), good.begin() + MAP_ACTION_SIZE);
  two.insert(two.end(), good.begin(), good.end());
  two[MAP_ACTION_SIZE + 1] = std::byte{0x07};  // a second identifier
  EXPECT_NE(refusal(two, 2).find("overlaps"), std::string::npos);
}

TEST_F(MapActionsStored, BytesNoBlockClaimsAreDroppedOnLoad) {
  int32_t count = 0;
  std::vector<std::byte> bytes = sample(&count);
  const int32_t used = int32_t(bytes.size()) - MAP_ACTION_SIZE;
  bytes.insert(bytes.begin() + MAP_ACTION_SIZE, 12, std::byte{0xEE});  // a gap before the block
  bytes[27] = std::byte(12);                                             // the block now starts at 12
  map_actions_begin();
  ASSERT_TRUE(map_actions_load(count, bytes, true, nullptr));
  EXPECT_EQ(map_actions_parameter_bytes(), used);
  EXPECT_EQ(map_action_name(map_action_next(-1)), "stored one");
  expect_packed();
}

}  // namespace
