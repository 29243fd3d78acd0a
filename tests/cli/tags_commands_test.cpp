// vellgrim-tool tags ...: run as a child process against stores built in a temporary folder.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/work_folder.h"
#include "tag_files/archive_writer.h"
#include "tag_files/tag_files.h"
#include "tag_files/tag_store_fixture.h"  // tag_entry, kMesh, kScenery
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

constexpr tag kUnit = make_tag("unit");

class TagsCommandsTest : public ::testing::Test {
 protected:
  scoped_work_folder work;
  std::string root = work.path() + "/root";

  TagsCommandsTest() { std::filesystem::create_directories(root); }

  // A local tag file (header and data) at folder/group_folder/name.
  void local_tag(const std::string& folder, const std::string& group_folder, const std::string& name, tag group,
                 tag identifier, const std::string& data, int16_t version = 1, uint32_t user_data = 0) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(archive_writer_build_local_tag(tag_entry(group, identifier, name, data, user_data, version), &bytes));
    ASSERT_TRUE(work.write_file(folder + "/" + group_folder + "/" + name, std::string(bytes.begin(), bytes.end())));
  }

  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(root, arguments); }

  json tool_json(const std::vector<std::string>& arguments) { return run_tool_json(root, arguments); }

  // Three tags in two source folders, packed into the first install archive of the store.
  void pack_install_archive() {
    local_tag("src", "meshes", "First Map", kMesh, make_tag("fmap"), std::string("map\0data", 8), 3, 7);
    local_tag("src", "scenery", "Rock", kScenery, make_tag("rock"), "stone");
    local_tag("more", "units", "Soldier", kUnit, make_tag("ab  "), "");
    tool_result packed = tool({"tags", "pack", "--type", "install", "--out", root + "/tags/small install",
                               work.path() + "/src", work.path() + "/more"});
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
  }
};

const json* find_by_name(const json& list, const std::string& name) {
  for (const json& entry : list)
    if (entry.value("name", "") == name) return &entry;
  return nullptr;
}

void expect_failure_line(const tool_result& result) {
  EXPECT_NE(result.exit_code, 0);
  EXPECT_TRUE(result.out.empty()) << result.out;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_EQ(result.err.rfind("vellgrim-tool: ", 0), 0u) << result.err;
}

TEST_F(TagsCommandsTest, ListAfterPackShowsEveryPackedTag) {
  pack_install_archive();
  json list = tool_json({"tags", "list", "--json"});
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 3u);

  const std::set<std::string> keys = {"group", "id",      "id_hex",        "name",   "version",
                                      "size",  "user_data", "install_class", "source", "index"};
  for (const json& entry : list) {
    std::set<std::string> present;
    for (const auto& item : entry.items()) present.insert(item.key());
    EXPECT_EQ(present, keys);
    EXPECT_EQ(entry["source"], "small install");
  }
  const json* map = find_by_name(list, "First Map");
  ASSERT_NE(map, nullptr);
  EXPECT_EQ((*map)["group"], "mesh");
  EXPECT_EQ((*map)["id"], "fmap");
  EXPECT_EQ((*map)["id_hex"], "0x666d6170");
  EXPECT_EQ((*map)["version"], 3);
  EXPECT_EQ((*map)["size"], 8);
  EXPECT_EQ((*map)["user_data"], 7);
  const json* soldier = find_by_name(list, "Soldier");
  ASSERT_NE(soldier, nullptr);
  EXPECT_EQ((*soldier)["size"], 0);

  json scenery = tool_json({"tags", "list", "--group", "scen", "--json"});
  ASSERT_EQ(scenery.size(), 1u);
  EXPECT_EQ(scenery[0]["name"], "Rock");
  EXPECT_EQ(scenery[0]["index"], (*find_by_name(list, "Rock"))["index"]);

  tool_result plain = tool({"tags", "list", "--group", "mesh"});
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_NE(plain.out.find("First Map"), std::string::npos);
  EXPECT_EQ(plain.out.find("Rock"), std::string::npos);

  // The packed map is offered from the archive's entry points.
  json maps = tool_json({"tags", "entry-points", "--json"});
  bool from_archive = false;
  for (const json& entry : maps)
    from_archive |= entry["id"] == "fmap" && entry["plugin_index"] == -1 && entry["from_tag_table"] == false &&
                    entry["name"] == "First Map" && entry["flags"] == 7;
  EXPECT_TRUE(from_archive) << maps.dump();
}

