#include "tag_files/tag_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "tag_store_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr tag kAlpha = make_tag("alph");

// ---- visibility ----

TEST_F(TagStoreTest, LocalTagHidesArchiveTagUntilDeleted) {
  write_install(0, {tag_entry(kMesh, kAlpha, "alpha", "from the archive")});
  write_local(tag_entry(kMesh, kAlpha, "alpha", "from the local folder"));
  ASSERT_TRUE(open_store());

  int32_t local = tag_file_find(kMesh, kAlpha);
  ASSERT_NE(local, NONE);
  EXPECT_TRUE(tag_file_is_local(local));
  EXPECT_EQ(read_all(local), "from the local folder");
  EXPECT_EQ(tag_file_count(kMesh), 1);
  EXPECT_EQ(tag_file_get_archive_name(local), nullptr);

  tag_file_filter filter = tag_file_filter_any();
  filter.group_tag = kMesh;
  int32_t found[4];
  ASSERT_EQ(tag_file_search(filter, found, 4), 1);
  EXPECT_EQ(found[0], local);

  ASSERT_TRUE(tag_file_delete(local));
  EXPECT_FALSE(std::filesystem::exists("local/meshes/alpha"));
  int32_t archived = tag_file_find(kMesh, kAlpha);
  ASSERT_NE(archived, NONE);
  EXPECT_FALSE(tag_file_is_local(archived));
  EXPECT_STREQ(tag_file_get_archive_name(archived), "small install");
  EXPECT_EQ(read_all(archived), "from the archive");
  ASSERT_EQ(tag_file_search(filter, found, 4), 1);
  EXPECT_EQ(found[0], archived);
  // The deleted header's index is dead.
  EXPECT_FALSE(tag_file_is_valid(local));
  EXPECT_STREQ(tag_file_get_name(local), "<unknown>");
  EXPECT_EQ(tag_file_get_identifier(local), NONE_TAG);
  EXPECT_EQ(tag_file_get_version(local), 0xFFFF);
}

TEST_F(TagStoreTest, LaterArchiveWinsAndHiddenTagsRefuseReading) {
  write_install(0, {tag_entry(kMesh, kAlpha, "alpha", "install")});
  write_archive("plugins", "one.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "one")}));
  write_archive("plugins", "two.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "two")}));
  ASSERT_TRUE(tag_files_initialize());
  int16_t one = plugin_named("one.plg"), two = plugin_named("two.plg");
  ASSERT_NE(one, NONE);
  ASSERT_NE(two, NONE);

  const int16_t one_then_two[] = {one, two};
  ASSERT_TRUE(tag_files_open(false, one_then_two, NONE));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "two");
  EXPECT_STREQ(tag_file_get_archive_name(tag_file_find(kMesh, kAlpha)), "two.plg");

  // Every header stays loaded; only one is visible, and the hidden ones can't be read.
  int hidden = 0;
  for (int32_t index = tag_file_next_header(NONE); index != NONE; index = tag_file_next_header(index)) {
    if (!tag_file_is_hidden(index)) continue;
    hidden++;
    char byte;
    EXPECT_FALSE(tag_file_read(index, 0, 1, &byte));
    tag_file_info info;
    EXPECT_FALSE(tag_file_get_info(index, &info));
  }
  EXPECT_EQ(hidden, 2);

  const int16_t two_then_one[] = {two, one};
  ASSERT_TRUE(tag_files_open(false, two_then_one, NONE));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "one");
  EXPECT_EQ(tag_file_count(kMesh), 1);
  // Plugins stay known across reopening.
  EXPECT_EQ(tag_file_plugin_count(), 2);
}

TEST_F(TagStoreTest, InstallArchivesLoadInOrderAndSetTheFoundationFlag) {
  write_install(0, {tag_entry(kMesh, kAlpha, "alpha", "small")});
  write_install(2, {tag_entry(kMesh, kAlpha, "alpha", "large")});
  ASSERT_TRUE(open_store());
  EXPECT_EQ(read_tag(kMesh, kAlpha), "large");
  EXPECT_FALSE(foundation_tags_present());

  for (int index = 0; index < NUMBER_OF_INSTALL_ARCHIVES; ++index) {
    if (index != 0 && index != 2) write_install(index, {});
  }
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_TRUE(foundation_tags_present());
}

