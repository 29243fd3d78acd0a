#include "cseries/data.h"

#include "cseries/error_manager.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

struct thing {
  int16_t identifier;
  int16_t value;
  int32_t payload;
};
static_assert(sizeof(thing) == 8);

uint16_t identifier_of(const void* record) { return static_cast<uint16_t>(static_cast<const thing*>(record)->identifier); }

// A declared array as a module would own it, allocated and validated, freed at the end.
struct declared_fixture {
  declared_data_array array;
  explicit declared_fixture(int16_t capacity, int16_t globals_size = 0)
      : array(data_array_declare("thing", capacity, sizeof(thing), globals_size)) {
    EXPECT_TRUE(data_array_allocate(&array));
    EXPECT_TRUE(data_array_validate(&array));
  }
  ~declared_fixture() { data_array_dispose(&array); }
  thing* at(int32_t slot) { return data_array_get_as<thing>(&array, slot); }
};

std::span<const std::byte> bytes_of(const std::vector<thing>& records) { return std::as_bytes(std::span(records)); }

TEST(DataArray, IdentifiersCountFrom0x8000AndWrapWithoutZero) {
  declared_fixture fixture(1);
  std::vector<uint16_t> seen;
  for (int index = 0; index < 0x8001; ++index) {
    ASSERT_EQ(data_array_new_element(&fixture.array), 0);
    seen.push_back(identifier_of(fixture.at(0)));
    ASSERT_TRUE(data_array_delete_element(&fixture.array, 0));
  }
  EXPECT_EQ(seen.front(), 0x8000);
  EXPECT_EQ(seen[0x7FFF], 0xFFFF);
  EXPECT_EQ(seen[0x8000], 0x8000);
  for (uint16_t identifier : seen) ASSERT_TRUE(identifier & 0x8000);

  // Validation starts the counter over.
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  ASSERT_TRUE(data_array_validate(&fixture.array));
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  EXPECT_EQ(identifier_of(fixture.at(0)), 0x8000);
}

TEST(DataArray, NewElementTakesLowestFreeSlotZeroedAndFullAnswersNone) {
  declared_fixture fixture(3);
  for (int32_t slot = 0; slot < 3; ++slot) ASSERT_EQ(data_array_new_element(&fixture.array), slot);
  EXPECT_EQ(data_array_new_element(&fixture.array), DATA_ARRAY_NONE);
  EXPECT_EQ(fixture.array.state.used_count, 3);

  fixture.at(1)->payload = 1234;
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 1));
  EXPECT_EQ(fixture.array.state.search_start, 1);
  ASSERT_EQ(data_array_new_element(&fixture.array), 1);
  EXPECT_EQ(fixture.at(1)->payload, 0);
  EXPECT_EQ(data_array_new_element(&fixture.array), DATA_ARRAY_NONE);

  created_data_array* created = data_array_new("tag header", 2, 64);
  ASSERT_NE(created, nullptr);
  EXPECT_NE(data_array_new_element(created), DATA_ARRAY_NONE);
  EXPECT_NE(data_array_new_element(created), DATA_ARRAY_NONE);
  EXPECT_EQ(data_array_new_element(created), DATA_ARRAY_NONE);
  data_array_dispose(created);
  EXPECT_EQ(created, nullptr);
}

TEST(DataArray, DeleteLowersHighWaterMarkOnlyFromTheTop) {
  declared_fixture fixture(8);
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 0));
  EXPECT_EQ(fixture.array.state.high_water_mark, 0);
  EXPECT_EQ(fixture.array.state.used_count, 0);

  for (int32_t slot = 0; slot < 5; ++slot) ASSERT_EQ(data_array_new_element(&fixture.array), slot);
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 2));
  EXPECT_EQ(fixture.array.state.high_water_mark, 5);
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 3));
  EXPECT_EQ(fixture.array.state.high_water_mark, 5);
  // Deleting the top slot drops the mark past the free slots 3 and 2.
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 4));
  EXPECT_EQ(fixture.array.state.high_water_mark, 2);
  EXPECT_EQ(fixture.array.state.search_start, 2);
  EXPECT_EQ(fixture.array.state.used_count, 2);

  // A free or out-of-range slot is refused and does not count the slot out twice.
  EXPECT_FALSE(data_array_delete_element(&fixture.array, 4));
  EXPECT_FALSE(data_array_delete_element(&fixture.array, 2));
  EXPECT_FALSE(data_array_delete_element(&fixture.array, -1));
  EXPECT_FALSE(data_array_delete_element(&fixture.array, 8));
  EXPECT_EQ(fixture.array.state.used_count, 2);
}

