// Sizing of the worker pool: the two environment settings and the
// control-group CPU quota read from a tree written for each case.
#include <sched.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "pure/parallel/cgroup_quota.h"
#include "pure/parallel/thread_count.h"

using namespace zembra::parallel;
namespace fs = std::filesystem;

namespace {

using Setting = std::optional<std::string_view>;

std::size_t eight_cpus() { return 8; }
std::size_t unknown_cpus() { return 0; }
std::size_t many_cpus() { return 200000; }

// A scratch folder holding the cgroup list, the mount table and the
// hierarchies; removed when the case ends.
class CgroupTree {
 public:
  CgroupTree() {
    char pattern[] = "/tmp/zb_cgroup_XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~CgroupTree() { fs::remove_all(root_); }

  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  void write(const std::string& relative, const std::string& text) const {
    const fs::path file = path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }

  CgroupSources sources() const {
    return {path("proc/cgroup"), path("proc/mountinfo"), path("fallback")};
  }

  // A mount-table line for a hierarchy mounted at `where` (inside the tree).
  std::string mount_line(const std::string& where, const std::string& fstype, const std::string& options,
                         const std::string& root = "/") const {
    return "40 31 0:38 " + root + " " + path(where) + " rw,relatime shared:9 - " + fstype + " " + fstype + " " +
           options + "\n";
  }

 private:
  std::string root_;
};

}  // namespace

TEST_CASE("thread settings parse as unsigned decimal integers only") {
  const struct {
    std::string_view text;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"4", 4},
      {"+4", 4},
      {"0", 0},
      {"0004", 4},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"abc", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {" 4", std::nullopt},
      {"4 ", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++4", std::nullopt},
      {"4x", std::nullopt},
      {"\xd9\xa4", std::nullopt},  // a non-ASCII digit
  };
  for (const auto& c : cases) CHECK_EQ(parse_thread_setting(c.text), c.value);
}

TEST_CASE("thread count: first setting, then second, then available parallelism") {
  const struct {
    Setting threads, cpus;
    std::size_t (*available)();
    std::size_t expected;
  } cases[] = {
      {"4", "2", eight_cpus, 4},
      {"+4", std::nullopt, eight_cpus, 4},
      {"0", "2", eight_cpus, 8},  // 0 selects the default; the second is not consulted
      {std::nullopt, "3", eight_cpus, 3},
      {"abc", "3", eight_cpus, 3},
      {"-1", "3", eight_cpus, 3},
      {" 4", "3", eight_cpus, 3},
      {"", "3", eight_cpus, 3},
      {std::nullopt, std::nullopt, eight_cpus, 8},
      {"abc", "-2", eight_cpus, 8},
      {std::nullopt, "0", eight_cpus, 8},
      {"100000", std::nullopt, eight_cpus, 65535},
      {std::nullopt, "18446744073709551615", eight_cpus, 65535},
      {std::nullopt, std::nullopt, unknown_cpus, 1},
      {std::nullopt, std::nullopt, many_cpus, 65535},
  };
  for (const auto& c : cases) CHECK_EQ(resolve_thread_count(c.threads, c.cpus, c.available), c.expected);
}

TEST_CASE("thread count from the process environment") {
  setenv("RAYON_NUM_THREADS", "+5", 1);
  setenv("RAYON_RS_NUM_CPUS", "2", 1);
  CHECK_EQ(thread_count_from_environment(), std::size_t{5});
  setenv("RAYON_NUM_THREADS", "five", 1);
  CHECK_EQ(thread_count_from_environment(), std::size_t{2});
  unsetenv("RAYON_NUM_THREADS");
  unsetenv("RAYON_RS_NUM_CPUS");
  const std::size_t available = available_parallelism();
  CHECK(available >= 1);
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) == 0) CHECK(available <= static_cast<std::size_t>(CPU_COUNT(&mask)));
  CHECK_EQ(thread_count_from_environment(), available);
}

TEST_CASE("quota file texts") {
  CHECK_EQ(parse_cpu_max("150000 100000\n"), std::optional<std::uint64_t>(1));
  CHECK_EQ(parse_cpu_max("800000 100000"), std::optional<std::uint64_t>(8));
  CHECK_EQ(parse_cpu_max("50000 100000"), std::optional<std::uint64_t>(1));
  CHECK_EQ(parse_cpu_max("max 100000\n"), std::nullopt);
  CHECK_EQ(parse_cpu_max("100000 0"), std::nullopt);
  CHECK_EQ(parse_cpu_max("100000"), std::nullopt);
  CHECK_EQ(parse_cpu_max(""), std::nullopt);
  CHECK_EQ(parse_cfs_quota("150000\n", "100000\n"), std::optional<std::uint64_t>(1));
  CHECK_EQ(parse_cfs_quota("250000", "100000"), std::optional<std::uint64_t>(2));
  CHECK_EQ(parse_cfs_quota("-1\n", "100000\n"), std::nullopt);
  CHECK_EQ(parse_cfs_quota("100000", "0"), std::nullopt);
}