TEST_F(TagStoreTest, SearchFiltersAndCountsVisibleTagsInSlotOrder) {
  write_install(0, {tag_entry(kMesh, make_tag("m001"), "Hills", "1234", 7, 3),
                    tag_entry(kMesh, make_tag("m002"), "valley", "12", 0, 1),
                    tag_entry(kScenery, make_tag("tree"), "hills", "x", 7, 5)});
  ASSERT_TRUE(open_store());

  tag_file_filter filter = tag_file_filter_any();
  std::strcpy(filter.name, "HILLS");
  int32_t found[8];
  ASSERT_EQ(tag_file_search(filter, found, 8), 2);
  EXPECT_EQ(tag_file_get_group(found[0]), kMesh);
  EXPECT_EQ(tag_file_get_group(found[1]), kScenery);

  filter = tag_file_filter_any();
  filter.minimum_version = 3;
  EXPECT_EQ(tag_file_search(filter, nullptr, 8), 2);
  filter.user_data = 7;
  filter.size = 4;
  ASSERT_EQ(tag_file_search(filter, found, 8), 1);
  EXPECT_EQ(tag_file_get_identifier(found[0]), make_tag("m001"));
  EXPECT_EQ(tag_file_search(tag_file_filter_any(), found, 1), 1);

  EXPECT_EQ(tag_file_count(kMesh), 2);
  EXPECT_EQ(tag_file_get_identifier(tag_file_nth(kMesh, 0)), make_tag("m001"));
  EXPECT_EQ(tag_file_get_identifier(tag_file_nth(kMesh, 1)), make_tag("m002"));
  EXPECT_EQ(tag_file_nth(kMesh, 2), NONE);
  EXPECT_EQ(tag_file_count(make_tag("none")), 0);
}

// ---- names and identifiers ----

TEST_F(TagStoreTest, NameRule) {
  char name[64] = "a:b?c. . ";
  EXPECT_TRUE(sanitize_tag_name(name));
  EXPECT_STREQ(name, "a_b_c");
  std::strcpy(name, "plain name..  ");
  EXPECT_FALSE(sanitize_tag_name(name));
  EXPECT_STREQ(name, "plain name");
  std::strcpy(name, "0123456789012345678901234567890123456789");
  EXPECT_TRUE(sanitize_tag_name(name));
  EXPECT_EQ(std::strlen(name), 31u);
  std::strcpy(name, "\\/|\"<>*?:");
  EXPECT_TRUE(sanitize_tag_name(name));
  EXPECT_STREQ(name, "_________");
}

TEST_F(TagStoreTest, CreateSanitisesTheName) {
  ASSERT_TRUE(open_store());
  int32_t created = tag_file_create(kMesh, "new:map? . .", 4);
  ASSERT_NE(created, NONE);
  EXPECT_STREQ(tag_file_get_name(created), "new_map_");
  EXPECT_TRUE(std::filesystem::exists("local/meshes/new_map_"));
  EXPECT_EQ(tag_file_get_version(created), 4);
  EXPECT_EQ(tag_file_get_size(created), 0);
  EXPECT_EQ(tag_file_create(kMesh, " . ", 1), NONE);
  EXPECT_EQ(tag_file_create(make_tag("????"), "unknown group", 1), NONE);

  // Groups flagged for the working folder keep their folder there.
  ASSERT_NE(tag_file_create(kPreferences, "editor", 1), NONE);
  EXPECT_TRUE(std::filesystem::exists("preferences/editor"));

  // The created file is a sound local tag: it loads again with the same fields.
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  int32_t reloaded = tag_file_find(kMesh, tag_file_get_identifier(created));
  ASSERT_NE(reloaded, NONE);
  EXPECT_STREQ(tag_file_get_name(reloaded), "new_map_");
  EXPECT_EQ(tag_file_get_install_class(reloaded), 0);
}

// A local folder removed while the program runs is made again when the store is reopened, so new
// local tags can still be written.
TEST_F(TagStoreTest, ReopeningMakesTheStoreFoldersAgain) {
  ASSERT_TRUE(open_store());
  std::filesystem::remove_all("local");
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_TRUE(std::filesystem::is_directory("local"));
  EXPECT_NE(tag_file_create(kMesh, "after", 1), NONE);
  EXPECT_TRUE(std::filesystem::exists("local/meshes/after"));
}