TEST(DataArray, GetAnswersNoneForFreeOutOfRangeStaleAndInvalid) {
  declared_fixture fixture(4);
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  const uint16_t identifier = identifier_of(fixture.at(0));
  EXPECT_NE(data_array_get_checked(&fixture.array, 0, identifier), nullptr);
  // Identifiers compare on 16 bits whichever way the caller holds them.
  EXPECT_NE(data_array_get_checked(&fixture.array, 0, static_cast<int16_t>(identifier)), nullptr);
  EXPECT_EQ(data_array_get_checked(&fixture.array, 0, identifier + 1), nullptr);
  EXPECT_EQ(data_array_get(&fixture.array, 1), nullptr);
  EXPECT_EQ(data_array_get(&fixture.array, -1), nullptr);
  EXPECT_EQ(data_array_get(&fixture.array, 4), nullptr);

  ASSERT_TRUE(data_array_delete_element(&fixture.array, 0));
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  EXPECT_EQ(data_array_get_checked(&fixture.array, 0, identifier), nullptr);

  data_array_invalidate(&fixture.array);
  EXPECT_FALSE(data_array_is_valid(&fixture.array));
  EXPECT_EQ(data_array_get(&fixture.array, 0), nullptr);
  EXPECT_EQ(data_array_new_element(&fixture.array), DATA_ARRAY_NONE);

  struct too_big {
    int16_t identifier;
    char rest[30];
  };
  ASSERT_TRUE(data_array_reset(&fixture.array));
  ASSERT_EQ(data_array_new_element(&fixture.array), 0);
  EXPECT_EQ(data_array_get_as<too_big>(&fixture.array, 0), nullptr);
}

TEST(DataArray, StaleHandlesAreRejectedByGetCheckedAndDelete) {
  created_data_array* array = data_array_new("tag header", 4, sizeof(thing));
  ASSERT_NE(array, nullptr);
  EXPECT_TRUE(data_array_is_valid(array));
  EXPECT_EQ(array->signature, DATA_ARRAY_SIGNATURE);

  const int32_t old_handle = data_array_new_element(array);
  ASSERT_NE(old_handle, DATA_ARRAY_NONE);
  EXPECT_EQ(data_array_handle_slot(old_handle), 0);
  EXPECT_EQ(data_array_handle_identifier(old_handle), 0x8000);
  ASSERT_TRUE(data_array_delete_element(array, old_handle));
  const int32_t new_handle = data_array_new_element(array);
  ASSERT_EQ(data_array_handle_slot(new_handle), 0);
  ASSERT_NE(new_handle, old_handle);

  EXPECT_EQ(data_array_get_checked(array, old_handle), nullptr);
  EXPECT_FALSE(data_array_delete_element(array, old_handle));
  EXPECT_EQ(array->state.used_count, 1);
  EXPECT_NE(data_array_get_checked_as<thing>(array, new_handle), nullptr);
  // A bare slot is not checked; get uses only the slot half.
  EXPECT_NE(data_array_get_checked(array, 0), nullptr);
  EXPECT_NE(data_array_get(array, old_handle), nullptr);
  EXPECT_EQ(data_array_get(array, DATA_ARRAY_NONE), nullptr);
  EXPECT_EQ(data_array_handle(array, 0), new_handle);
  EXPECT_EQ(data_array_handle(array, 1), DATA_ARRAY_NONE);

  EXPECT_TRUE(data_array_delete_element(array, new_handle));
  EXPECT_EQ(array->state.high_water_mark, 0);

  // Validation empties it for the owner's next use.
  ASSERT_NE(data_array_new_element(array), DATA_ARRAY_NONE);
  ASSERT_TRUE(data_array_validate(array));
  EXPECT_EQ(array->state.used_count, 0);
  EXPECT_EQ(data_array_get(array, 0), nullptr);
  data_array_dispose(array);
  EXPECT_EQ(data_array_new_element(array), DATA_ARRAY_NONE);
}

TEST(DataArray, CompactKeepsOrderAndIdentifiers) {
  declared_fixture fixture(10);
  for (int32_t slot = 0; slot < 9; ++slot) {
    ASSERT_EQ(data_array_new_element(&fixture.array), slot);
    fixture.at(slot)->value = static_cast<int16_t>(100 + slot);
  }
  for (int32_t slot : {0, 1, 2, 4, 5, 6, 8}) ASSERT_TRUE(data_array_delete_element(&fixture.array, slot));
  const uint16_t identifier3 = identifier_of(fixture.at(3));
  const uint16_t identifier7 = identifier_of(fixture.at(7));

  data_array_compact(&fixture.array);
  EXPECT_EQ(identifier_of(fixture.at(0)), identifier3);
  EXPECT_EQ(fixture.at(0)->value, 103);
  EXPECT_EQ(identifier_of(fixture.at(1)), identifier7);
  EXPECT_EQ(fixture.at(1)->value, 107);
  EXPECT_EQ(fixture.array.state.search_start, 2);
  EXPECT_EQ(fixture.array.state.high_water_mark, 2);
  EXPECT_EQ(fixture.array.state.used_count, 2);
  const thing* records = reinterpret_cast<const thing*>(fixture.array.state.records);
  for (int32_t slot = 2; slot < 10; ++slot) {
    EXPECT_EQ(records[slot].identifier, 0);
    EXPECT_EQ(records[slot].value, 0);
  }
  EXPECT_EQ(data_array_new_element(&fixture.array), 2);
}

