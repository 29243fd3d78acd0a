// Builds the files the tag store reads: install archives (type 3) and plugins (type 2) from a list
// of tags and entry points, and single local tag files. The layout is exactly the one the loader
// checks: the 128-byte header, the entry points, the 64-byte tag headers, then the tags' data in
// list order, all big-endian. The same input always gives the same bytes. Files are written as a
// whole through a temporary and a rename.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cseries/files.h"
#include "tag_files/tag_files.h"

struct archive_writer_tag {
  tag group_tag = NONE_TAG;
  tag tag_identifier = NONE_TAG;
  std::string name;
  int16_t version = 0;
  uint32_t user_data = 0;
  uint8_t install_class = TAG_INSTALL_CLASS_NONE;
  std::vector<uint8_t> data;
};

struct archive_writer_entry_point {
  tag mesh_tag = NONE_TAG;
  uint32_t flags = 0;
  std::string name;         // at most 31 characters
  std::string description;  // at most 63 characters
};

struct archive_writer_archive {
  int16_t type = _tag_file_install_archive;
  int16_t patch_level = 0;
  std::string name;         // informative: the loader names an archive after its file
  std::string web_address;  // at most 63 characters
  uint32_t checksum = 0;    // 0: computed from the contents (archive_writer_checksum)
  uint32_t flags = 0;
  std::vector<archive_writer_entry_point> entry_points;
  std::vector<archive_writer_tag> tags;
};

// The archive's bytes; false (reported) for anything the loader would refuse: a bad type, too many
// tags or entry points, a tag name that the name rule changes, two tags with the same group and
// identifier, or a file of 4 GB or more.
bool archive_writer_build(const archive_writer_archive& archive, std::vector<uint8_t>* bytes);
bool archive_writer_write(const archive_writer_archive& archive, const file_specification* file);

// FNV-1a over every byte after the archive header: the checksum used when none is given.
uint32_t archive_writer_checksum(std::span<const uint8_t> bytes_after_header);

// A local tag file: its 64-byte header (offset 64, archive index 255) and its data.
bool archive_writer_build_local_tag(const archive_writer_tag& tag_entry, std::vector<uint8_t>* bytes);
bool archive_writer_write_local_tag(const archive_writer_tag& tag_entry, const file_specification* file);
// Writes it into the group's local folder (created where missing) under the tag's name.
bool archive_writer_write_local_tag_in_place(const archive_writer_tag& tag_entry);
// Reads a local tag file back; the name is the file's name. False (reported) for a file the store
// would not load as a local tag.
bool archive_writer_read_local_tag(const file_specification* file, archive_writer_tag* tag_entry);
