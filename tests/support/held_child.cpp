#include "support/held_child.h"

#include <sys/wait.h>
#include <unistd.h>

held_child::held_child(const std::function<bool()>& setup) {
  int ready[2], hold[2];
  if (pipe(ready) != 0) return;
  if (pipe(hold) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(hold[1]);
    close(ready[0]);
    const char answer = setup() ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    // Until the parent closes its end.
    char end;
    while (read(hold[0], &end, 1) > 0) {
    }
    _exit(0);
  }
  close(hold[0]);
  close(ready[1]);
  hold_ = hold[1];
  char answer = '?';
  ready_ = pid_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
  close(ready[0]);
}

held_child::~held_child() { release(); }

void held_child::release() {
  if (hold_ >= 0) close(hold_);
  hold_ = -1;
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}
