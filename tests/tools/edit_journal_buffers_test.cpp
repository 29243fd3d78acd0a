// Registered buffers in the edit journal: ranges noted like a section's, put back by Undo and
// Redo (with the buffer told), written ahead and replayed; refused when not registered.
#include "tools/edit_journal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "support/map_fixtures.h"

namespace {

std::array<std::byte, 64> bytes_of_buffer{};
int changed_calls = 0;
std::vector<std::vector<std::byte>> recorded;

std::span<std::byte> buffer_bytes() { return bytes_of_buffer; }
void buffer_changed() { ++changed_calls; }

TEST(EditJournalBuffers, RangesGoBackAndForthAndReplay) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  edit_journal_clear();
  const int16_t id = edit_journal_register_buffer({"test buffer", buffer_bytes, buffer_changed});
  ASSERT_GE(id, EDIT_JOURNAL_FIRST_BUFFER);
  EXPECT_EQ(edit_journal_register_buffer({"again", buffer_bytes, buffer_changed}), id);
  edit_journal_set_recorder({[](std::span<const std::byte> step) { recorded.emplace_back(step.begin(), step.end()); },
                             nullptr});
  bytes_of_buffer.fill(std::byte{1});
  changed_calls = 0;
  {
    journal_step step("Paint Buffer");
    edit_journal_note(id, 8, 16);
    edit_journal_note_section(id);  // never whole: ignored
    std::memset(bytes_of_buffer.data() + 8, 7, 16);
    ASSERT_TRUE(step.commit());
  }
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(changed_calls, 0);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(bytes_of_buffer[8], std::byte{1});
  EXPECT_EQ(changed_calls, 1);
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(bytes_of_buffer[23], std::byte{7});
  EXPECT_EQ(bytes_of_buffer[24], std::byte{1});
  EXPECT_EQ(changed_calls, 2);

  // A cancelled step puts the noted bytes back at once.
  {
    journal_step step("Cancelled");
    edit_journal_note(id, 0, 4);
    std::memset(bytes_of_buffer.data(), 9, 4);
  }
  EXPECT_EQ(bytes_of_buffer[0], std::byte{1});

  // The written-ahead step replays onto the buffer; a step naming a buffer that doesn't exist is refused.
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_replay_step(recorded[0]));
  EXPECT_EQ(bytes_of_buffer[8], std::byte{7});
  std::vector<std::byte> unknown = recorded[0];
  const size_t section_at = 2 + std::strlen("Paint Buffer") + 4;
  const int16_t missing = EDIT_JOURNAL_FIRST_BUFFER + EDIT_JOURNAL_MAXIMUM_BUFFERS - 1;
  std::memcpy(unknown.data() + section_at, &missing, sizeof(missing));
  EXPECT_FALSE(edit_journal_replay_step(unknown));
  edit_journal_set_recorder({});
  edit_journal_clear();
}

}  // namespace