TEST_F(TagsCommandsTest, InfoAndCatFindTagsByTextOrHex) {
  pack_install_archive();
  json info = tool_json({"tags", "info", "mesh", "fmap", "--json"});
  EXPECT_EQ(info["name"], "First Map");
  EXPECT_EQ(info["source"], "small install");
  EXPECT_EQ(tool_json({"tags", "info", "0x6d657368", "0x666D6170", "--json"}), info);
  // Shorter text is padded with blanks, its characters taken as they are: the "id" of a listing
  // names the tag again.
  EXPECT_EQ(tool_json({"tags", "info", "unit", "ab", "--json"})["name"], "Soldier");
  expect_failure_line(tool({"tags", "info", "unit", "AB"}));
  local_tag("root/local", "units", "Captain", kUnit, make_tag("C-1 "), "");
  json captain = tool_json({"tags", "info", "unit", "C-1", "--json"});
  EXPECT_EQ(captain["name"], "Captain");
  EXPECT_EQ(captain["id"], "C-1 ");

  tool_result text = tool({"tags", "info", "scen", "rock"});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_NE(text.out.find("name: Rock\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("source: small install\n"), std::string::npos) << text.out;

  tool_result data = tool({"tags", "cat", "mesh", "fmap"});
  EXPECT_EQ(data.exit_code, 0);
  EXPECT_EQ(data.out, std::string("map\0data", 8));
  tool_result empty = tool({"tags", "cat", "unit", "0x61622020"});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.out, "");
}

TEST_F(TagsCommandsTest, LaterArchivesAndLocalTagsWinInTheListing) {
  pack_install_archive();
  local_tag("patch", "scenery", "Rock", kScenery, make_tag("rock"), "patched stone");
  tool_result packed = tool({"tags", "pack", "--type", "plugin", "--patch-level", "2", "--url", "example.org",
                             "--out", root + "/plugins/patch two", work.path() + "/patch"});
  ASSERT_EQ(packed.exit_code, 0) << packed.err;

  json plugins = tool_json({"tags", "plugins", "--json"});
  ASSERT_EQ(plugins.size(), 1u);
  EXPECT_EQ(plugins[0]["name"], "patch two");
  EXPECT_EQ(plugins[0]["web_address"], "example.org");
  EXPECT_EQ(plugins[0]["patch_level"], 2);
  EXPECT_EQ(plugins[0]["is_patch"], true);
  EXPECT_EQ(plugins[0]["has_entry_points"], false);

  json rock = tool_json({"tags", "info", "scen", "rock", "--json"});
  EXPECT_EQ(rock["source"], "patch two");
  EXPECT_EQ(rock["size"], 13);
  EXPECT_EQ(tool_json({"tags", "list", "--json"}).size(), 3u);

  local_tag("root/local", "scenery", "Rock", kScenery, make_tag("rock"), "mine");
  rock = tool_json({"tags", "info", "scen", "rock", "--json"});
  EXPECT_EQ(rock["source"], "local");
  EXPECT_EQ(rock["size"], 4);
}

TEST_F(TagsCommandsTest, BadArgumentsAndMissingTagsFailWithOneLine) {
  pack_install_archive();
  expect_failure_line(tool({"tags", "info", "meshes", "fmap"}));
  expect_failure_line(tool({"tags", "info", "mesh", "0xZZ"}));
  expect_failure_line(tool({"tags", "info", "mesh", "0x123456789"}));
  expect_failure_line(tool({"tags", "info", "mesh", "0x"}));
  expect_failure_line(tool({"tags", "cat", "mesh", "nope"}));
  expect_failure_line(tool({"tags", "list", "--group", ""}));
  expect_failure_line(tool({"tags", "info", "mesh"}));  // usage mistakes too
  expect_failure_line(tool({"tags", "pack", "--type", "archive", "--out", "x", work.path()}));
  tool_result missing_root = run_tool({"--root", work.path() + "/nowhere", "tags", "list"});
  expect_failure_line(missing_root);
}

TEST_F(TagsCommandsTest, PackRefusesFilesThatAreNotTagsAndDuplicates) {
  const std::string out = root + "/tags/small install";
  local_tag("one", "meshes", "Map", kMesh, make_tag("same"), "a");
  local_tag("two", "meshes", "Other Map", kMesh, make_tag("same"), "b");
  tool_result duplicate = tool({"tags", "pack", "--type", "install", "--out", out, work.path() + "/one",
                                work.path() + "/two"});
  expect_failure_line(duplicate);
  EXPECT_NE(duplicate.err.find("Other Map"), std::string::npos) << duplicate.err;

  local_tag("misfiled", "meshes", "Rock", kScenery, make_tag("rock"), "a");
  expect_failure_line(tool({"tags", "pack", "--type", "install", "--out", out, work.path() + "/misfiled"}));

  ASSERT_TRUE(work.write_file("junk/meshes/notes.txt", "not a tag at all, but long enough to hold a header........"));
  tool_result junk = tool({"tags", "pack", "--type", "install", "--out", out, work.path() + "/junk"});
  expect_failure_line(junk);
  EXPECT_NE(junk.err.find("notes.txt"), std::string::npos) << junk.err;

  EXPECT_TRUE(work.read_file("root/tags/small install").empty());
}

TEST_F(TagsCommandsTest, WritingCommandsRefuseWhileAnotherProgramHoldsTheLock) {
  root = work.path();
  local_tag("src", "scenery", "Rock", kScenery, make_tag("rock"), "stone");
  // This test process plays the other program.
  std::filesystem::create_directories(root + "/local");
  ASSERT_TRUE(tag_files_initialize());
  ASSERT_TRUE(tag_files_lock_instance());

  tool_result refused = tool({"tags", "pack", "--type", "install", "--out", root + "/tags/small install",
                              work.path() + "/src"});
  expect_failure_line(refused);
  EXPECT_NE(refused.err.find("another program is using the tag store"), std::string::npos) << refused.err;
  EXPECT_TRUE(work.read_file("tags/small install").empty());

  // Reading needs no lock.
  EXPECT_EQ(tool({"tags", "list", "--json"}).exit_code, 0);
}

TEST_F(TagsCommandsTest, ADamagedInstallArchiveIsSaidOnStandardErrorAndFailsTheListing) {
  ASSERT_NO_FATAL_FAILURE(pack_install_archive());
  local_tag("root/local", "scenery", "Local Rock", kScenery, make_tag("lrck"), "pebble");
  // One tag header's signature spoiled: the archive contributes nothing.
  std::string archive = work.read_file("root/tags/small install");
  const size_t signature = archive.find("trn2");  // the first tag header's
  ASSERT_NE(signature, std::string::npos);
  archive[signature] = 'x';
  ASSERT_TRUE(work.write_file("root/tags/small install", archive));

  tool_result listed = tool({"tags", "list"});
  EXPECT_NE(listed.exit_code, 0);
  EXPECT_NE(listed.out.find("Local Rock"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("First Map"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.err,
            "vellgrim-tool: the tag store in '" + root +
                "' is damaged and some of its tags are left out: found an invalid tag in the monolithic file "
                "'tags\\small install'\n");
}

}  // namespace
