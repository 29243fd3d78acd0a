// A ui_host for tests: installed for the life of the object (the previous host is restored
// afterwards), it records every message box and answers every question from scripted queues.
//
//   scripted_ui_host ui;
//   ui.answers.push_back(ui_answer_yes);           // the next message box answers Yes
//   ui.open_files.push_back("maps/new.bmp");       // the next open-file choice picks this path
//   run_the_tool();
//   ASSERT_EQ(ui.boxes.size(), 1u);
//   EXPECT_EQ(ui.boxes[0].title, "Warning");
//
// When a queue is empty the question gets its default: `default_answer` for message boxes (when
// it is unset, OK for an OK box, No for Yes/No, Cancel otherwise) and "cancelled" (false) for
// the choices and the value entry. A scripted std::nullopt also answers "cancelled".
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui_host.h"

class scripted_ui_host {
 public:
  struct box {
    std::string title;
    std::string text;
    ui_icon icon;
    ui_buttons buttons;
  };
  struct file_request {
    std::string title;
    std::string filter;
    std::string suggested;  // the path handed in
  };
  struct tag_request {
    std::string title;
    uint32_t group;
    int32_t initial;
  };
  struct value_request {
    std::string title;
    std::string label;
    double minimum;
    double maximum;
    double initial;
  };

  scripted_ui_host();
  ~scripted_ui_host();
  scripted_ui_host(const scripted_ui_host&) = delete;
  scripted_ui_host& operator=(const scripted_ui_host&) = delete;

  // Scripted answers, taken from the front.
  std::deque<ui_answer> answers;
  std::optional<ui_answer> default_answer;
  std::deque<std::optional<std::string>> open_files;
  std::deque<std::optional<std::string>> save_files;
  std::deque<std::optional<int32_t>> tags;
  std::deque<std::optional<double>> values;

  // What was asked, in order.
  std::vector<box> boxes;
  std::vector<file_request> open_requests;
  std::vector<file_request> save_requests;
  std::vector<tag_request> tag_requests;
  std::vector<value_request> value_requests;

  // Long work: every begin, the last step reported, and how many ends; a step at or past
  // `cancel_at_step` (when set and the work is cancellable) answers "stop".
  struct progress_request {
    std::string title;
    int64_t total;
    bool cancellable;
    int64_t last_step = -1;
    int64_t steps = 0;
  };
  std::vector<progress_request> progress;
  int progress_ends = 0;
  std::optional<int64_t> cancel_at_step;

  // Texts of all message boxes so far, for quick assertions.
  std::vector<std::string> box_texts() const;

 private:
  ui_host host_;
  const ui_host* previous_;
};
