// The CPU quota that control groups impose on this process.
//
// The process's group is read from the cgroup list file, the place where each
// hierarchy is mounted from the mount table; then the quota files of the group
// and of each ancestor up to the hierarchy's root are read. Both hierarchy
// versions are consulted and the smallest quota wins. Files that cannot be
// read or parsed are skipped. All paths come in through CgroupSources so
// tests can point the reader at a tree of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zembra::parallel {

struct CgroupSources {
  // Lines "id:controllers:/group/path" ("0::/path" for version 2).
  std::string cgroup_list = "/proc/self/cgroup";
  // The mount table, to find where each hierarchy is mounted.
  std::string mount_table = "/proc/self/mountinfo";
  // Where the version-2 hierarchy is assumed to be mounted when the mount
  // table cannot be read.
  std::string default_v2_mount = "/sys/fs/cgroup";
};

// Whole CPUs allowed (limit / period in integer division, at least 1), or
// nullopt when no readable file imposes a limit.
std::optional<std::uint64_t> cgroup_cpu_quota(const CgroupSources& sources);

// The quota one version-2 "cpu.max" text imposes ("max" imposes none).
std::optional<std::uint64_t> parse_cpu_max(std::string_view text);

// The quota the two version-1 texts impose (a negative quota imposes none).
std::optional<std::uint64_t> parse_cfs_quota(std::string_view quota_us, std::string_view period_us);

}  // namespace zembra::parallel
