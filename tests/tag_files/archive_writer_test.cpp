#include "tag_files/archive_writer.h"

#include <gtest/gtest.h>

#include "cseries/byte_swapping.h"
#include "tag_store_fixture.h"

namespace {

uint32_t big_endian_32(const std::vector<uint8_t>& bytes, size_t at) {
  return read_big_endian_32(bytes.data() + at);
}

using ArchiveWriterTest = TagStoreTest;

TEST_F(ArchiveWriterTest, LaysOutHeaderEntryPointsTagsAndDataBigEndian) {
  archive_writer_archive archive = archive_of(_tag_file_plugin, {tag_entry(kMesh, make_tag("abcd"), "first", "12345", 9, 2),
                                                                 tag_entry(kScenery, make_tag("efgh"), "second", "xy")},
                                              3);
  archive.web_address = "example.org";
  archive.entry_points.push_back({make_tag("abcd"), 0x01020304, "A Map", "Described."});
  std::vector<uint8_t> bytes = archive_bytes(archive);

  const size_t tags_at = 128 + 112, data_at = tags_at + 2 * 64;
  ASSERT_EQ(bytes.size(), data_at + 7);
  EXPECT_EQ(bytes[1], 2);    // type
  EXPECT_EQ(bytes[3], 3);    // patch level
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[36])), "example.org");
  EXPECT_EQ(bytes[101], 1);  // entry points
  EXPECT_EQ(bytes[103], 2);  // tags
  EXPECT_EQ(big_endian_32(bytes, 104), archive_writer_checksum(std::span(bytes).subspan(128)));
  EXPECT_EQ(big_endian_32(bytes, 112), bytes.size());
  EXPECT_EQ(big_endian_32(bytes, 124), make_tag("dng2"));
  EXPECT_EQ(big_endian_32(bytes, 128), make_tag("abcd"));
  EXPECT_EQ(big_endian_32(bytes, 128 + 12), 0x01020304u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[128 + 16])), "A Map");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[tags_at + 4])), "first");
  EXPECT_EQ(big_endian_32(bytes, tags_at + 36), kMesh);
  EXPECT_EQ(big_endian_32(bytes, tags_at + 44), data_at);
  EXPECT_EQ(big_endian_32(bytes, tags_at + 48), 5u);
  EXPECT_EQ(big_endian_32(bytes, tags_at + 52), 9u);
  EXPECT_EQ(bytes[tags_at + 57], 2);  // version
  EXPECT_EQ(big_endian_32(bytes, tags_at + 60), make_tag("trn2"));
  EXPECT_EQ(big_endian_32(bytes, tags_at + 64 + 44), data_at + 5);
  EXPECT_EQ(std::string(bytes.begin() + std::ptrdiff_t(data_at), bytes.end()), "12345xy");

  // The same input gives the same bytes; an explicit checksum is kept.
  EXPECT_EQ(archive_bytes(archive), bytes);
  archive.checksum = 0xCAFEF00D;
  EXPECT_EQ(big_endian_32(archive_bytes(archive), 104), 0xCAFEF00Du);
}

TEST_F(ArchiveWriterTest, RefusesWhatTheLoaderWouldReject) {
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(archive_writer_build(archive_of(_tag_file_plugin, {tag_entry(kMesh, 1, "bad:name", "")}), &bytes));
  EXPECT_FALSE(archive_writer_build(archive_of(_tag_file_plugin, {tag_entry(kMesh, 1, "trailing.", "")}), &bytes));
  EXPECT_FALSE(archive_writer_build(archive_of(_tag_file_plugin, {tag_entry(kMesh, 1, "", "")}), &bytes));
  EXPECT_FALSE(archive_writer_build(
      archive_of(_tag_file_plugin, {tag_entry(kMesh, 1, "a", ""), tag_entry(kMesh, 1, "b", "")}), &bytes));
  EXPECT_FALSE(archive_writer_build(archive_of(1, {}), &bytes));
  archive_writer_archive long_text = archive_of(_tag_file_plugin, {});
  long_text.entry_points.push_back({1, 0, std::string(32, 'n'), ""});
  EXPECT_FALSE(archive_writer_build(long_text, &bytes));
  // The same tag twice in different groups is fine.
  EXPECT_TRUE(archive_writer_build(
      archive_of(_tag_file_plugin, {tag_entry(kMesh, 1, "a", ""), tag_entry(kScenery, 1, "a", "")}), &bytes));
}

TEST_F(ArchiveWriterTest, LocalTagsRoundTrip) {
  archive_writer_tag original = tag_entry(kMesh, make_tag("loca"), "a local map", std::string("\0data\xff", 6), 0xDEADBEEF, -3);
  original.install_class = 4;
  ASSERT_TRUE(archive_writer_write_local_tag_in_place(original));
  std::string stored = folder.read_file("local/meshes/a local map");
  ASSERT_EQ(stored.size(), 70u);
  EXPECT_EQ(stored.substr(44, 4), std::string("\0\0\0\x40", 4));  // offset 64
  EXPECT_EQ(uint8_t(stored[59]), 255);                               // archive index: local

  file_specification file = spec_of("local\\meshes", "a local map");
  archive_writer_tag read_back;
  ASSERT_TRUE(archive_writer_read_local_tag(&file, &read_back));
  EXPECT_EQ(read_back.group_tag, original.group_tag);
  EXPECT_EQ(read_back.tag_identifier, original.tag_identifier);
  EXPECT_EQ(read_back.name, original.name);
  EXPECT_EQ(read_back.version, original.version);
  EXPECT_EQ(read_back.user_data, original.user_data);
  EXPECT_EQ(read_back.install_class, original.install_class);
  EXPECT_EQ(read_back.data, original.data);

  ASSERT_TRUE(folder.write_file("local/meshes/not a tag", std::string(80, 'x')));
  file = spec_of("local\\meshes", "not a tag");
  EXPECT_FALSE(archive_writer_read_local_tag(&file, &read_back));
  EXPECT_EQ(read_back.name, original.name);  // untouched on failure
}

TEST_F(ArchiveWriterTest, WrittenArchivesLoad) {
  std::vector<archive_writer_tag> tags;
  for (int i = 0; i < 300; ++i) {
    tags.push_back(tag_entry(kScenery, tag(1000 + i), "scenery " + std::to_string(i), std::string(size_t(i), char(i))));
  }
  write_archive("tags", install_archive_names[3], archive_of(_tag_file_install_archive, tags));
  ASSERT_TRUE(open_store());
  EXPECT_EQ(tag_file_count(kScenery), 300);
  for (int i = 0; i < 300; i += 37) {
    EXPECT_EQ(read_tag(kScenery, tag(1000 + i)), std::string(size_t(i), char(i)));
    EXPECT_EQ(tag_file_get_install_class(tag_file_find(kScenery, tag(1000 + i))), TAG_INSTALL_CLASS_NONE);
  }
  EXPECT_TRUE(folder_entries("tags").size() == 1u);  // no temporary left behind
}

}  // namespace