TEST_CASE("control-group quota over written trees") {
  using Files = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* name;
    std::string cgroup_list;
    std::vector<std::string> mounts;  // {where, fstype, options, root}
    Files files;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"v1 integer division",
       "4:memory:/\n3:cpu,cpuacct:/job\n",
       {"v1", "cgroup", "rw,cpu,cpuacct", "/"},
       {{"v1/job/cpu.cfs_quota_us", "150000\n"}, {"v1/job/cpu.cfs_period_us", "100000\n"}},
       1},
      {"v2 integer division", "0::/job\n", {"v2", "cgroup2", "rw", "/"}, {{"v2/job/cpu.max", "150000 100000\n"}}, 1},
      {"v2 max imposes nothing", "0::/job\n", {"v2", "cgroup2", "rw", "/"}, {{"v2/job/cpu.max", "max 100000\n"}},
       std::nullopt},
      {"v2 nested groups take the smallest",
       "0::/a/b/c\n",
       {"v2", "cgroup2", "rw", "/"},
       {{"v2/a/b/c/cpu.max", "max 100000\n"},
        {"v2/a/b/cpu.max", "200000 100000\n"},
        {"v2/a/cpu.max", "600000 100000\n"}},
       2},
      {"v1 nested, leaf unlimited",
       "2:cpuacct,cpu:/a/b\n",
       {"v1", "cgroup", "rw,cpuacct,cpu", "/"},
       {{"v1/a/b/cpu.cfs_quota_us", "-1\n"},
        {"v1/a/b/cpu.cfs_period_us", "100000\n"},
        {"v1/a/cpu.cfs_quota_us", "300000\n"},
        {"v1/a/cpu.cfs_period_us", "100000\n"}},
       3},
      {"unreadable files are skipped",
       "0::/a/b\n",
       {"v2", "cgroup2", "rw", "/"},
       {{"v2/a/b/cpu.max", "garbage\n"}, {"v2/cpu.max", "400000 100000\n"}},
       4},
      {"a v1 quota without its period is skipped",
       "3:cpu:/a\n",
       {"v1", "cgroup", "rw,cpu", "/"},
       {{"v1/a/cpu.cfs_quota_us", "100000\n"}},
       std::nullopt},
      {"hybrid hierarchy: the v1 cpu controller speaks",
       "3:cpu:/job\n0::/job\n",
       {"v1", "cgroup", "rw,cpu", "/", "unified", "cgroup2", "rw", "/"},
       {{"v1/job/cpu.cfs_quota_us", "500000\n"}, {"v1/job/cpu.cfs_period_us", "100000\n"}},
       5},
      {"both versions limit: the smaller wins",
       "3:cpu:/job\n0::/job\n",
       {"v1", "cgroup", "rw,cpu", "/", "unified", "cgroup2", "rw", "/"},
       {{"v1/job/cpu.cfs_quota_us", "500000\n"},
        {"v1/job/cpu.cfs_period_us", "100000\n"},
        {"unified/job/cpu.max", "300000 100000\n"}},
       3},
      {"mount root inside the hierarchy",
       "0::/docker/abc/inner\n",
       {"v2", "cgroup2", "rw", "/docker/abc"},
       {{"v2/inner/cpu.max", "700000 100000\n"}, {"v2/cpu.max", "900000 100000\n"}},
       7},
      {"group outside the mounted part",
       "0::/other\n",
       {"v2", "cgroup2", "rw", "/docker/abc"},
       {{"v2/cpu.max", "100000 100000\n"}},
       std::nullopt},
      {"escaped mount point",
       "0::/\n",
       {"with\\040space", "cgroup2", "rw", "/"},
       {{"with space/cpu.max", "200000 100000\n"}},
       2},
      {"parent references are refused",
       "0::/a/../b\n",
       {"v2", "cgroup2", "rw", "/"},
       {{"v2/b/cpu.max", "100000 100000\n"}, {"v2/a/cpu.max", "100000 100000\n"}},
       std::nullopt},
      {"v1 controller not named cpu is ignored",
       "3:cpuacct:/job\n",
       {"v1", "cgroup", "rw,cpuacct", "/"},
       {{"v1/job/cpu.cfs_quota_us", "100000\n"}, {"v1/job/cpu.cfs_period_us", "100000\n"}},
       std::nullopt},
  };
  for (const Case& c : cases) {
    CgroupTree tree;
    tree.write("proc/cgroup", c.cgroup_list);
    std::string table = "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n";
    for (std::size_t i = 0; i + 3 < c.mounts.size(); i += 4)
      table += tree.mount_line(c.mounts[i], c.mounts[i + 1], c.mounts[i + 2], c.mounts[i + 3]);
    tree.write("proc/mountinfo", table);
    for (const auto& [file, text] : c.files) tree.write(file, text);
    const auto quota = cgroup_cpu_quota(tree.sources());
    if (quota != c.expected) std::printf("  case: %s\n", c.name);
    CHECK_EQ(quota, c.expected);
  }
}

TEST_CASE("control-group quota without its source files") {
  CgroupTree tree;
  CHECK_EQ(cgroup_cpu_quota(tree.sources()), std::nullopt);  // no cgroup list
  // No mount table: the version-2 hierarchy is looked for at the fallback.
  tree.write("proc/cgroup", "0::/job\n");
  tree.write("fallback/job/cpu.max", "250000 100000\n");
  CHECK_EQ(cgroup_cpu_quota(tree.sources()), std::optional<std::uint64_t>(2));
}

ZB_TEST_MAIN()