TEST(DataArray, RestoreKeepsUniqueIdentifiersAndReplacesDuplicates) {
  declared_fixture fixture(8);
  const std::vector<thing> stored = {
      {static_cast<int16_t>(0x9000), 1, 0},
      {static_cast<int16_t>(0x8005), 2, 0},
      {static_cast<int16_t>(0x9000), 3, 0},  // duplicate
      {0, 4, 0},                             // would look free
      {0x1234, 5, 0},                        // top bit missing
  };
  EXPECT_EQ(data_array_restore(&fixture.array, bytes_of(stored)), 5);
  EXPECT_EQ(fixture.array.state.used_count, 5);
  EXPECT_EQ(identifier_of(fixture.at(0)), 0x9000);
  EXPECT_EQ(identifier_of(fixture.at(1)), 0x8005);
  std::set<uint16_t> identifiers;
  for (int32_t slot : data_array_used_slots(&fixture.array)) {
    EXPECT_EQ(fixture.at(slot)->value, slot + 1);
    EXPECT_TRUE(identifier_of(fixture.at(slot)) & 0x8000);
    identifiers.insert(identifier_of(fixture.at(slot)));
  }
  EXPECT_EQ(identifiers.size(), 5u);
  // The counter has moved past every identifier it handed out or kept.
  EXPECT_GT(fixture.array.state.next_identifier, *identifiers.rbegin());
  ASSERT_EQ(data_array_new_element(&fixture.array), 5);
  EXPECT_EQ(identifiers.count(identifier_of(fixture.at(5))), 0u);

  // Records beyond the capacity are skipped.
  EXPECT_EQ(data_array_restore(&fixture.array, bytes_of(stored)), 2);
  EXPECT_EQ(data_array_new_element(&fixture.array), DATA_ARRAY_NONE);
}

TEST(DataArray, RestoreAfterTheCounterWrapsStillGivesUniqueIdentifiers) {
  declared_fixture fixture(4);
  const std::vector<thing> stored = {
      {static_cast<int16_t>(0x8001), 1, 0},
      {static_cast<int16_t>(0xFFFF), 2, 0},  // pushes the counter over the top to 0x8000
      {static_cast<int16_t>(0xFFFF), 3, 0},  // duplicate; the counter's next value 0x8001 is taken too
  };
  ASSERT_EQ(data_array_restore(&fixture.array, bytes_of(stored)), 3);
  std::set<uint16_t> identifiers;
  for (int32_t slot : data_array_used_slots(&fixture.array)) identifiers.insert(identifier_of(fixture.at(slot)));
  EXPECT_EQ(identifiers.size(), 3u);
  EXPECT_EQ(identifiers.count(0), 0u);
}

TEST(DataArray, UsageLineRegistryGlobalsAndIteration) {
  declared_fixture fixture(5, 12);
  ASSERT_NE(fixture.array.globals, nullptr);
  EXPECT_EQ(static_cast<const char*>(fixture.array.globals)[11], 0);
  for (int index = 0; index < 4; ++index) data_array_new_element(&fixture.array);
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 1));
  ASSERT_TRUE(data_array_delete_element(&fixture.array, 2));
  EXPECT_EQ(data_array_usage_line(&fixture.array), "things: 2 / 5\n");
  std::vector<int32_t> slots;
  for (int32_t slot : data_array_used_slots(&fixture.array)) slots.push_back(slot);
  EXPECT_EQ(slots, (std::vector<int32_t>{0, 3}));

  declared_fixture other(2);
  EXPECT_TRUE(data_array_validate(&other.array));  // a second validation does not list it twice
  std::vector<const declared_data_array*> listed;
  for (auto* array = data_array_registry_next(nullptr); array; array = data_array_registry_next(array)) {
    listed.push_back(array);
  }
  EXPECT_EQ(listed.size(), 2u);
  data_array_invalidate(&fixture.array);
  EXPECT_EQ(data_array_registry_next(nullptr), &other.array);
  EXPECT_EQ(data_array_registry_next(&other.array), nullptr);
  EXPECT_TRUE(data_array_used_slots(&fixture.array).begin() == data_array_used_slots(&fixture.array).end());

  created_data_array* created = data_array_new("tag file", 32, 16);
  data_array_new_element(created);
  EXPECT_EQ(data_array_usage_line(created), "tag files: 1 / 32\n");
  EXPECT_EQ(data_array_registry_next(nullptr), &other.array);  // created arrays are not listed
  data_array_dispose(created);
}

TEST(DataArray, BadGeometryIsRefused) {
  EXPECT_EQ(data_array_new("tiny", 4, 1), nullptr);
  EXPECT_EQ(error_pending_code(), error_unknown);
  EXPECT_EQ(data_array_new("empty", 0, 8), nullptr);
  declared_data_array array = data_array_declare("thing", -3, sizeof(thing));
  EXPECT_FALSE(data_array_allocate(&array));
  EXPECT_FALSE(data_array_validate(&array));
  EXPECT_EQ(data_array_registry_next(nullptr), nullptr);
}

}  // namespace