TEST_F(TagStoreTest, LocalFilesAreLoadedOnlyWhenTheirNameAndHeaderAreSound) {
  std::vector<uint8_t> bytes;
  auto put = [&](const std::string& file_name, tag group, tag identifier, const char* folder_name) {
    ASSERT_TRUE(archive_writer_build_local_tag(tag_entry(group, identifier, "placeholder", "data"), &bytes));
    ASSERT_TRUE(folder.write_file(std::string(folder_name) + "/" + file_name, std::string(bytes.begin(), bytes.end())));
  };
  put("good", kMesh, make_tag("good"), "local/meshes");
  put("dotted..", kMesh, make_tag("dots"), "local/meshes");
  put("bad?name", kMesh, make_tag("badn"), "local/meshes");
  put("0123456789012345678901234567890123456789", kMesh, make_tag("long"), "local/meshes");
  put("wrong group", kScenery, make_tag("wron"), "local/meshes");
  put("nested", kMesh, make_tag("nest"), "local/meshes/sub");
  ASSERT_TRUE(folder.write_file("local/meshes/short", "tiny"));
  std::string corrupt(bytes.begin(), bytes.end());
  corrupt[3] = 1;  // reserved byte
  ASSERT_TRUE(folder.write_file("local/meshes/reserved", corrupt));
  ASSERT_TRUE(open_store());

  EXPECT_EQ(read_tag(kMesh, make_tag("good")), "data");
  int32_t dotted = tag_file_find(kMesh, make_tag("dots"));
  ASSERT_NE(dotted, NONE);
  EXPECT_STREQ(tag_file_get_name(dotted), "dotted");
  EXPECT_EQ(read_all(dotted), "data");  // the file keeps its own name
  EXPECT_EQ(tag_file_count(kMesh), 2);
  EXPECT_EQ(tag_file_count(kScenery), 0);
  EXPECT_EQ(error_pending_code(), error_none);
}

TEST_F(TagStoreTest, CreateReusesTheIdentifierOfATagWithTheSameName) {
  write_install(0, {tag_entry(kMesh, make_tag("shrd"), "Shared", "archived")});
  ASSERT_TRUE(open_store());
  int32_t archived = tag_file_find(kMesh, make_tag("shrd"));

  int32_t first = tag_file_create(kMesh, "shared", 2);
  ASSERT_NE(first, NONE);
  EXPECT_EQ(tag_file_get_identifier(first), make_tag("shrd"));
  EXPECT_EQ(tag_file_find(kMesh, make_tag("shrd")), first);
  EXPECT_TRUE(tag_file_is_hidden(archived));
  ASSERT_TRUE(tag_file_write(&first, 0, 5, "hello"));

  // Again: the local file is replaced whole by an empty one (never deleted first), and only one
  // local tag remains.
  int32_t second = tag_file_create(kMesh, "shared", 2);
  ASSERT_NE(second, NONE);
  EXPECT_EQ(tag_file_get_identifier(second), make_tag("shrd"));
  EXPECT_EQ(second, first);
  EXPECT_EQ(tag_file_get_size(second), 0);
  EXPECT_EQ(std::filesystem::file_size("local/meshes/shared"), 64u);
  tag_file_filter filter = tag_file_filter_any();
  std::strcpy(filter.name, "shared");
  EXPECT_EQ(tag_file_search(filter, nullptr, 10), 1);

  ASSERT_TRUE(tag_file_delete(second));
  EXPECT_EQ(tag_file_find(kMesh, make_tag("shrd")), archived);
}

TEST_F(TagStoreTest, CreateLooksOnlyAmongVisibleTags) {
  // The archive's "foo" is hidden by the local "bar" of the same identifier.
  write_install(0, {tag_entry(kMesh, make_tag("same"), "foo", "archived foo")});
  write_local(tag_entry(kMesh, make_tag("same"), "bar", "local bar"));
  ASSERT_TRUE(open_store());
  const int32_t bar = tag_file_find(kMesh, make_tag("same"));
  ASSERT_EQ(std::string(tag_file_get_name(bar)), "bar");

  // A new "foo" gets an identifier of its own: the hidden tag's belongs to "bar".
  const int32_t foo = tag_file_create(kMesh, "foo", 1);
  ASSERT_NE(foo, NONE);
  EXPECT_NE(tag_file_get_identifier(foo), make_tag("same"));
  EXPECT_EQ(tag_file_find(kMesh, make_tag("same")), bar);
  EXPECT_FALSE(tag_file_is_hidden(bar));
  EXPECT_EQ(tag_file_count(kMesh), 2);
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(read_tag(kMesh, make_tag("same")), "local bar");
}

