// The map-actions section of a map from untrusted bytes: a load must refuse it or accept a model
// that is safe to query, edit, save and put back, and whose saved form loads to the same bytes.
//
// Input: byte 0 - bit 0 clear: edits (two position bytes, one value) applied to a well-formed
// sample section, so that an empty corpus reaches deep; set: the rest as it stands. Bytes 1..2 of
// the result (big-endian) are the action count, the rest the section.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "map_action_fuzz_support.h"
#include "tools/map_action_text.h"

namespace {

std::vector<uint8_t> sample_input() {
  map_action_fuzz::make_sample();
  std::vector<std::byte> section;
  int32_t count = 0;
  if (!map_actions_save(&section, &count)) std::abort();
  std::vector<uint8_t> input = {uint8_t(count >> 8), uint8_t(count)};
  for (std::byte b : section) input.push_back(uint8_t(b));
  return input;
}

void exercise() {
  std::vector<std::byte> saved;
  int32_t count = 0;
  if (!map_actions_save(&saved, &count)) std::abort();
  (void)map_actions_check();
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    (void)map_action_list_line(slot);
    const map_action* action = map_action_get(slot);
    for (int32_t p = 0; p < action->parameter_count; ++p) {
      const map_action_parameter_header* header = map_action_parameter(slot, p);
      if (header == nullptr) std::abort();  // a loaded block walks whole
      for (int32_t e = 0; e < header->element_count && e < 8; ++e) (void)map_action_element_text(slot, p, e);
    }
    map_action_search_state search;
    map_action_search_begin(&search, slot, 0, NONE_TAG, -1);
    int32_t s = 0, p = 0;
    for (int i = 0; i < 100 && map_action_search(&search, &s, &p); ++i) {
    }
  }
  (void)map_action_text_export();
  // The image puts the model back exactly.
  const std::vector<std::byte> image(map_actions_image().begin(), map_actions_image().end());
  map_actions_shift_points(512, -512);
  const int32_t first = map_action_next(-1);
  if (first != -1) {
    map_action_set_name(first, "renamed after load");
    map_action_resize_parameter(first, 0, 3);
    map_action_delete(first);
  }
  if (!map_actions_restore_image(image)) std::abort();
  // What was saved loads again to the same bytes.
  map_actions_begin();
  if (!map_actions_load(count, saved, true, nullptr)) std::abort();
  std::vector<std::byte> again;
  int32_t again_count = 0;
  map_actions_save(&again, &again_count);
  if (again != saved || again_count != count) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  map_action_fuzz::set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_input();
  if (size == 0) return 0;
  const std::vector<uint8_t> bytes = fuzz_edited_sample_or_bytes(sample, data, size);
  if (bytes.size() < 2) return 0;
  const int32_t count = (int32_t(bytes[0]) << 8) | bytes[1];
  map_actions_begin();
  std::vector<std::string> faults;
  const auto* section = reinterpret_cast<const std::byte*>(bytes.data() + 2);
  if (map_actions_load(count, {section, bytes.size() - 2}, true, &faults)) {
    exercise();
  } else if (faults.empty() || map_actions_count() != 0) {
    std::abort();  // a refusal says why and leaves nothing behind
  }
  handle_error();
  fuzz_restart_log_now_and_then("fuzz_map_actions_section");
  return 0;
}
