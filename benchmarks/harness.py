"""Side-by-side timing: every contender runs in the same process, interleaved,
and results are reported as ratios against ours. Nothing here asserts a time."""

import platform
import statistics
import sys
import time

__all__ = ["Comparison", "compare", "machine_line"]


class Comparison:
    def __init__(self, name, ours, timings):
        self.name = name
        self.ours = ours
        self.timings = timings  # contender -> best seconds per call

    def ratios(self):
        base = self.timings[self.ours]
        return {k: v / base for k, v in self.timings.items() if k != self.ours}

    def report(self):
        lines = [f"{self.name}"]
        base = self.timings[self.ours]
        for k, v in self.timings.items():
            mark = "" if k == self.ours else f"  ({v / base:.2f}x ours)"
            lines.append(f"  {k:<40} {v * 1e6:12.2f} us/call{mark}")
        return "\n".join(lines)


def _time_once(fn, number):
    start = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - start) / number


def compare(name, contenders, ours, *, number=None, repeat=7, check=None):
    """Time each callable of ``contenders`` (name -> fn) interleaved.

    ``number`` calls per sample (chosen so a sample takes ~50 ms when None);
    the best of ``repeat`` samples is kept. ``check`` may compare outputs once.
    """
    if check is not None:
        check({k: fn() for k, fn in contenders.items()})
    if number is None:
        t = _time_once(contenders[ours], 1)
        number = max(1, int(0.05 / max(t, 1e-9)))
    samples = {k: [] for k in contenders}
    for _ in range(repeat):
        for k, fn in contenders.items():
            samples[k].append(_time_once(fn, number))
    timings = {k: min(v) for k, v in samples.items()}
    return Comparison(name, ours, timings)


def machine_line():
    import os
    return (f"{platform.machine()}, {os.cpu_count()} CPUs, Python {sys.version.split()[0]}, "
            f"{platform.platform()}")


def median(xs):
    return statistics.median(xs)
