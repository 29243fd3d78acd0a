// Turning records built in memory into tags: a definition record in native order is copied and
// converted to stored order with its group's own byte-swap description, so the demo data is written
// with exactly the layouts the loader reads; string lists and templates are text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/definitions.h"
#include "tag_files/archive_writer.h"

// The install class new tags of the group get (the group table's), 0 for an unknown group.
uint8_t content_install_class(tag group);

// A tag holding the group's record, converted to stored order with the given description or else
// the group's own; version is the group's. False (reported) when there is no description (a record
// left in native order would load wrong) or the record can't be converted.
bool content_record_tag(const definition_group& group, tag identifier, const char* name, const void* record,
                        std::vector<archive_writer_tag>* tags, const byte_swap_description* description = nullptr);

// A tag of any group holding data already in stored order, version 1 unless given.
void content_data_tag(tag group, tag identifier, const char* name, std::vector<uint8_t> data,
                      std::vector<archive_writer_tag>* tags, int16_t version = 1);

// A string list (groups `stli` and `temp`): the strings in order, each ended by a line feed.
void content_string_list_tag(tag group, tag identifier, const char* name, const std::vector<std::string>& strings,
                             std::vector<archive_writer_tag>* tags);
// The strings of a string list's data, split at line ends (CR, LF or both; empty lines dropped).
std::vector<std::string> content_string_list_strings(const std::vector<uint8_t>& data);

// A record converted to stored order with a description, appended to out.
bool content_append_swapped(const byte_swap_description& description, const void* record, std::vector<uint8_t>* out);

// Angles: 65536 to a turn; degrees in, the stored 16-bit angle out.
uint16_t content_angle(double degrees);
// 16.16 fixed point.
int32_t content_fixed(double value);
