// The map action text reader from untrusted text: it must read or refuse any bytes, an import that
// fails must leave the actions as they were, and what a clean import gives exports to text that
// imports to the same actions again.
//
// Input: byte 0 - bit 0 clear: edits (two position bytes, one value) applied to the export of a
// sample with every value type; set: the rest as it stands.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "map_action_fuzz_support.h"
#include "tools/edit_journal.h"
#include "tools/map_action_text.h"

namespace {

std::vector<uint8_t> sample_text() {
  map_action_fuzz::make_sample();
  const std::string text = map_action_text_export();
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<std::byte> image() { return {map_actions_image().begin(), map_actions_image().end()}; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  map_action_fuzz::set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_text();
  if (size == 0) return 0;
  const std::vector<uint8_t> bytes = fuzz_edited_sample_or_bytes(sample, data, size);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  map_action_fuzz::make_sample();
  const std::vector<std::byte> before = image();
  std::vector<std::string> errors;
  if (!map_action_text_import(text, &errors)) {
    if (errors.empty() || image() != before) std::abort();
  } else {
    // A clean import round-trips through the exporter.
    const std::string exported = map_action_text_export();
    const std::vector<std::byte> imported = image();
    std::vector<std::string> again_errors;
    if (!map_action_text_import(exported, &again_errors)) std::abort();
    if (map_action_text_export() != exported) std::abort();
    (void)imported;
  }
  edit_journal_clear();
  handle_error();
  fuzz_restart_log_now_and_then("fuzz_map_action_text");
  return 0;
}