TEST_F(TagStoreTest, CreateDerivesAFreeIdentifierFromTheName) {
  write_install(0, {tag_entry(kMesh, make_tag("nema"), "other", "x")});
  ASSERT_TRUE(open_store());
  int32_t created = tag_file_create(kMesh, "new map", 1);
  ASSERT_NE(created, NONE);
  EXPECT_EQ(tag_file_get_identifier(created), make_tag("nemb"));
  int32_t single = tag_file_create(kMesh, "ab", 1);
  EXPECT_EQ(tag_file_get_identifier(single), make_tag("ab  "));
  // An identifier used in another group does not count.
  EXPECT_EQ(tag_file_get_identifier(tag_file_create(kScenery, "new map", 1)), make_tag("nema"));
}

TEST_F(TagStoreTest, RenumberedGroupsGetUniqueIdentifiersOnLoading) {
  write_local(tag_entry(make_tag("save"), make_tag("sav0"), "first", "1"));
  write_local(tag_entry(make_tag("save"), make_tag("sav0"), "second", "2"));
  write_local(tag_entry(kMesh, make_tag("same"), "first", "1"));
  write_local(tag_entry(kMesh, make_tag("same"), "second", "2"));
  ASSERT_TRUE(open_store());
  EXPECT_EQ(tag_file_count(make_tag("save")), 2);
  EXPECT_NE(tag_file_find(make_tag("save"), make_tag("sav1")), NONE);
  // Other groups keep identifiers as stored: the later local tag wins.
  EXPECT_EQ(tag_file_count(kMesh), 1);
  EXPECT_EQ(read_tag(kMesh, make_tag("same")), "2");
}

TEST_F(TagStoreTest, RestrictedModeTakesOnlySomeLocalGroups) {
  write_local(tag_entry(kMesh, kAlpha, "alpha", "map"));
  write_local(tag_entry(kStringList, kAlpha, "alpha", "text"));
  ASSERT_TRUE(tag_files_initialize());
  ASSERT_TRUE(tag_files_open(true, {}, NONE));
  EXPECT_EQ(tag_file_find(kMesh, kAlpha), NONE);
  EXPECT_EQ(read_tag(kStringList, kAlpha), "text");
}

// ---- read-ahead ----

TEST_F(TagStoreTest, ReadAheadReturnsTheSameBytesAsDirectReads) {
  std::mt19937 random(1234);
  auto noise = [&](size_t size) {
    std::string data(size, '\0');
    for (char& c : data) c = char(random());
    return data;
  };
  write_install(0, {tag_entry(kMesh, make_tag("big1"), "big one", noise(70000)),
                    tag_entry(kMesh, make_tag("tiny"), "tiny", noise(10))});
  write_install(1, {tag_entry(kMesh, make_tag("big2"), "big two", noise(40000))});
  ASSERT_TRUE(open_store());
  int32_t tags[] = {tag_file_find(kMesh, make_tag("big1")), tag_file_find(kMesh, make_tag("tiny")),
                    tag_file_find(kMesh, make_tag("big2"))};

  auto same = [&](int32_t tag_index, int32_t offset, int32_t size) {
    std::string direct(size_t(size), '\0'), ahead(size_t(size), '\1');
    EXPECT_TRUE(tag_file_read(tag_index, offset, size, direct.data()));
    EXPECT_TRUE(tag_file_read_ahead(tag_index, offset, size, ahead.data()));
    return direct == ahead;
  };
  // Across the end of the window: the buffer was loaded at the tag's offset 0.
  EXPECT_TRUE(same(tags[0], 0, 100));
  EXPECT_TRUE(same(tags[0], 16300, 200));
  EXPECT_TRUE(same(tags[0], 16300, 16384));
  EXPECT_TRUE(same(tags[0], 100, 16384));
  EXPECT_TRUE(same(tags[0], 0, 20000));  // larger than a window
  EXPECT_TRUE(same(tags[0], 69990, 10)); // up to the end of the tag
  for (int i = 0; i < 3000; ++i) {
    int32_t tag_index = tags[random() % 3];
    int32_t size = tag_file_get_size(tag_index);
    int32_t offset = int32_t(random() % uint32_t(size + 1));
    int32_t length = int32_t(random() % uint32_t(std::min(size - offset, 20000) + 1));
    ASSERT_TRUE(same(tag_index, offset, length)) << "tag " << i << " offset " << offset << " size " << length;
  }
  // Beyond the tag's data nothing is read, from either path.
  char byte[2];
  EXPECT_FALSE(tag_file_read(tags[1], 9, 2, byte));
  EXPECT_FALSE(tag_file_read_ahead(tags[1], 9, 2, byte));
  EXPECT_FALSE(tag_file_read(tags[1], -1, 1, byte));
}

