// A child process that does something (take a lock, say), tells the parent whether it worked, and
// then holds on until the parent lets it go: for tests of what two processes do at once.
#pragma once

#include <sys/types.h>

#include <functional>

class held_child {
 public:
  // Forks; the child runs setup and reports. ready() tells whether setup answered true.
  explicit held_child(const std::function<bool()>& setup);
  ~held_child();
  held_child(const held_child&) = delete;
  held_child& operator=(const held_child&) = delete;

  bool ready() const { return ready_; }
  // Lets the child end and waits for it.
  void release();

 private:
  pid_t pid_ = -1;
  int hold_ = -1;
  bool ready_ = false;
};
