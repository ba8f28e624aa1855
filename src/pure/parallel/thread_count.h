// How many worker threads the process-wide pool gets.
//
// Two environment variables may fix the count; otherwise it is the number of
// CPUs the process may use, limited by its control-group CPU quota. The parts
// are pure functions so that every rule can be tested without touching the
// real environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zembra::parallel {

inline constexpr std::string_view kThreadsVariable = "RAYON_NUM_THREADS";
inline constexpr std::string_view kCpusVariable = "RAYON_RS_NUM_CPUS";
inline constexpr std::size_t kMaxThreads = 65535;

// One or more ASCII digits with an optional leading "+", nothing else, at most
// the largest 64-bit unsigned value. Anything else (a "-" sign, spaces, an
// empty text, overflow) is nullopt.
std::optional<std::uint64_t> parse_thread_setting(std::string_view text) noexcept;

// Returns the capped thread count from the two settings (nullopt = unset).
// A positive first setting wins; a first setting of 0 selects the default
// without looking at the second; an unset or unparsable first setting defers
// to the second, where 0 also means the default. The default calls
// `available` (0 = unknown, which gives 1); it is not called otherwise.
std::size_t resolve_thread_count(std::optional<std::string_view> threads_setting,
                                 std::optional<std::string_view> cpus_setting,
                                 std::size_t (*available)());

// CPUs in this thread's affinity mask (else the online processors), limited by
// the control-group quota of the process; 0 when it cannot be determined.
std::size_t available_parallelism();

// resolve_thread_count over the process environment and available_parallelism.
std::size_t thread_count_from_environment();

}  // namespace zembra::parallel