// An archive cut short behind the store's back: a read that fails says so, through either path.
TEST_F(TagStoreTest, ReadAheadReportsAFailedReadAsAFailure) {
  write_install(0, {tag_entry(kMesh, make_tag("big1"), "big one", std::string(70000, 'b'))});
  ASSERT_TRUE(open_store());
  int32_t tag_index = tag_file_find(kMesh, make_tag("big1"));
  ASSERT_NE(tag_index, NONE);
  std::filesystem::resize_file("tags/small install", 1000);

  std::string buffer(20000, '\0');
  EXPECT_FALSE(tag_file_read_ahead(tag_index, 0, 100, buffer.data()));      // through the window
  EXPECT_FALSE(tag_file_read_ahead(tag_index, 0, 20000, buffer.data()));    // larger than a window
  EXPECT_FALSE(tag_file_read_ahead(tag_index, 60000, 100, buffer.data()));
  EXPECT_THAT(reports(), HasSubstr("file_read_from_position() failed in tag_file_read_ahead()"));
  EXPECT_THAT(reports(), HasSubstr("file_read_from_position() failed in tag_file_read()"));
  EXPECT_EQ(error_pending_code(), error_warning);
}

// ---- damaged archives ----

TEST_F(TagStoreTest, ArchivesWithBadCountsOrLengthsAreSkippedSilently) {
  std::vector<uint8_t> good = archive_bytes(archive_of(_tag_file_install_archive, {tag_entry(kMesh, kAlpha, "alpha", "x")}));
  auto as_text = [](const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); };

  std::vector<uint8_t> many = good;
  many[102] = 0x27;  // 10000 tags
  many[103] = 0x10;
  ASSERT_TRUE(folder.write_file("tags/small install", as_text(many)));
  std::vector<uint8_t> longer = good;
  longer.push_back(0);  // real length differs from the stored size
  ASSERT_TRUE(folder.write_file("tags/medium install", as_text(longer)));
  std::vector<uint8_t> negative = good;
  negative[100] = 0xFF;  // -1 entry points
  negative[101] = 0xFF;
  ASSERT_TRUE(folder.write_file("tags/large install", as_text(negative)));
  std::vector<uint8_t> plugin = good;
  plugin[1] = _tag_file_plugin;  // the wrong type where an install archive is needed
  ASSERT_TRUE(folder.write_file("tags/international small install", as_text(plugin)));
  ASSERT_TRUE(folder.write_file("plugins/.DS_Store", std::string(4096, 'x')));
  ASSERT_TRUE(open_store());

  EXPECT_EQ(tag_file_find(kMesh, kAlpha), NONE);
  EXPECT_EQ(tag_file_plugin_count(), 0);
  EXPECT_EQ(error_pending_code(), error_none);
  EXPECT_EQ(reports(), "");
}

TEST_F(TagStoreTest, AnArchiveWithAnInvalidTagContributesNothing) {
  std::vector<uint8_t> bytes = archive_bytes(archive_of(
      _tag_file_install_archive, {tag_entry(kMesh, kAlpha, "alpha", "fine"), tag_entry(kMesh, make_tag("beta"), "beta", "ok")}));
  // The second tag's size now runs past the end of the file.
  const size_t size_field = 128 + 64 + 48;
  bytes[size_field + 2] = 0x10;
  ASSERT_TRUE(folder.write_file("tags/small install", std::string(bytes.begin(), bytes.end())));
  ASSERT_TRUE(open_store());

  EXPECT_EQ(tag_file_find(kMesh, kAlpha), NONE);
  EXPECT_EQ(tag_file_find(kMesh, make_tag("beta")), NONE);
  EXPECT_FALSE(foundation_tags_present());
  EXPECT_THAT(reports(), HasSubstr("Error: Data Corrupted in tag_files, line #"));  // the module, not its file
  EXPECT_THAT(reports(), HasSubstr("found an invalid tag in the monolithic file 'tags\\small install'"));
}

