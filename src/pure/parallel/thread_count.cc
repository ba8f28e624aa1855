#include "pure/parallel/thread_count.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "pure/parallel/cgroup_quota.h"

namespace zembra::parallel {

std::optional<std::uint64_t> parse_thread_setting(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::size_t resolve_thread_count(std::optional<std::string_view> threads_setting,
                                 std::optional<std::string_view> cpus_setting,
                                 std::size_t (*available)()) {
  std::optional<std::uint64_t> chosen;
  if (threads_setting) chosen = parse_thread_setting(*threads_setting);
  // Only an unset or unparsable first setting lets the second one speak.
  if (!chosen && cpus_setting) chosen = parse_thread_setting(*cpus_setting);
  std::uint64_t count = chosen.value_or(0);
  if (count == 0) count = available ? available() : 0;
  if (count == 0) count = 1;
  return static_cast<std::size_t>(std::min<std::uint64_t>(count, kMaxThreads));
}

std::size_t available_parallelism() {
  std::size_t cpus = 0;
  cpu_set_t mask;  // CPU_SETSIZE (1024) CPUs
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) == 0) cpus = static_cast<std::size_t>(CPU_COUNT(&mask));
  if (cpus == 0) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) cpus = static_cast<std::size_t>(online);
  }
  if (cpus == 0) return 0;
  if (const auto quota = cgroup_cpu_quota(CgroupSources{})) cpus = std::min<std::uint64_t>(cpus, *quota);
  return cpus;
}

std::size_t thread_count_from_environment() {
  // getenv is only read here, once, while the pool is being created.
  auto setting = [](std::string_view name) -> std::optional<std::string_view> {
    const char* value = std::getenv(std::string(name).c_str());
    if (!value) return std::nullopt;
    return std::string_view(value);
  };
  return resolve_thread_count(setting(kThreadsVariable), setting(kCpusVariable), &available_parallelism);
}

}  // namespace zembra::parallel
