// Until the selection's own module arrives, the rectangle asked for is only remembered.
#include "tools/vertex_selection.h"

namespace {

struct requested_rectangle {
  int32_t x0, y0, x1, y1;
  bool extend;
};
requested_rectangle last_request = {0, 0, -1, -1, false};

}  // namespace

void vertex_selection_select_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool extend) {
  last_request = {x0, y0, x1, y1, extend};
}