TEST_F(TagStoreTest, ArchivesWithBadTagNamesOrOffsetsAreRejected) {
  auto bytes_with = [&](size_t at, std::initializer_list<uint8_t> values) {
    std::vector<uint8_t> bytes = archive_bytes(archive_of(_tag_file_install_archive, {tag_entry(kMesh, kAlpha, "alpha", "x")}));
    std::copy(values.begin(), values.end(), bytes.begin() + std::ptrdiff_t(at));
    return std::string(bytes.begin(), bytes.end());
  };
  ASSERT_TRUE(folder.write_file("tags/small install", bytes_with(128 + 4, {'a', ':'})));        // name changes
  ASSERT_TRUE(folder.write_file("tags/medium install", bytes_with(128 + 44, {0, 0, 0, 100})));  // data in the tables
  ASSERT_TRUE(folder.write_file("tags/large install", bytes_with(128 + 60, {'t', 'r', 'n', '3'})));
  ASSERT_TRUE(open_store());
  EXPECT_EQ(tag_file_find(kMesh, kAlpha), NONE);
  std::string text = reports();
  for (const char* name : {"small install", "medium install", "large install"}) {
    EXPECT_THAT(text, HasSubstr(std::string("found an invalid tag in the monolithic file 'tags\\") + name + "'"));
  }
}

// Dropping trailing dots and blanks is no change of the name: the tag loads under the shorter name.
TEST_F(TagStoreTest, ArchiveTagNamesLoseTrailingDotsAndBlanks) {
  std::vector<uint8_t> bytes = archive_bytes(archive_of(_tag_file_install_archive, {tag_entry(kMesh, kAlpha, "alpha", "x")}));
  const uint8_t tail[] = {'.', ' ', '.'};
  std::copy(std::begin(tail), std::end(tail), bytes.begin() + 128 + 4 + 5);
  ASSERT_TRUE(folder.write_file("tags/small install", std::string(bytes.begin(), bytes.end())));
  ASSERT_TRUE(open_store());

  int32_t tag_index = tag_file_find(kMesh, kAlpha);
  ASSERT_NE(tag_index, NONE);
  EXPECT_STREQ(tag_file_get_name(tag_index), "alpha");
  tag_file_filter filter = tag_file_filter_any();
  std::strcpy(filter.name, "alpha");
  EXPECT_EQ(tag_file_search(filter, nullptr, 4), 1);
  // Its local copy is the file "alpha", which loads again as the same tag.
  ASSERT_TRUE(tag_file_copy_to_local(&tag_index));
  EXPECT_TRUE(std::filesystem::exists("local/meshes/alpha"));
  EXPECT_EQ(error_pending_code(), error_none);
}

TEST_F(TagStoreTest, TruncatedArchivesNeverCrashOrContribute) {
  std::vector<uint8_t> good = archive_bytes(archive_of(
      _tag_file_install_archive, {tag_entry(kMesh, kAlpha, "alpha", "some data"), tag_entry(kMesh, make_tag("beta"), "beta", "more")}));
  ASSERT_TRUE(tag_files_initialize());
  for (size_t length = 0; length < good.size(); ++length) {
    ASSERT_TRUE(folder.write_file("tags/small install", std::string(good.begin(), good.begin() + std::ptrdiff_t(length))));
    ASSERT_TRUE(tag_files_open(false, {}, NONE));
    ASSERT_EQ(tag_file_find(kMesh, kAlpha), NONE) << length;
  }
  // The whole file loads: the cuts above are what kept it out.
  ASSERT_TRUE(folder.write_file("tags/small install", std::string(good.begin(), good.end())));
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "some data");
}

