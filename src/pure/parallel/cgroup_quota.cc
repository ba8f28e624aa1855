#include "pure/parallel/cgroup_quota.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "pure/parallel/thread_count.h"

namespace zembra::parallel {
namespace {

// Large enough for the mount table of a busy host; bigger files are ignored.
constexpr std::size_t kMaxFileSize = std::size_t{4} << 20;

std::optional<std::string> read_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
      ::close(fd);
      if (n == 0) return text;
      return std::nullopt;
    }
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(sep);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

bool contains_token(std::string_view list, std::string_view token) {
  for (std::string_view item : split(list, ','))
    if (item == token) return true;
  return false;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

// The mount table writes space, tab, newline and backslash as "\ooo".
std::string unescape_octal(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

enum class Hierarchy { kV1Cpu, kV2 };

struct Mount {
  Hierarchy hierarchy;
  std::string root;   // the group of the hierarchy that is mounted
  std::string point;  // where it is mounted, without a trailing "/"
};

std::vector<Mount> read_mounts(const CgroupSources& sources) {
  std::vector<Mount> mounts;
  const auto table = read_file(sources.mount_table);
  if (!table) {
    std::string point = sources.default_v2_mount;
    while (!point.empty() && point.back() == '/') point.pop_back();
    mounts.push_back({Hierarchy::kV2, "/", point});
    return mounts;
  }
  for (std::string_view line : split(*table, '\n')) {
    // id parent major:minor root point options [optional...] - fstype source super-options
    const auto fields = split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
    const std::string_view fstype = dash[1];
    const std::string_view super_options = dash[3];
    Hierarchy hierarchy;
    if (fstype == "cgroup2") {
      hierarchy = Hierarchy::kV2;
    } else if (fstype == "cgroup" && contains_token(super_options, "cpu")) {
      hierarchy = Hierarchy::kV1Cpu;
    } else {
      continue;
    }
    std::string point = unescape_octal(fields[4]);
    while (!point.empty() && point.back() == '/') point.pop_back();
    mounts.push_back({hierarchy, unescape_octal(fields[3]), std::move(point)});
  }
  return mounts;
}

// The group path below the mount's root, "" for the root itself; nullopt when
// the group is not visible through this mount or the path is not plain.
std::optional<std::string> relative_group(std::string_view group, std::string_view root) {
  while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
  if (root != "/") {
    if (group.substr(0, root.size()) != root) return std::nullopt;
    group.remove_prefix(root.size());
    if (!group.empty() && group.front() != '/') return std::nullopt;
  }
  while (!group.empty() && group.back() == '/') group.remove_suffix(1);
  if (!group.empty() && group.front() != '/') return std::nullopt;
  for (std::string_view part : split(group, '/'))
    if (part == "..") return std::nullopt;
  return std::string(group);
}

std::optional<std::uint64_t> read_quota(Hierarchy hierarchy, const std::string& dir) {
  if (hierarchy == Hierarchy::kV2) {
    const auto max = read_file(dir + "/cpu.max");
    if (!max) return std::nullopt;
    return parse_cpu_max(*max);
  }
  const auto quota = read_file(dir + "/cpu.cfs_quota_us");
  if (!quota) return std::nullopt;
  const auto period = read_file(dir + "/cpu.cfs_period_us");
  if (!period) return std::nullopt;
  return parse_cfs_quota(*quota, *period);
}

void take_smaller(std::optional<std::uint64_t>& best, std::optional<std::uint64_t> candidate) {
  if (candidate && (!best || *candidate < *best)) best = candidate;
}

// The smallest quota from the group up to the mount point.
std::optional<std::uint64_t> quota_up_the_tree(const Mount& mount, const std::string& relative) {
  std::optional<std::uint64_t> best;
  std::string dir = mount.point + relative;
  for (;;) {
    take_smaller(best, read_quota(mount.hierarchy, dir.empty() ? std::string("/") : dir));
    if (dir.size() <= mount.point.size()) return best;
    dir.resize(dir.rfind('/'));
  }
}

}  // namespace

std::optional<std::uint64_t> parse_cpu_max(std::string_view text) {
  const auto fields = split(trim(text), ' ');
  if (fields.size() != 2 || fields[0] == "max") return std::nullopt;
  const auto limit = parse_thread_setting(fields[0]);
  const auto period = parse_thread_setting(fields[1]);
  if (!limit || !period || *period == 0) return std::nullopt;
  return std::max<std::uint64_t>(1, *limit / *period);
}

std::optional<std::uint64_t> parse_cfs_quota(std::string_view quota_us, std::string_view period_us) {
  // "-1" (no limit) does not parse as unsigned and so imposes nothing.
  const auto limit = parse_thread_setting(trim(quota_us));
  const auto period = parse_thread_setting(trim(period_us));
  if (!limit || !period || *period == 0) return std::nullopt;
  return std::max<std::uint64_t>(1, *limit / *period);
}

std::optional<std::uint64_t> cgroup_cpu_quota(const CgroupSources& sources) {
  const auto list = read_file(sources.cgroup_list);
  if (!list) return std::nullopt;
  std::vector<Mount> mounts;
  bool mounts_read = false;
  std::optional<std::uint64_t> best;
  for (std::string_view line : split(*list, '\n')) {
    // id:controllers:path; the path itself may hold ':'.
    const std::size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    const std::size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view group = line.substr(second + 1);
    Hierarchy hierarchy;
    if (id == "0" && controllers.empty()) {
      hierarchy = Hierarchy::kV2;
    } else if (contains_token(controllers, "cpu")) {
      hierarchy = Hierarchy::kV1Cpu;
    } else {
      continue;
    }
    if (!mounts_read) {
      mounts = read_mounts(sources);
      mounts_read = true;
    }
    // The first mount through which the group is visible serves.
    for (const Mount& mount : mounts) {
      if (mount.hierarchy != hierarchy) continue;
      const auto relative = relative_group(group, mount.root);
      if (!relative) continue;
      take_smaller(best, quota_up_the_tree(mount, *relative));
      break;
    }
  }
  return best;
}

}  // namespace zembra::parallel
