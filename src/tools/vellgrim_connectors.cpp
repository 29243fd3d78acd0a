#include "tools/vellgrim_connectors.h"

#include "cseries/error_manager.h"
#include "map/mesh_edit.h"
#include "tools/edit_journal.h"

bool connectors_replace_all(std::span<const int16_t> records) {
  constexpr size_t words = CONNECTOR_RECORD_SIZE / 2;
  if (records.size() % words != 0 || records.size() / words > MAXIMUM_CONNECTORS_PER_MAP) {
    POST_ERROR(error_data_mismatch, "%d words are not whole connectors (at most %d).", int(records.size()),
               int(MAXIMUM_CONNECTORS_PER_MAP));
    return false;
  }
  for (size_t at = 0; at < records.size(); at += words) {
    const int16_t chain_length = records[at + words - 1];
    if (chain_length < 0 || chain_length > int16_t(words - 1)) {
      POST_ERROR(error_data_mismatch, "connector #%d has a chain of %d markers (at most %d).", int(at / words),
                 chain_length, int(words - 1));
      return false;
    }
  }
  journal_step step("Set Connectors");
  if (!step.is_open()) return false;
  edit_journal_note_section(_mesh_section_connectors);
  if (!mesh_section_replace(_mesh_section_connectors, std::as_bytes(records))) return false;
  return step.commit();
}