TEST_F(TagStoreTest, PluginWithABadFileNameIsRefused) {
  write_archive("plugins", "odd|name.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "x")}));
  ASSERT_TRUE(tag_files_initialize());
  EXPECT_EQ(tag_file_plugin_count(), 0);
  EXPECT_THAT(reports(), HasSubstr("the monolithic file 'plugins\\odd|name.plg' has a bad name"));
}

// ---- patches ----

TEST_F(TagStoreTest, PatchesLoadLevelByLevelAndAGapFails) {
  write_install(0, {tag_entry(kMesh, kAlpha, "alpha", "install")});
  write_archive("plugins", "patch2.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "level 2")}, 2));
  write_archive("plugins", "patch4.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "level 4")}, 4));
  ASSERT_TRUE(tag_files_initialize());
  EXPECT_EQ(tag_file_latest_patch_level(), 2);

  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "level 2");
  EXPECT_THAT(reports(), HasSubstr("Loading Patch Files...\n  patch2.plg\nLoading Patch Files Succeeded\n"));

  EXPECT_FALSE(tag_files_open(false, {}, 3));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "install");
  EXPECT_FALSE(tag_files_open(false, {}, 4));

  // Levels 0 and 1 load no patches at all.
  ASSERT_TRUE(tag_files_open(false, {}, 1));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "install");
}

TEST_F(TagStoreTest, PatchesAreLoggedOnlyWhenTheLevelChanges) {
  write_archive("plugins", "a.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, make_tag("p2a "), "a", "a")}, 2));
  write_archive("plugins", "b.plg", archive_of(_tag_file_plugin, {tag_entry(kMesh, make_tag("p3  "), "b", "b")}, 3));
  // Discovery already loads the latest level once, so opening at that level logs nothing more.
  ASSERT_TRUE(tag_files_initialize());
  const std::string expected = "Loading Patch Files...\n  a.plg\n  b.plg\nLoading Patch Files Succeeded\n";
  EXPECT_EQ(reports(), expected);
  EXPECT_NE(tag_file_find(kMesh, make_tag("p3  ")), NONE);
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(reports(), expected);
  EXPECT_NE(tag_file_find(kMesh, make_tag("p3  ")), NONE);
  // Another level is announced again.
  ASSERT_TRUE(tag_files_open(false, {}, 2));
  EXPECT_EQ(reports(), expected + "Loading Patch Files...\n  a.plg\nLoading Patch Files Succeeded\n");
  EXPECT_EQ(tag_file_find(kMesh, make_tag("p3  ")), NONE);
}

// ---- single-instance lock ----

TEST_F(TagStoreTest, TheLockIsHeldAgainstASecondProcess) {
  ASSERT_TRUE(tag_files_initialize());
  int ready[2], result[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(result), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A second copy: waits until the parent holds the lock, then tries for it.
    char go;
    if (read(ready[0], &go, 1) != 1) _exit(2);
    char answer = tag_files_lock_instance() ? 'y' : 'n';
    if (write(result[1], &answer, 1) != 1) _exit(2);
    _exit(0);
  }
  ASSERT_TRUE(tag_files_lock_instance());
  EXPECT_TRUE(std::filesystem::exists("local/tarn2"));
  ASSERT_EQ(write(ready[1], "g", 1), 1);
  char answer = '?';
  ASSERT_EQ(read(result[0], &answer, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(answer, 'n');
  EXPECT_TRUE(std::filesystem::exists("local/tarn2"));
}

// ---- entry points and required plugins ----

TEST_F(TagStoreTest, EntryPointsComeFromArchivesPluginsAndMeshTags) {
  archive_writer_archive install = archive_of(_tag_file_install_archive, {});
  install.entry_points.push_back({make_tag("map1"), 5, "First Map", "The first map."});
  write_archive("tags", install_archive_names[0], install);
  archive_writer_archive plugin = archive_of(_tag_file_plugin, {}, 0);
  plugin.entry_points.push_back({make_tag("map2"), 9, "Plugin Map", "From a plugin."});
  write_archive("plugins", "maps.plg", plugin);

  // A local map whose header names a string list; another whose string list is missing.
  std::string header(200, '\0');
  header[140] = 'd', header[141] = 'e', header[142] = 's', header[143] = 'c';
  write_local(tag_entry(kMesh, make_tag("loc1"), "Local Map", header, 0x42));
  write_local(tag_entry(kStringList, make_tag("desc"), "descriptions", "A hilly place\r\nsecond line"));
  write_local(tag_entry(kMesh, make_tag("loc2"), "Bare Map", "short"));
  ASSERT_TRUE(open_store());

  ASSERT_EQ(tag_file_entry_point_count(), 4);
  const tag_file_entry_point_record* from_plugin = tag_file_entry_point_nth(0);
  EXPECT_STREQ(from_plugin->name, "Plugin Map");
  EXPECT_EQ(from_plugin->plugin_index, plugin_named("maps.plg"));
  EXPECT_EQ(from_plugin->flags, 9u);
  const tag_file_entry_point_record* from_install = tag_file_entry_point_nth(1);
  EXPECT_STREQ(from_install->name, "First Map");
  EXPECT_STREQ(from_install->description, "The first map.");
  EXPECT_EQ(from_install->plugin_index, NONE);
  EXPECT_EQ(from_install->sort_key, 0);
  EXPECT_EQ(from_install->mesh_tag, make_tag("map1"));

  // Local tags load in file-name order.
  EXPECT_STREQ(tag_file_entry_point_nth(2)->description, "Bare Map");
  const tag_file_entry_point_record* local = tag_file_entry_point_nth(3);
  EXPECT_STREQ(local->name, "Local Map");
  EXPECT_STREQ(local->description, "A hilly place");
  EXPECT_EQ(local->flags, 0x42u);
  EXPECT_EQ(local->from_tag_table, 1);
  EXPECT_EQ(local->sort_key, ENTRY_POINT_SORT_KEY_TAG_TABLE);
  EXPECT_EQ(tag_file_entry_point_nth(4), nullptr);

  // Only the first opening after start-up adds them.
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(tag_file_entry_point_count(), 4);
}

std::vector<uint8_t> required_list(std::initializer_list<std::tuple<uint32_t, std::string, std::string>> entries) {
  std::vector<uint8_t> bytes = {0, uint8_t(entries.size())};
  for (const auto& [checksum, name, address] : entries) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(checksum >> shift));
    bytes.insert(bytes.end(), name.begin(), name.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), address.begin(), address.end());
    bytes.push_back(0);
  }
  return bytes;
}

TEST_F(TagStoreTest, RequiredPluginsResolveByChecksumAndName) {
  archive_writer_archive plugin = archive_of(_tag_file_plugin, {tag_entry(kMesh, kAlpha, "alpha", "x")});
  plugin.checksum = 0x12345678;
  write_archive("plugins", "Extra.plg", plugin);
  ASSERT_TRUE(tag_files_initialize());
  int16_t extra = plugin_named("Extra.plg");

  int16_t indices[MAXIMUM_REQUIRED_PLUGINS];
  int16_t count = -1;
  std::string report;
  std::vector<uint8_t> found = required_list({{0x12345678, "extra.PLG", "example.org/extra"}});
  EXPECT_TRUE(resolve_required_plugins(found.data(), int32_t(found.size()), indices, &count, &report));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(indices[0], extra);
  EXPECT_EQ(report, "");

  std::vector<uint8_t> missing = required_list({{0x12345679, "Extra.plg", "example.org/extra"},
                                                {0x12345678, "Extra.plg", "example.org/extra"},
                                                {1, "gone.plg", "example.org/gone"}});
  EXPECT_FALSE(resolve_required_plugins(missing.data(), int32_t(missing.size()), indices, &count, &report));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(report, "Extra.plg - http://example.org/extra\rgone.plg - http://example.org/gone\r");

  // An entry that runs off the end of the list is reported as unknown.
  std::vector<uint8_t> cut = required_list({{1, "cut.plg", "example.org"}});
  cut.resize(cut.size() - 3);
  report.clear();
  EXPECT_FALSE(resolve_required_plugins(cut.data(), int32_t(cut.size()), indices, &count, &report));
  EXPECT_EQ(report, "cut.plg - http://<unknown>\r");

  std::vector<uint8_t> too_many = {0, 17};
  EXPECT_FALSE(resolve_required_plugins(too_many.data(), 2, indices, &count, nullptr));
  std::vector<uint8_t> empty = {0, 0};
  EXPECT_TRUE(resolve_required_plugins(empty.data(), 2, indices, &count, nullptr));
  EXPECT_EQ(count, 0);
  std::vector<uint8_t> oversized(513, 0);
  EXPECT_FALSE(resolve_required_plugins(oversized.data(), 513, indices, &count, nullptr));

  // The indices open the plugin.
  const int16_t list[] = {extra};
  ASSERT_TRUE(tag_files_open(false, list, NONE));
  EXPECT_EQ(read_tag(kMesh, kAlpha), "x");
}

}  // namespace
